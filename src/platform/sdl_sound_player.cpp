#include "platform/sdl_sound_player.h"

#include <SDL.h>
#include <dlfcn.h>

#include <memory>

#include "resources/embedded_sounds.h"

namespace lapora {

namespace {

std::mutex g_sdlAudioMutex;  // SDL's audio subsystem is process-wide
int g_sdlAudioUsers = 0;     // guarded by g_sdlAudioMutex

// The device format: every sound is converted to it once, so that switching sounds is only a
// queue swap and never reopens the device.
constexpr int kDeviceRate = 48000;
constexpr int kDeviceChannels = 2;
constexpr Uint16 kDeviceFormat = AUDIO_S16SYS;
constexpr Uint16 kDeviceSamples = 1024;  // about 21 ms at 48 kHz

struct AudioStreamDeleter {
  void operator()(SDL_AudioStream* stream) const { SDL_FreeAudioStream(stream); }
};

struct WavDeleter {
  void operator()(Uint8* buffer) const { SDL_FreeWAV(buffer); }
};

std::mutex g_noticeMutex;
NoAudioOutputNotice g_notice;  // guarded by g_noticeMutex
bool g_noticeGiven = false;    // guarded by g_noticeMutex

// Takes the place of ALSA's own error printer.
extern "C" void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// On a machine without a sound card, ALSA's library writes eight lines of configuration errors
// to stderr at every open, from inside SDL. SDL loads it at run time under its usual name;
// loading the same library first and handing it a silent error printer keeps the terminal
// clean, and the failure still reaches us through SDL's error text. Kept loaded for the life of
// the process, so that the printer stays in place across SDL's restarts.
void QuietAlsaLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (alsa == nullptr) {
      return;  // no ALSA: nothing to quiet
    }
    using ErrorPrinter = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetErrorPrinter = int (*)(ErrorPrinter);
    auto set = reinterpret_cast<SetErrorPrinter>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set != nullptr) {
      (void)set(&IgnoreAlsaError);
    }
  });
}

}  // namespace

void SetNoAudioOutputNotice(NoAudioOutputNotice notice) {
  std::lock_guard<std::mutex> lock(g_noticeMutex);
  g_notice = std::move(notice);
  g_noticeGiven = false;
}

void ReportNoAudioOutput(const std::string& reason) {
  std::lock_guard<std::mutex> lock(g_noticeMutex);
  if (g_noticeGiven || !g_notice) {
    return;
  }
  g_noticeGiven = true;
  g_notice(reason);
}

bool AcquireSdlAudio(std::string* error) {
  std::lock_guard<std::mutex> lock(g_sdlAudioMutex);
  QuietAlsaLibrary();
  if (g_sdlAudioUsers == 0) {
    // The program handles its own signals; SDL must not take SIGINT/SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Lapora");
    // ADPCM files are padded to whole blocks; the fact chunk holds the true length.
    SDL_SetHint(SDL_HINT_WAVE_FACT_CHUNK, "truncate");
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    if (error != nullptr) {
      *error = SDL_GetError();
    }
    if (g_sdlAudioUsers == 0) {
      SDL_Quit();
    }
    return false;
  }
  ++g_sdlAudioUsers;
  return true;
}

void ReleaseSdlAudio() {
  std::lock_guard<std::mutex> lock(g_sdlAudioMutex);
  if (g_sdlAudioUsers == 0) {
    return;
  }
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (--g_sdlAudioUsers == 0) {
    // Lets the next user start again with a fresh driver choice (SDL_AUDIODRIVER).
    SDL_Quit();
  }
}

CSdlSoundPlayer::CSdlSoundPlayer() : CSdlSoundPlayer(FindEmbeddedSound) {}

CSdlSoundPlayer::CSdlSoundPlayer(SoundLookup lookup) : m_lookup(std::move(lookup)) {}

CSdlSoundPlayer::~CSdlSoundPlayer() {
  std::lock_guard<std::mutex> lock(m_deviceMutex);
  CloseDeviceLocked();
}

bool CSdlSoundPlayer::PlaySoundResource(int soundId) {
  std::string openFailure;
  const bool played = StartSound(soundId, &openFailure);
  // Callers are often threads SDL did not start (box threads); SDL keeps its error text in
  // per-thread storage that it frees only on request, so free it before the thread goes.
  SDL_TLSCleanup();
  if (!openFailure.empty()) {
    ReportNoAudioOutput(openFailure);  // outside m_deviceMutex: the notice may log
  }
  return played;
}

bool CSdlSoundPlayer::StartSound(int soundId, std::string* openFailure) {
  std::lock_guard<std::mutex> lock(m_deviceMutex);
  const std::span<const std::uint8_t> file =
      m_lookup ? m_lookup(soundId) : std::span<const std::uint8_t>{};
  if (file.empty()) {
    m_lastError = "no sound " + std::to_string(soundId);
    return false;
  }
  if (!EnsureDeviceLocked(openFailure)) {
    return false;
  }
  const std::vector<std::uint8_t>* samples = DecodedSoundLocked(soundId, file);
  if (samples == nullptr) {
    return false;
  }
  // Replacing the queue (rather than appending) makes the last sound started win at once.
  SDL_ClearQueuedAudio(m_device);
  if (SDL_QueueAudio(m_device, samples->data(), static_cast<Uint32>(samples->size())) != 0) {
    m_lastError = std::string("cannot queue the sound: ") + SDL_GetError();
    return false;
  }
  m_lastError.clear();
  return true;
}

std::string CSdlSoundPlayer::LastError() const {
  std::lock_guard<std::mutex> lock(m_deviceMutex);
  return m_lastError;
}

std::uint32_t CSdlSoundPlayer::QueuedBytes() const {
  std::lock_guard<std::mutex> lock(m_deviceMutex);
  return m_device != 0 ? SDL_GetQueuedAudioSize(m_device) : 0;
}

std::size_t CSdlSoundPlayer::DecodedBytes(int soundId) const {
  std::lock_guard<std::mutex> lock(m_deviceMutex);
  const auto found = m_decoded.find(soundId);
  return found != m_decoded.end() ? found->second.size() : 0;
}

bool CSdlSoundPlayer::EnsureDeviceLocked(std::string* openFailure) {
  if (m_device != 0) {
    // A device unplugged while open stops for good: reopen (maybe another one).
    if (SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_STOPPED) {
      return true;
    }
    CloseDeviceLocked();
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextOpenAttempt) {
    return false;  // m_lastError still tells why the last attempt failed
  }
  m_nextOpenAttempt = now + kReopenDelay;

  std::string error;
  if (!AcquireSdlAudio(&error)) {
    m_lastError = "no audio output: " + error;
    *openFailure = m_lastError;
    return false;
  }
  m_audioAcquired = true;

  SDL_AudioSpec wanted{};
  wanted.freq = kDeviceRate;
  wanted.format = kDeviceFormat;
  wanted.channels = kDeviceChannels;
  wanted.samples = kDeviceSamples;
  wanted.callback = nullptr;  // queue mode: SDL_QueueAudio feeds the device
  SDL_AudioSpec obtained{};
  // No allowed changes: SDL converts to the hardware's format itself, so ours stays fixed.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (device == 0) {
    m_lastError = std::string("cannot open the audio device: ") + SDL_GetError();
    *openFailure = m_lastError;
    CloseDeviceLocked();
    return false;
  }
  m_device = device;
  if (m_deviceFormat != obtained.format || m_deviceChannels != obtained.channels ||
      m_deviceRate != obtained.freq) {
    m_decoded.clear();
  }
  m_deviceFormat = obtained.format;
  m_deviceChannels = obtained.channels;
  m_deviceRate = obtained.freq;
  SDL_PauseAudioDevice(m_device, 0);
  return true;
}

void CSdlSoundPlayer::CloseDeviceLocked() {
  if (m_device != 0) {
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
  }
  if (m_audioAcquired) {
    ReleaseSdlAudio();
    m_audioAcquired = false;
  }
}

const std::vector<std::uint8_t>* CSdlSoundPlayer::DecodedSoundLocked(
    int soundId, std::span<const std::uint8_t> file) {
  if (const auto found = m_decoded.find(soundId); found != m_decoded.end()) {
    return &found->second;
  }
  SDL_RWops* source = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
  if (source == nullptr) {
    m_lastError =
        std::string("cannot read sound ") + std::to_string(soundId) + ": " + SDL_GetError();
    return nullptr;
  }
  SDL_AudioSpec wavSpec{};
  Uint8* rawBuffer = nullptr;
  Uint32 rawLength = 0;
  if (SDL_LoadWAV_RW(source, 1, &wavSpec, &rawBuffer, &rawLength) == nullptr) {
    m_lastError =
        std::string("cannot decode sound ") + std::to_string(soundId) + ": " + SDL_GetError();
    return nullptr;
  }
  const std::unique_ptr<Uint8, WavDeleter> wav(rawBuffer);

  const std::unique_ptr<SDL_AudioStream, AudioStreamDeleter> stream(
      SDL_NewAudioStream(wavSpec.format, wavSpec.channels, wavSpec.freq, m_deviceFormat,
                         static_cast<Uint8>(m_deviceChannels), m_deviceRate));
  if (stream == nullptr ||
      SDL_AudioStreamPut(stream.get(), wav.get(), static_cast<int>(rawLength)) != 0 ||
      SDL_AudioStreamFlush(stream.get()) != 0) {
    m_lastError =
        std::string("cannot convert sound ") + std::to_string(soundId) + ": " + SDL_GetError();
    return nullptr;
  }
  std::vector<std::uint8_t> samples(
      static_cast<std::size_t>(SDL_AudioStreamAvailable(stream.get())));
  const int got =
      SDL_AudioStreamGet(stream.get(), samples.data(), static_cast<int>(samples.size()));
  if (got < 0) {
    m_lastError =
        std::string("cannot convert sound ") + std::to_string(soundId) + ": " + SDL_GetError();
    return nullptr;
  }
  samples.resize(static_cast<std::size_t>(got));
  return &m_decoded.emplace(soundId, std::move(samples)).first->second;
}

}  // namespace lapora

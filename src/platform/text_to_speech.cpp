#include "platform/text_to_speech.h"

#include <SDL.h>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <chrono>
#include <string>

#include "platform/sdl_sound_player.h"

namespace lapora {

namespace {

// espeak-ng keeps its state in the library: only one object may drive it at a time.
std::atomic<bool> g_espeakInUse{false};

constexpr int kSynthesisBufferMs = 100;

std::string StatusText(espeak_ng_STATUS status) {
  char buffer[512] = {};
  espeak_ng_GetStatusCodeMessage(status, buffer, sizeof(buffer));
  return buffer;
}

// espeak-ng is loaded once per process and never terminated: espeak_ng_Terminate (and a
// second espeak_ng_Initialize after it) can hang in espeak-ng's own thread handshake. Its idle
// thread ends with the process.
std::mutex g_espeakLoadMutex;
bool g_espeakLoaded = false;  // guarded by g_espeakLoadMutex
std::string g_espeakPath;     // guarded by g_espeakLoadMutex

bool LoadEspeak(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(g_espeakLoadMutex);
  if (g_espeakLoaded) {
    if (path != g_espeakPath) {
      *error = "speech data already loaded from another folder";
      return false;
    }
    return true;
  }
  espeak_ng_InitializePath(path.empty() ? nullptr : path.c_str());
  espeak_ng_ERROR_CONTEXT context = nullptr;
  espeak_ng_STATUS status = espeak_ng_Initialize(&context);
  if (status != ENS_OK) {
    *error = "no speech data: " + StatusText(status);
    espeak_ng_ClearErrorContext(&context);
    return false;
  }
  // Synchronous mode: espeak_Synth returns once the text is synthesised, handing the samples
  // to the callback on the calling thread (ours).
  status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, kSynthesisBufferMs, nullptr);
  if (status != ENS_OK) {
    *error = "speech output failed: " + StatusText(status);
    return false;
  }
  g_espeakLoaded = true;
  g_espeakPath = path;
  return true;
}

// What one espeak_Synth call carries to the callback.
struct SynthContext {
  CEspeakTextToSpeech* self;
  std::uint64_t generation;
};

}  // namespace

struct EspeakCallbacks {
  // Runs on the synthesis thread, inside espeak_Synth.
  static int OnSynthesized(short* samples, int count, espeak_EVENT* events) {
    if (events == nullptr || events->user_data == nullptr) {
      return 0;
    }
    const auto* context = static_cast<const SynthContext*>(events->user_data);
    if (samples == nullptr || count <= 0) {
      return context->self->m_generation.load() == context->generation ? 0 : 1;
    }
    return context->self->QueueSamples(samples, count, context->generation) ? 0 : 1;
  }
};

CEspeakTextToSpeech::CEspeakTextToSpeech(std::string_view voice, std::string_view dataPath) {
  if (g_espeakInUse.exchange(true)) {
    m_lastError = "another speech output is already running";
    return;
  }
  m_espeakStarted = true;

  if (!LoadEspeak(std::string(dataPath), &m_lastError)) {
    Release();
    return;
  }
  const std::string voiceName(voice);
  const espeak_ng_STATUS status = espeak_ng_SetVoiceByName(voiceName.c_str());
  if (status != ENS_OK) {
    m_lastError = "no voice \"" + voiceName + "\": " + StatusText(status);
    Release();
    return;
  }
  m_sampleRate = espeak_ng_GetSampleRate();
  espeak_SetSynthCallback(&EspeakCallbacks::OnSynthesized);

  std::string error;
  if (!AcquireSdlAudio(&error)) {
    m_lastError = "no audio output: " + error;
    ReportNoAudioOutput(m_lastError);
    Release();
    return;
  }
  m_audioAcquired = true;
  SDL_AudioSpec wanted{};
  wanted.freq = m_sampleRate;
  wanted.format = AUDIO_S16SYS;  // espeak-ng's samples are 16-bit mono
  wanted.channels = 1;
  wanted.samples = 1024;
  SDL_AudioSpec obtained{};
  m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (m_device == 0) {
    m_lastError = std::string("cannot open the audio device: ") + SDL_GetError();
    ReportNoAudioOutput(m_lastError);
    Release();
    return;
  }
  SDL_PauseAudioDevice(m_device, 0);
  m_synthesisThread = std::thread([this] { SynthesisLoop(); });
  m_ready = true;
}

CEspeakTextToSpeech::~CEspeakTextToSpeech() {
  Release();
}

void CEspeakTextToSpeech::Release() {
  m_ready = false;
  if (m_synthesisThread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(m_jobsMutex);
      m_stopping = true;
      m_jobs.clear();
    }
    m_generation.fetch_add(1);  // aborts the text being synthesised
    m_jobsChanged.notify_all();
    m_synthesisThread.join();
  }
  if (m_device != 0) {
    SDL_CloseAudioDevice(m_device);
    m_device = 0;
  }
  if (m_audioAcquired) {
    ReleaseSdlAudio();
    m_audioAcquired = false;
  }
  if (m_espeakStarted) {
    m_espeakStarted = false;
    g_espeakInUse.store(false);
  }
}

void CEspeakTextToSpeech::SynthesisLoop() {
  std::unique_lock<std::mutex> lock(m_jobsMutex);
  for (;;) {
    m_jobsChanged.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
    if (m_stopping) {
      return;
    }
    Job job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_synthesizing = true;
    lock.unlock();
    if (job.generation == m_generation.load()) {
      SynthContext context{this, job.generation};
      // EE_INTERNAL_ERROR here only loses this text; nothing is reported, as with any voice.
      (void)espeak_Synth(job.utf8.c_str(), job.utf8.size() + 1, 0, POS_CHARACTER, 0,
                         espeakCHARS_UTF8, nullptr, &context);
    }
    lock.lock();
    m_synthesizing = false;
    m_jobsChanged.notify_all();
  }
}

bool CEspeakTextToSpeech::QueueSamples(const short* samples, int count, std::uint64_t generation) {
  std::lock_guard<std::mutex> lock(m_outputMutex);
  if (m_generation.load() != generation) {
    return false;  // cancelled: drop the block and stop synthesising this text
  }
  m_samples.fetch_add(static_cast<std::uint64_t>(count));
  // SDL locks the device itself; a failure only loses this block of speech.
  (void)SDL_QueueAudio(m_device, samples, static_cast<Uint32>(count) * sizeof(short));
  return true;
}

bool CEspeakTextToSpeech::Speak(std::string_view utf8, bool purge) {
  if (!m_ready) {
    return false;
  }
  if (purge) {
    Cancel();
  }
  if (utf8.empty()) {
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(m_jobsMutex);
    if (m_jobs.size() >= kMaxQueuedTexts) {
      m_lastError = "speech queue full";
      return false;
    }
    m_jobs.push_back({std::string(utf8), m_generation.load()});
  }
  m_jobsChanged.notify_all();
  m_lastError.clear();
  return true;
}

void CEspeakTextToSpeech::Cancel() {
  if (!m_ready) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_jobsMutex);
    m_jobs.clear();
  }
  std::lock_guard<std::mutex> lock(m_outputMutex);
  m_generation.fetch_add(1);
  SDL_ClearQueuedAudio(m_device);
}

void CEspeakTextToSpeech::WaitUntilDone() {
  if (!m_ready) {
    return;
  }
  {
    std::unique_lock<std::mutex> lock(m_jobsMutex);
    m_jobsChanged.wait(lock, [this] { return m_jobs.empty() && !m_synthesizing; });
  }
  // Then let the device play what is queued; bounded, in case the device stalls.
  const Uint32 queued = SDL_GetQueuedAudioSize(m_device);
  const long long playMs =
      static_cast<long long>(queued) * 1000 / (static_cast<long long>(m_sampleRate) * 2);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(playMs + 2000);
  while (SDL_GetQueuedAudioSize(m_device) > 0 && std::chrono::steady_clock::now() < deadline) {
    SDL_Delay(10);
  }
}

}  // namespace lapora

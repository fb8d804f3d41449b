// Plays the embedded sounds through SDL2's audio output, from memory, asynchronously.
// Thread-safe: any thread may call PlaySoundResource; one mutex guards the device and the
// decoded sounds. No audio device (a headless machine) is a normal case: plays return false,
// and the notice below says so once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "foundation/sound.h"

namespace lapora {

// SDL's audio subsystem is one per process; both the sound player and the speech output use
// it. These count its users under one lock, since SDL's start and stop are not thread-safe.
// Acquire is false (with SDL's reason in *error) when no audio driver can start.
// Acquire also quiets the ALSA library, which would otherwise print its own errors on stderr
// at every failed open.
[[nodiscard]] bool AcquireSdlAudio(std::string* error);
void ReleaseSdlAudio();

// What the program does when no audio output can be had: told once, with the reason, the first
// time the sound player or the speech output fails to open one after the notice was set
// (setting it again re-arms it). Called on the thread that failed, with no lock of theirs held.
using NoAudioOutputNotice = std::function<void(const std::string& reason)>;
void SetNoAudioOutputNotice(NoAudioOutputNotice notice);
// The sound player and the speech output report each failed open here.
void ReportNoAudioOutput(const std::string& reason);

// Where the player finds the bytes (a complete RIFF WAVE file) of a sound; empty = unknown.
using SoundLookup = std::function<std::span<const std::uint8_t>(int soundId)>;

class CSdlSoundPlayer final : public SoundPlayer {
 public:
  // After a failed device open, plays return false at once for this long before retrying,
  // so that a machine without sound costs nothing per detection.
  static constexpr std::chrono::seconds kReopenDelay{5};

  // Defaults to the sounds compiled into the program.
  CSdlSoundPlayer();
  explicit CSdlSoundPlayer(SoundLookup lookup);
  ~CSdlSoundPlayer() override;
  CSdlSoundPlayer(const CSdlSoundPlayer&) = delete;
  CSdlSoundPlayer& operator=(const CSdlSoundPlayer&) = delete;

  // Opens the audio device on first use; stops whatever plays and starts this sound.
  bool PlaySoundResource(int soundId) override;

  // Why the last play failed (empty after a success); for a log line or a test.
  std::string LastError() const;
  // Bytes of audio still waiting for the device; 0 when no device is open.
  std::uint32_t QueuedBytes() const;
  // Size of a sound once converted to the device's format; 0 when not decoded yet.
  std::size_t DecodedBytes(int soundId) const;

 private:
  // Takes m_deviceMutex itself; *openFailure gets the reason when a device open just failed.
  bool StartSound(int soundId, std::string* openFailure);
  // REQUIRES: m_deviceMutex is held.
  bool EnsureDeviceLocked(std::string* openFailure);
  void CloseDeviceLocked();
  const std::vector<std::uint8_t>* DecodedSoundLocked(int soundId, std::span<const std::uint8_t>);

  SoundLookup m_lookup;
  mutable std::mutex m_deviceMutex;
  bool m_audioAcquired = false;
  std::uint32_t m_device = 0;  // SDL_AudioDeviceID; 0 when closed
  std::uint16_t m_deviceFormat = 0;
  int m_deviceChannels = 0;
  int m_deviceRate = 0;
  std::chrono::steady_clock::time_point m_nextOpenAttempt{};
  std::map<int, std::vector<std::uint8_t>> m_decoded;  // in the device's format
  std::string m_lastError;
};

}  // namespace lapora

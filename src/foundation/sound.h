// What the acquisition asks of the sound output: play one of the embedded sounds. The real
// player lives in the platform layer; any thread may call it.
#pragma once

namespace lapora {

// Numbers of the embedded sounds.
enum SoundId : int {
  kSoundDetection = 133,
  kSoundExit = 135,
  kSoundBoxConnected = 165,
};

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Asynchronous; a new sound replaces the playing one. False when the sound is unknown or
  // no audio device exists (a normal case on a headless machine).
  virtual bool PlaySoundResource(int soundId) = 0;
};

}  // namespace lapora

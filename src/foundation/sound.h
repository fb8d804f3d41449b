// What the acquisition asks of the sound output: play one of the embedded sounds. The real
// player lives in the platform layer (CSdlSoundPlayer); any thread may call it.
#pragma once

namespace lapora {

// Numbers of the embedded sounds (resources/sounds/<number>.wav).
enum SoundId : int {
  kSoundLinkLost = 129,      // the direct connection to the results software is lost
  kSoundConnected = 132,     // the direct connection is established; the boxes are connecting
  kSoundDetection = 133,     // each kept or manually inserted detection (beep option)
  kSoundDone = 134,          // an operation is done: export, list cleared, import finished...
  kSoundExit = 135,          // the program is about to exit (exit beep option)
  kSoundWarning = 140,       // a warning balloon; an import purged detections
  kSoundBoxError = 163,      // a box connection or keep-alive error
  kSoundBoxConnected = 165,  // a box connection succeeded
};

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Asynchronous; a new sound replaces the playing one. False when the sound is unknown or
  // no audio device exists (a normal case on a headless machine).
  virtual bool PlaySoundResource(int soundId) = 0;
};

}  // namespace lapora

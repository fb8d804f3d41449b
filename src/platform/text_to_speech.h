// Text-to-speech output: the TextToSpeech interface that the speech engine talks to, and its
// espeak-ng implementation, which synthesises on its own thread and plays the samples through
// SDL's audio output. The interface is used from the main thread only; one espeak-ng object
// may exist per process at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace lapora {

class TextToSpeech {
 public:
  virtual ~TextToSpeech() = default;
  // Starts speaking UTF-8 text without waiting; it follows what is still being spoken, or
  // replaces it when purge is set (an empty text with purge only silences). False when the
  // voice refused the text.
  virtual bool Speak(std::string_view utf8, bool purge) = 0;
  // Stops speaking at once and drops everything queued.
  virtual void Cancel() = 0;
  // Waits until everything queued has been spoken (for synchronous speaking).
  virtual void WaitUntilDone() = 0;
};

// espeak-ng feeding an SDL audio device. Synthesis runs on this object's own thread, with
// espeak-ng in its synchronous mode: espeak-ng's asynchronous mode can hang in its stop and
// terminate calls, and a hung main thread would stop the whole acquisition. espeak-ng itself
// stays loaded until the process ends (see text_to_speech.cpp).
class CEspeakTextToSpeech final : public TextToSpeech {
 public:
  // voice: an espeak-ng voice or language name ("fr", "en"); dataPath: the folder holding
  // espeak-ng-data, empty for the installed one. On failure (no voice data, no audio output,
  // another instance alive) the object exists but IsReady() is false and Speak refuses.
  explicit CEspeakTextToSpeech(std::string_view voice, std::string_view dataPath = {});
  ~CEspeakTextToSpeech() override;
  CEspeakTextToSpeech(const CEspeakTextToSpeech&) = delete;
  CEspeakTextToSpeech& operator=(const CEspeakTextToSpeech&) = delete;

  bool IsReady() const { return m_ready; }
  // Why the voice is not ready or why the last Speak failed; empty when neither.
  const std::string& LastError() const { return m_lastError; }

  bool Speak(std::string_view utf8, bool purge) override;
  void Cancel() override;
  void WaitUntilDone() override;

  // Samples synthesised since the start (tests see that speech really happens).
  std::uint64_t SynthesizedSamples() const { return m_samples.load(); }

  // Texts waiting beyond this many are refused (a voice far behind the race is no use).
  static constexpr std::size_t kMaxQueuedTexts = 50;

 private:
  friend struct EspeakCallbacks;
  struct Job {
    std::string utf8;
    std::uint64_t generation;
  };
  void SynthesisLoop();
  // Called on the synthesis thread with each block of samples; false aborts the text.
  bool QueueSamples(const short* samples, int count, std::uint64_t generation);
  void Release();

  bool m_ready = false;          // main thread only
  bool m_espeakStarted = false;  // this object holds espeak-ng
  bool m_audioAcquired = false;
  std::uint32_t m_device = 0;  // SDL_AudioDeviceID; set before the thread starts
  int m_sampleRate = 0;
  std::string m_lastError;  // main thread only

  std::thread m_synthesisThread;
  std::mutex m_jobsMutex;
  std::condition_variable m_jobsChanged;
  std::deque<Job> m_jobs;       // guarded by m_jobsMutex
  bool m_synthesizing = false;  // guarded by m_jobsMutex
  bool m_stopping = false;      // guarded by m_jobsMutex
  // Cancel bumps it; samples of an older generation are dropped and their text aborted.
  std::atomic<std::uint64_t> m_generation{0};
  // Held while a block is queued to the device and while Cancel clears it, so that no block
  // of a cancelled text slips in after the clear.
  std::mutex m_outputMutex;
  std::atomic<std::uint64_t> m_samples{0};
};

}  // namespace lapora

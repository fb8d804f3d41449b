// The speech engine: speaks runner names and short phrases through a text-to-speech voice,
// and remembers the last name spoken so that a runner is announced once. Main thread only.
// Texts come in as Windows-1252 and go to the voice as UTF-8.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text_to_speech.h"

namespace lapora {

// Flags of CSpeechEngine::Speak; they combine (3 = asynchronous after purging).
enum SpeakFlags : int {
  kSpeakSync = 0,
  kSpeakAsync = 1,
  kSpeakPurgeBeforeSpeak = 2,
  kSpeakIsFileName = 4,  // the text names a file whose content is spoken
};

class CSpeechEngine {
 public:
  // Content read from a file (kSpeakIsFileName) stops at this size.
  static constexpr std::size_t kMaxFileText = 64 * 1024;

  // voice may be null (no text-to-speech available): every Speak then returns -1.
  explicit CSpeechEngine(std::unique_ptr<TextToSpeech> voice);
  ~CSpeechEngine();
  CSpeechEngine(const CSpeechEngine&) = delete;
  CSpeechEngine& operator=(const CSpeechEngine&) = delete;

  bool HasVoice() const { return m_voice != nullptr; }

  // Speaks the text; flags outside 1..7 count as 0 (synchronous: returns once spoken).
  // Returns the number of this request (1, 2, ...), or -1 when there is no voice or the voice
  // failed (silently: nothing is reported).
  int Speak(std::string_view text, int flags);
  // Speak(text, asynchronous) when the text is not empty; otherwise silences the voice
  // (Speak of an empty text with purge).
  int SayText(std::string_view text);

  // Announces a credited runner: first name, two blanks, last name, trimmed of blanks; spoken
  // with SayText unless empty or equal to the last name spoken, and in every case it becomes
  // the last name spoken. The caller checks first that Scroll Lock is still on.
  void SayRunnerName(std::string_view firstName, std::string_view lastName);
  // The next runner name is spoken even when it repeats the last one (a list was cleared).
  void ForgetLastName() { m_lastName.clear(); }
  const std::string& LastNameSpoken() const { return m_lastName; }

 private:
  std::unique_ptr<TextToSpeech> m_voice;
  std::string m_lastName;  // Windows-1252
  int m_requestCount = 0;
};

}  // namespace lapora

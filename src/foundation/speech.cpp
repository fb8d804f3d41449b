#include "foundation/speech.h"

#include <fstream>

#include "foundation/text.h"

namespace lapora {

namespace {

bool ReadFileText(const std::string& path, std::size_t maxBytes, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  std::string content(maxBytes, '\0');
  file.read(content.data(), static_cast<std::streamsize>(maxBytes));
  if (file.bad()) {
    return false;
  }
  content.resize(static_cast<std::size_t>(file.gcount()));
  *text = std::move(content);
  return true;
}

}  // namespace

CSpeechEngine::CSpeechEngine(std::unique_ptr<TextToSpeech> voice) : m_voice(std::move(voice)) {}

CSpeechEngine::~CSpeechEngine() {
  if (m_voice != nullptr) {
    m_voice->Cancel();  // nothing goes on speaking once the engine is gone
  }
}

int CSpeechEngine::Speak(std::string_view text, int flags) {
  if (m_voice == nullptr) {
    return -1;
  }
  if (flags < 1 || flags > 7) {
    flags = kSpeakSync;
  }
  std::string cp1252(text);
  if ((flags & kSpeakIsFileName) != 0 && !ReadFileText(cp1252, kMaxFileText, &cp1252)) {
    return -1;
  }
  const bool purge = (flags & kSpeakPurgeBeforeSpeak) != 0;
  if (!m_voice->Speak(Cp1252ToUtf8(cp1252), purge)) {
    return -1;
  }
  if ((flags & kSpeakAsync) == 0) {
    m_voice->WaitUntilDone();
  }
  return ++m_requestCount;
}

int CSpeechEngine::SayText(std::string_view text) {
  if (!text.empty()) {
    return Speak(text, kSpeakAsync);
  }
  return Speak({}, kSpeakAsync | kSpeakPurgeBeforeSpeak);
}

void CSpeechEngine::SayRunnerName(std::string_view firstName, std::string_view lastName) {
  std::string name(firstName);
  name += "  ";
  name += lastName;
  const std::string trimmed(TrimBlanks(name));
  if (!trimmed.empty() && trimmed != m_lastName) {
    SayText(trimmed);
  }
  m_lastName = trimmed;
}

}  // namespace lapora

// The speech engine's rules: flags, the empty-text silence, the runner-name memory, the
// Windows-1252 to UTF-8 hand-over. The voice here records what it is asked (the rules are
// pure logic); the last test speaks through the real espeak-ng voice when it is installed.
#include "foundation/speech.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace lapora {
namespace {

struct Request {
  std::string utf8;
  bool purge;
  bool operator==(const Request&) const = default;
};

class RecordingVoice final : public TextToSpeech {
 public:
  bool Speak(std::string_view utf8, bool purge) override {
    requests.push_back({std::string(utf8), purge});
    return !fail;
  }
  void Cancel() override {
    ++cancels;
    if (cancelCount) {
      ++*cancelCount;
    }
  }
  void WaitUntilDone() override { ++waits; }

  std::vector<Request> requests;
  int cancels = 0;
  int waits = 0;
  bool fail = false;
  std::shared_ptr<int> cancelCount;  // outlives the voice when an engine owns it
};

class SpeechTest : public ::testing::Test {
 protected:
  SpeechTest() {
    auto voice = std::make_unique<RecordingVoice>();
    m_voice = voice.get();
    m_engine = std::make_unique<CSpeechEngine>(std::move(voice));
  }
  RecordingVoice* m_voice;
  std::unique_ptr<CSpeechEngine> m_engine;
};

TEST_F(SpeechTest, FlagsChoosePurgeAndWaiting) {
  struct Case {
    int flags;
    bool purge;
    bool waits;
  };
  const Case cases[] = {{1, false, false}, {3, true, false},  {2, true, true},   {0, false, true},
                        {8, false, true},  {-1, false, true}, {11, false, true}, {5, false, false}};
  int expectedNumber = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    m_voice->requests.clear();
    m_voice->waits = 0;
    // Flag 4 reads a file: give it one (its content is the text).
    testing::TempDir dir;
    std::string text = "hello";
    if ((c.flags & kSpeakIsFileName) != 0 && c.flags >= 1 && c.flags <= 7) {
      std::ofstream(dir.File("t.txt")) << "hello";
      text = dir.File("t.txt");
    }
    EXPECT_EQ(m_engine->Speak(text, c.flags), ++expectedNumber);
    ASSERT_EQ(m_voice->requests.size(), 1u);
    EXPECT_EQ(m_voice->requests[0], (Request{"hello", c.purge}));
    EXPECT_EQ(m_voice->waits, c.waits ? 1 : 0);
  }
}

TEST_F(SpeechTest, SayTextSpeaksOrSilences) {
  EXPECT_EQ(m_engine->SayText("Bravo"), 1);
  EXPECT_EQ(m_engine->SayText(""), 2);
  EXPECT_EQ(m_voice->requests, (std::vector<Request>{{"Bravo", false}, {"", true}}));
  EXPECT_EQ(m_voice->waits, 0);
}

TEST_F(SpeechTest, TextsReachTheVoiceAsUtf8) {
  m_engine->SayText(
      "Ren\xe9"
      "e  Lef\xe8vre \x80");
  ASSERT_EQ(m_voice->requests.size(), 1u);
  EXPECT_EQ(m_voice->requests[0].utf8,
            "Ren\xc3\xa9"
            "e  Lef\xc3\xa8vre \xe2\x82\xac");
}

TEST_F(SpeechTest, NoVoiceOrAFailingVoiceGivesMinusOne) {
  CSpeechEngine silent(nullptr);
  EXPECT_FALSE(silent.HasVoice());
  EXPECT_EQ(silent.Speak("hello", 1), -1);
  EXPECT_EQ(silent.SayText(""), -1);
  silent.SayRunnerName("Anne", "Martin");  // no crash, nothing to speak with
  EXPECT_EQ(silent.LastNameSpoken(), "Anne  Martin");

  m_voice->fail = true;
  EXPECT_EQ(m_engine->Speak("hello", 1), -1);
  m_voice->fail = false;
  EXPECT_EQ(m_engine->Speak("hello", 1), 1);
  EXPECT_EQ(m_engine->Speak("/no/such/file.txt", kSpeakIsFileName | kSpeakAsync), -1);
}

TEST_F(SpeechTest, RunnerNameIsSpokenOncePerRunner) {
  m_engine->SayRunnerName("  Anne", "Martin  ");
  m_engine->SayRunnerName("Anne", "Martin");  // same runner again: silent
  EXPECT_EQ(m_engine->LastNameSpoken(), "Anne  Martin");
  m_engine->SayRunnerName("", "Zola");        // no first name: trimmed to the last name
  m_engine->SayRunnerName("Anne", "Martin");  // not the last one any more: spoken
  EXPECT_EQ(
      m_voice->requests,
      (std::vector<Request>{{"Anne  Martin", false}, {"Zola", false}, {"Anne  Martin", false}}));
}

TEST_F(SpeechTest, EmptyNameIsSilentButBreaksTheRepeat) {
  m_engine->SayRunnerName("Anne", "Martin");
  m_engine->SayRunnerName(" ", "");
  EXPECT_EQ(m_engine->LastNameSpoken(), "");
  m_engine->SayRunnerName("Anne", "Martin");
  EXPECT_EQ(m_voice->requests.size(), 2u);  // the empty one spoke nothing, not even silence
}

TEST_F(SpeechTest, ForgettingTheLastNameSpeaksItAgain) {
  m_engine->SayRunnerName("Anne", "Martin");
  m_engine->ForgetLastName();
  EXPECT_EQ(m_engine->LastNameSpoken(), "");
  m_engine->SayRunnerName("Anne", "Martin");
  EXPECT_EQ(m_voice->requests.size(), 2u);
}

TEST(SpeechEngineLifetimeTest, DestroyingTheEngineSilencesItsVoice) {
  auto cancels = std::make_shared<int>(0);
  auto voice = std::make_unique<RecordingVoice>();
  voice->cancelCount = cancels;
  {
    CSpeechEngine engine(std::move(voice));
    engine.SayText("a long announcement");
    EXPECT_EQ(*cancels, 0);
  }
  EXPECT_EQ(*cancels, 1);
}

TEST(SpeechWithEspeakTest, SpeaksARunnerNameWithTheRealVoice) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto voice = std::make_unique<CEspeakTextToSpeech>("fr");
  if (!voice->IsReady()) {
    unsetenv("SDL_AUDIODRIVER");
    GTEST_SKIP() << "no espeak-ng voice here: " << voice->LastError();
  }
  CEspeakTextToSpeech* espeak = voice.get();
  CSpeechEngine engine(std::move(voice));
  engine.SayRunnerName(
      "Ren\xe9"
      "e",
      "Lef\xe8vre");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (espeak->SynthesizedSamples() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(espeak->SynthesizedSamples(), 0u);
  EXPECT_EQ(engine.SayText(""), 2);              // silences what is still being said
  EXPECT_EQ(engine.Speak("un", kSpeakSync), 3);  // returns once spoken
  unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
}  // namespace lapora

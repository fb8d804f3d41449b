// The espeak-ng voice: real synthesis on SDL's dummy audio driver when the voice data is
// installed, and the failures a timing PC may meet (no data, no audio output).
#include "platform/text_to_speech.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace lapora {
namespace {

template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class TextToSpeechTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
  void TearDown() override { unsetenv("SDL_AUDIODRIVER"); }
};

TEST_F(TextToSpeechTest, SpeaksCancelsAndSpeaksAgain) {
  CEspeakTextToSpeech voice("fr");
  if (!voice.IsReady()) {
    GTEST_SKIP() << "no espeak-ng voice here: " << voice.LastError();
  }
  ASSERT_TRUE(voice.Speak("Bonjour, c'est parti", false)) << voice.LastError();
  EXPECT_TRUE(WaitFor([&] { return voice.SynthesizedSamples() > 0; }));
  voice.Cancel();
  // Purge with an empty text only silences; a purge with text speaks the new one.
  EXPECT_TRUE(voice.Speak("", true));
  const auto before = voice.SynthesizedSamples();
  ASSERT_TRUE(voice.Speak("Z\xc3\xa9lie  Dupr\xc3\xa9", true)) << voice.LastError();
  EXPECT_TRUE(WaitFor([&] { return voice.SynthesizedSamples() > before; }));
  voice.WaitUntilDone();
}

TEST_F(TextToSpeechTest, OnlyOneVoiceAtATime) {
  CEspeakTextToSpeech first("en");
  if (!first.IsReady()) {
    GTEST_SKIP() << "no espeak-ng voice here: " << first.LastError();
  }
  CEspeakTextToSpeech second("en");
  EXPECT_FALSE(second.IsReady());
  EXPECT_FALSE(second.Speak("hello", false));
  EXPECT_TRUE(first.Speak("hello", false)) << first.LastError();
}

TEST_F(TextToSpeechTest, MissingVoiceDataIsRefusedQuietly) {
  // espeak-ng loads its data once per process: check a machine without data in a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        testing::TempDir empty;
        CEspeakTextToSpeech voice("fr", empty.path());
        const bool quiet =
            !voice.IsReady() && !voice.LastError().empty() && !voice.Speak("bonjour", false);
        voice.Cancel();
        voice.WaitUntilDone();
        std::exit(quiet ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(TextToSpeechTest, UnknownVoiceIsRefusedAndReleasesTheEngine) {
  {
    CEspeakTextToSpeech unknown("no-such-voice-xx");
    EXPECT_FALSE(unknown.IsReady());
    EXPECT_FALSE(unknown.Speak("hello", false));
  }
  CEspeakTextToSpeech good("en");
  if (!good.IsReady()) {
    GTEST_SKIP() << "no espeak-ng voice here: " << good.LastError();
  }
  EXPECT_TRUE(good.Speak("ok", false)) << good.LastError();
  good.WaitUntilDone();
  EXPECT_GT(good.SynthesizedSamples(), 0u);
}

TEST_F(TextToSpeechTest, CancelStopsALongText) {
  CEspeakTextToSpeech voice("en");
  if (!voice.IsReady()) {
    GTEST_SKIP() << "no espeak-ng voice here: " << voice.LastError();
  }
  std::string longText;
  for (int i = 0; i < 200; ++i) {
    longText += "This is a long announcement that nobody wants to hear to the end. ";
  }
  ASSERT_TRUE(voice.Speak(longText, false));
  ASSERT_TRUE(voice.Speak(longText, false));
  EXPECT_TRUE(WaitFor([&] { return voice.SynthesizedSamples() > 0; }));
  voice.Cancel();
  // Both texts are dropped: waiting returns without speaking them to the end.
  voice.WaitUntilDone();
  const auto afterCancel = voice.SynthesizedSamples();
  ASSERT_TRUE(voice.Speak("done", false));
  voice.WaitUntilDone();
  EXPECT_GT(voice.SynthesizedSamples(), afterCancel);
  // Far less than two long texts: about 14000 words would be minutes of speech.
  EXPECT_LT(voice.SynthesizedSamples(), 22050u * 120);
}

TEST_F(TextToSpeechTest, NoAudioOutputIsRefusedQuietly) {
  setenv("SDL_AUDIODRIVER", "nonexistent", 1);
  CEspeakTextToSpeech voice("en");
  EXPECT_FALSE(voice.IsReady());
  EXPECT_FALSE(voice.Speak("hello", false));
}

}  // namespace
}  // namespace lapora

// The SDL sound player on SDL's dummy and disk drivers (no sound card needed), and on a driver
// that does not exist (a machine without audio output).
#include "platform/sdl_sound_player.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/text_to_speech.h"
#include "resources/embedded_sounds.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

constexpr int kAllSounds[] = {kSoundLinkLost, kSoundConnected, kSoundDetection, kSoundDone,
                              kSoundExit,     kSoundWarning,   kSoundBoxError,  kSoundBoxConnected};

// SDL reads the driver choice each time its audio subsystem starts, which happens when the
// first player of the process opens its device.
class SdlSoundPlayerTest : public ::testing::Test {
 protected:
  void UseDriver(const char* driver) { setenv("SDL_AUDIODRIVER", driver, 1); }
  void TearDown() override { unsetenv("SDL_AUDIODRIVER"); }
};

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(SdlSoundPlayerTest, PlaysEveryEmbeddedSoundAndRefusesUnknownNumbers) {
  UseDriver("dummy");
  CSdlSoundPlayer player;
  for (int id : kAllSounds) {
    EXPECT_TRUE(player.PlaySoundResource(id)) << id << ": " << player.LastError();
    EXPECT_GT(player.DecodedBytes(id), 0u) << id;
  }
  EXPECT_FALSE(player.PlaySoundResource(136));
  EXPECT_NE(player.LastError().find("136"), std::string::npos);
  EXPECT_FALSE(player.PlaySoundResource(0));
  // A refused number leaves the player working.
  EXPECT_TRUE(player.PlaySoundResource(kSoundDetection)) << player.LastError();
}

TEST_F(SdlSoundPlayerTest, NewSoundReplacesThePlayingOne) {
  UseDriver("dummy");
  CSdlSoundPlayer player;
  ASSERT_TRUE(player.PlaySoundResource(kSoundBoxError)) << player.LastError();
  // The 5.8 s alarm is far longer than the beep: if it were not dropped, the queue would hold
  // its rest plus the beep.
  ASSERT_TRUE(player.PlaySoundResource(kSoundDetection)) << player.LastError();
  EXPECT_LE(player.QueuedBytes(), player.DecodedBytes(kSoundDetection));
  // Two beeps a few milliseconds apart: the second restarts it rather than queueing behind.
  ASSERT_TRUE(player.PlaySoundResource(kSoundDetection));
  EXPECT_LE(player.QueuedBytes(), player.DecodedBytes(kSoundDetection));
  // And the device really plays: the queue drains.
  EXPECT_TRUE(WaitFor([&] { return player.QueuedBytes() == 0; }));
}

// No audio output: plays fail quietly, and the program is told once, whichever of the sound
// player and the voice finds out first, not at every sound.
TEST_F(SdlSoundPlayerTest, NoAudioOutputMeansFalseNotAFailureAndIsToldOnce) {
  UseDriver("nonexistent");
  std::vector<std::string> told;
  SetNoAudioOutputNotice([&told](const std::string& reason) { told.push_back(reason); });
  {
    CSdlSoundPlayer player;
    EXPECT_FALSE(player.PlaySoundResource(kSoundDetection));
    EXPECT_FALSE(player.LastError().empty());
    ASSERT_EQ(told, std::vector<std::string>{player.LastError()});
    // The next plays within the retry delay give up at once, without touching SDL again.
    EXPECT_FALSE(player.PlaySoundResource(kSoundBoxConnected));
    EXPECT_EQ(player.QueuedBytes(), 0u);
    EXPECT_FALSE(player.PlaySoundResource(999));
    CEspeakTextToSpeech voice("en");
    EXPECT_FALSE(voice.IsReady());
    EXPECT_NE(voice.LastError().find("audio"), std::string::npos) << voice.LastError();
    EXPECT_EQ(told.size(), 1u);
  }
  // Set again, the notice is given again at the next failure.
  SetNoAudioOutputNotice([&told](const std::string& reason) { told.push_back(reason); });
  CSdlSoundPlayer later;
  EXPECT_FALSE(later.PlaySoundResource(kSoundDone));
  EXPECT_EQ(told.size(), 2u);
  SetNoAudioOutputNotice(nullptr);
}

TEST_F(SdlSoundPlayerTest, DiskDriverReceivesTheSamples) {
  testing::TempDir dir;
  const std::string output = dir.File("audio.raw");
  UseDriver("disk");
  setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
  {
    CSdlSoundPlayer player;
    ASSERT_TRUE(player.PlaySoundResource(kSoundDetection)) << player.LastError();
    const std::size_t beepBytes = player.DecodedBytes(kSoundDetection);
    EXPECT_TRUE(WaitFor([&] {
      std::error_code error;
      const auto size = std::filesystem::file_size(output, error);
      return !error && size >= beepBytes;
    }));
  }
  unsetenv("SDL_DISKAUDIOFILE");
}

TEST_F(SdlSoundPlayerTest, UndecodableSoundIsRefused) {
  UseDriver("dummy");
  static const std::uint8_t kBroken[] = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
  CSdlSoundPlayer player([](int id) -> std::span<const std::uint8_t> {
    if (id == 1) {
      return kBroken;
    }
    return FindEmbeddedSound(id);
  });
  EXPECT_FALSE(player.PlaySoundResource(1));
  EXPECT_NE(player.LastError().find("decode"), std::string::npos) << player.LastError();
  EXPECT_TRUE(player.PlaySoundResource(kSoundDone)) << player.LastError();
}

TEST_F(SdlSoundPlayerTest, OtherAudioUsersComeAndGoWithoutStoppingThePlayer) {
  UseDriver("dummy");
  CSdlSoundPlayer player;
  ASSERT_TRUE(player.PlaySoundResource(kSoundDone)) << player.LastError();
  // The speech output starts and stops SDL's audio too; its stop must not stop ours.
  std::string error;
  ASSERT_TRUE(AcquireSdlAudio(&error)) << error;
  ReleaseSdlAudio();
  EXPECT_TRUE(player.PlaySoundResource(kSoundWarning)) << player.LastError();
  EXPECT_TRUE(WaitFor([&] { return player.QueuedBytes() == 0; }));
}

TEST_F(SdlSoundPlayerTest, APlayerAfterAnotherOpensTheDeviceAgain) {
  UseDriver("dummy");
  {
    CSdlSoundPlayer first;
    ASSERT_TRUE(first.PlaySoundResource(kSoundExit)) << first.LastError();
  }
  CSdlSoundPlayer second;
  EXPECT_TRUE(second.PlaySoundResource(kSoundExit)) << second.LastError();
}

TEST_F(SdlSoundPlayerTest, PlaysFromManyThreadsAtOnce) {
  UseDriver("dummy");
  CSdlSoundPlayer player;
  constexpr int kThreads = 4;
  constexpr int kPlaysEach = 40;
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPlaysEach; ++i) {
        const int id = kAllSounds[(t * kPlaysEach + i) % std::size(kAllSounds)];
        if (player.PlaySoundResource(id)) {
          succeeded.fetch_add(1);
        }
        (void)player.QueuedBytes();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(succeeded.load(), kThreads * kPlaysEach);
  // Whatever was started last is what is queued: never more than the longest sound.
  EXPECT_LE(player.QueuedBytes(), player.DecodedBytes(kSoundBoxError));
}

}  // namespace
}  // namespace lapora

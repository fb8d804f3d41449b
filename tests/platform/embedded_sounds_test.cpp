// The embedded sounds: each one is a valid WAVE file in the exact format and length that the
// program's sound table promises, checked once by our own RIFF reading and once by SDL's
// decoder (the one that plays them).
#include "resources/embedded_sounds.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "foundation/sound.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

struct SoundFormat {
  int id;
  int formatTag;  // 1 PCM, 0x11 IMA ADPCM
  int channels;
  int rate;
  int bits;
  double seconds;
};

constexpr SoundFormat kTable[] = {
    {kSoundLinkLost, 1, 1, 11025, 8, 0.26},  {kSoundConnected, 1, 2, 22050, 16, 1.35},
    {kSoundDetection, 1, 1, 22050, 8, 0.23}, {kSoundDone, 1, 1, 8000, 16, 0.38},
    {kSoundExit, 1, 2, 22050, 16, 1.68},     {kSoundWarning, 1, 1, 22050, 8, 0.83},
    {kSoundBoxError, 1, 2, 48000, 16, 5.81}, {kSoundBoxConnected, 0x11, 1, 22050, 4, 2.12},
};

long ExpectedFrames(const SoundFormat& format) {
  return std::lround(format.seconds * format.rate);
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

struct RiffInfo {
  int formatTag = 0;
  int channels = 0;
  int rate = 0;
  int bits = 0;
  int blockAlign = 0;
  int samplesPerBlock = 0;  // ADPCM only
  std::uint32_t dataSize = 0;
  std::optional<std::uint32_t> factSamples;
};

// Walks the chunks with bound checks; a failure names what is wrong.
::testing::AssertionResult ParseRiff(std::span<const std::uint8_t> bytes, RiffInfo* info) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return ::testing::AssertionFailure() << "no RIFF WAVE header";
  }
  if (Le32(bytes, 4) + 8 != bytes.size()) {
    return ::testing::AssertionFailure()
           << "RIFF size " << Le32(bytes, 4) + 8 << " for a file of " << bytes.size() << " bytes";
  }
  bool haveFormat = false;
  bool haveData = false;
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::string id(reinterpret_cast<const char*>(bytes.data() + at), 4);
    const std::uint32_t size = Le32(bytes, at + 4);
    const std::size_t body = at + 8;
    if (body + size > bytes.size()) {
      return ::testing::AssertionFailure() << "chunk " << id << " runs past the end";
    }
    if (id == "fmt ") {
      if (size < 16) {
        return ::testing::AssertionFailure() << "short fmt chunk";
      }
      info->formatTag = Le16(bytes, body);
      info->channels = Le16(bytes, body + 2);
      info->rate = static_cast<int>(Le32(bytes, body + 4));
      info->blockAlign = Le16(bytes, body + 12);
      info->bits = Le16(bytes, body + 14);
      if (info->formatTag == 0x11 && size >= 20) {
        info->samplesPerBlock = Le16(bytes, body + 18);
      }
      haveFormat = true;
    } else if (id == "data") {
      info->dataSize = size;
      haveData = true;
    } else if (id == "fact" && size >= 4) {
      info->factSamples = Le32(bytes, body);
    }
    at = body + size + (size & 1);
  }
  if (!haveFormat || !haveData) {
    return ::testing::AssertionFailure() << "fmt or data chunk missing";
  }
  return ::testing::AssertionSuccess();
}

TEST(EmbeddedSoundsTest, TableHoldsExactlyTheEightSoundsInOrder) {
  const auto sounds = EmbeddedSounds();
  ASSERT_EQ(sounds.size(), std::size(kTable));
  for (std::size_t i = 0; i < sounds.size(); ++i) {
    EXPECT_EQ(sounds[i].id, kTable[i].id);
    EXPECT_EQ(FindEmbeddedSound(kTable[i].id).data(), sounds[i].bytes);
  }
  EXPECT_TRUE(FindEmbeddedSound(0).empty());
  EXPECT_TRUE(FindEmbeddedSound(130).empty());
  EXPECT_TRUE(FindEmbeddedSound(-133).empty());
}

TEST(EmbeddedSoundsTest, EmbeddedBytesAreTheCommittedFilesAndAllDiffer) {
  for (const SoundFormat& format : kTable) {
    const auto bytes = FindEmbeddedSound(format.id);
    const std::string file = testing::ReadFile(
        std::string(LAPORA_SOURCE_DIR) + "/resources/sounds/" + std::to_string(format.id) + ".wav");
    ASSERT_EQ(file.size(), bytes.size()) << format.id;
    EXPECT_EQ(std::memcmp(file.data(), bytes.data(), bytes.size()), 0) << format.id;
    for (const SoundFormat& other : kTable) {
      const auto otherBytes = FindEmbeddedSound(other.id);
      if (other.id != format.id && otherBytes.size() == bytes.size()) {
        EXPECT_NE(std::memcmp(otherBytes.data(), bytes.data(), bytes.size()), 0)
            << format.id << " and " << other.id << " are the same sound";
      }
    }
  }
}

TEST(EmbeddedSoundsTest, RiffHeadersMatchTheTable) {
  for (const SoundFormat& format : kTable) {
    SCOPED_TRACE(format.id);
    RiffInfo info;
    ASSERT_TRUE(ParseRiff(FindEmbeddedSound(format.id), &info));
    EXPECT_EQ(info.formatTag, format.formatTag);
    EXPECT_EQ(info.channels, format.channels);
    EXPECT_EQ(info.rate, format.rate);
    EXPECT_EQ(info.bits, format.bits);
    long frames = 0;
    if (format.formatTag == 1) {
      ASSERT_EQ(info.blockAlign, format.channels * format.bits / 8);
      ASSERT_EQ(info.dataSize % info.blockAlign, 0u);
      frames = static_cast<long>(info.dataSize / info.blockAlign);
    } else {
      // IMA ADPCM: whole blocks of samplesPerBlock, the true length in the fact chunk.
      ASSERT_TRUE(info.factSamples.has_value());
      ASSERT_EQ(info.samplesPerBlock,
                (info.blockAlign - 4 * format.channels) * 2 / format.channels + 1);
      const long blocks =
          (static_cast<long>(*info.factSamples) + info.samplesPerBlock - 1) / info.samplesPerBlock;
      EXPECT_EQ(static_cast<long>(info.dataSize), blocks * info.blockAlign);
      frames = static_cast<long>(*info.factSamples);
    }
    // Half a sample of rounding either way: the table gives hundredths of a second.
    EXPECT_LE(std::labs(frames - ExpectedFrames(format)), 1) << frames << " frames";
  }
}

TEST(EmbeddedSoundsTest, SdlDecodesEachSoundToTheTableFormatAndLength) {
  // The player sets the same hint: ADPCM blocks are padded, the fact chunk is the length.
  SDL_SetHint(SDL_HINT_WAVE_FACT_CHUNK, "truncate");
  for (const SoundFormat& format : kTable) {
    SCOPED_TRACE(format.id);
    const auto bytes = FindEmbeddedSound(format.id);
    SDL_AudioSpec wavSpec{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    ASSERT_NE(SDL_LoadWAV_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1,
                             &wavSpec, &buffer, &length),
              nullptr)
        << SDL_GetError();
    EXPECT_EQ(wavSpec.freq, format.rate);
    EXPECT_EQ(wavSpec.channels, format.channels);
    // SDL hands 8-bit PCM as unsigned bytes and decodes ADPCM to 16-bit samples.
    const SDL_AudioFormat expected = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    EXPECT_EQ(wavSpec.format, expected);
    const int sampleBytes = SDL_AUDIO_BITSIZE(wavSpec.format) / 8;
    const long frames = static_cast<long>(length / (sampleBytes * wavSpec.channels));
    EXPECT_LE(std::labs(frames - ExpectedFrames(format)), 1) << frames << " frames";

    // Audible: the loudest sample reaches at least half of full scale.
    double peak = 0;
    const std::size_t count = length / sampleBytes;
    for (std::size_t i = 0; i < count; ++i) {
      const double value = sampleBytes == 1 ? (buffer[i] - 128) / 128.0
                                            : reinterpret_cast<const Sint16*>(buffer)[i] / 32768.0;
      peak = std::max(peak, std::fabs(value));
    }
    EXPECT_GT(peak, 0.5);
    SDL_FreeWAV(buffer);
  }
}

}  // namespace
}  // namespace lapora

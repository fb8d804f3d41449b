// The sounds compiled into the program: complete RIFF WAVE files kept under their numbers
// (the SoundId values of foundation/sound.h). Read-only data: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lapora {

// One embedded file as the generated table holds it.
struct EmbeddedSoundData {
  int id;
  const unsigned char* bytes;
  std::size_t size;
};

// The bytes of the embedded sound with this number; an empty span when there is none.
std::span<const std::uint8_t> FindEmbeddedSound(int soundId);

// Every embedded sound, in increasing number order.
std::span<const EmbeddedSoundData> EmbeddedSounds();

}  // namespace lapora

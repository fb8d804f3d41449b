#include "resources/embedded_sounds.h"

namespace lapora {

// Defined in the source that the build generates from resources/sounds.
extern const EmbeddedSoundData kEmbeddedSoundData[];
extern const std::size_t kEmbeddedSoundDataCount;

std::span<const EmbeddedSoundData> EmbeddedSounds() {
  return {kEmbeddedSoundData, kEmbeddedSoundDataCount};
}

std::span<const std::uint8_t> FindEmbeddedSound(int soundId) {
  for (const EmbeddedSoundData& sound : EmbeddedSounds()) {
    if (sound.id == soundId) {
      return {sound.bytes, sound.size};
    }
  }
  return {};
}

}  // namespace lapora

#pragma once

#include <array>
#include <cstddef>

namespace valdoria {

class Hero;
class Monster;

// The three heroes in turn order, which also fixes each one's save file.
inline constexpr int kPartySize = 3;

struct Party {
  std::array<Hero*, kPartySize> heroes{};
  // How many heroes, in turn order, came from their save files; the others
  // start from default values.
  int loadedCount = kPartySize;
};

inline Hero& heroAt(const Party& party, int index) {
  return *party.heroes.at(static_cast<std::size_t>(index));
}

} // namespace valdoria

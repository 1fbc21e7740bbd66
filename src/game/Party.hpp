#pragma once

#include <array>

namespace valdoria {

class Hero;
class Monster;

// The three heroes in turn order, which also fixes each one's save file.
inline constexpr int kPartySize = 3;

struct Party {
  std::array<Hero*, kPartySize> heroes{};
};

inline constexpr std::array<const char*, kPartySize> kSaveFileNames{"Varen.txt", "Gorak.txt",
                                                                    "Mirel.txt"};

} // namespace valdoria

#pragma once

#include <array>
#include <cstddef>

namespace valdoria {

class Monster;

// An encounter never holds more than five monsters; the slots from its
// count on are unused.
inline constexpr int kMaxMonsters = 5;
using MonsterSlots = std::array<Monster*, kMaxMonsters>;

// The monster in a used slot.
inline Monster& monsterAt(const MonsterSlots& monsters, int slot) {
  return *monsters.at(static_cast<std::size_t>(slot));
}

} // namespace valdoria

#pragma once

#include "combatants/Attack.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

namespace valdoria {

class Combatant;

// The ordered actions one monster can use (its basic attack first, then its
// specials) and its turn decision between defending and attacking.
class MoveSet {
public:
  virtual ~MoveSet() = default;
  MoveSet(const MoveSet&) = delete;
  MoveSet& operator=(const MoveSet&) = delete;

  // The action at index; indexes outside the set give its nearest end.
  virtual const Attack& getAttack(int index) const = 0;

  // Defends or strikes target with the chosen action.
  void takeTurn(Combatant& user, Combatant& target) const;

protected:
  explicit MoveSet(int count) : count(count) {}

  // Out-of-range indexes give the nearest end, never a dangling reference.
  template <std::size_t Size>
  static const Attack& attackAt(const std::array<const Attack*, Size>& attacks, int index) {
    const int last = static_cast<int>(Size) - 1;
    return *attacks[static_cast<std::size_t>(std::clamp(index, 0, last))];
  }

private:
  int count;
};

// Back to the turn seed offset a fresh run starts with.
void resetMoveSeedOffset();

// The move sets by size, each over its owner's own actions.
class MoveSet1 final : public MoveSet {
public:
  explicit MoveSet1(const Attack& basic);
  const Attack& getAttack(int index) const override;

private:
  std::array<const Attack*, 1> attacks;
};

class MoveSet2 final : public MoveSet {
public:
  MoveSet2(const Attack& basic, const Attack& special);
  const Attack& getAttack(int index) const override;

private:
  std::array<const Attack*, 2> attacks;
};

class MoveSet3 final : public MoveSet {
public:
  MoveSet3(const Attack& basic, const Attack& first, const Attack& second);
  const Attack& getAttack(int index) const override;

private:
  std::array<const Attack*, 3> attacks;
};

class MoveSet4 final : public MoveSet {
public:
  MoveSet4(const Attack& basic, const Attack& first, const Attack& second, const Attack& third);
  const Attack& getAttack(int index) const override;

private:
  std::array<const Attack*, 4> attacks;
};

class MoveSet6 final : public MoveSet {
public:
  MoveSet6(const Attack& basic, const Attack& first, const Attack& second, const Attack& third,
           const Attack& fourth, const Attack& fifth);
  const Attack& getAttack(int index) const override;

private:
  std::array<const Attack*, 6> attacks;
};

} // namespace valdoria

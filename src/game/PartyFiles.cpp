#include "game/PartyFiles.hpp"

#include "combatants/Hero.hpp"
#include "game/Party.hpp"
#include "save/DeferredSignals.hpp"
#include "save/HeroSaveFile.hpp"

#include <array>
#include <cstddef>

namespace valdoria {

namespace {

constexpr std::array<const char*, kPartySize> kSaveFileNames{"Varen.txt", "Gorak.txt", "Mirel.txt"};

} // namespace

bool loadParty(const Party& party) {
  for (int index = 0; index < kPartySize; ++index) {
    if (!loadHero(heroAt(party, index), kSaveFileNames.at(static_cast<std::size_t>(index)))) {
      return false;
    }
  }
  return true;
}

bool saveParty(const Party& party) {
  // A signal that would end the program waits until the whole party is
  // saved, so the files never mix the heroes of two battles.
  const DeferredSignals deferred;
  for (int index = 0; index < kPartySize; ++index) {
    if (!saveHero(heroAt(party, index), kSaveFileNames.at(static_cast<std::size_t>(index)))) {
      return false;
    }
  }
  return true;
}

} // namespace valdoria

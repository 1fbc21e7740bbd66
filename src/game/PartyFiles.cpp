#include "game/PartyFiles.hpp"

#include "base/Console.hpp"
#include "combatants/Hero.hpp"
#include "game/Party.hpp"
#include "save/HeroSaveFile.hpp"
#include "save/SmallFile.hpp"

#include <array>
#include <cstddef>
#include <ostream>

namespace valdoria {

namespace {

constexpr std::array<const char*, kPartySize> kSaveFileNames{"Varen.txt", "Gorak.txt", "Mirel.txt"};

const char* saveFileName(int index) { return kSaveFileNames.at(static_cast<std::size_t>(index)); }

} // namespace

bool loadParty(Party& party) {
  const PartyGuard guard(PartyGuard::Use::Reading);
  party.loadedCount = 0;
  while (party.loadedCount < kPartySize &&
         loadHero(heroAt(party, party.loadedCount), saveFileName(party.loadedCount))) {
    ++party.loadedCount;
  }
  return party.loadedCount == kPartySize;
}

bool saveParty(const Party& party) {
  // Nothing printed may wait in the buffer while signals are held back.
  consoleOut().flush();
  // A signal that would end the program waits until the whole party is
  // saved, and another game waits for the lock, so the files never mix the
  // heroes of two battles.
  const PartyGuard guard(PartyGuard::Use::Writing);
  for (int index = 0; index < kPartySize; ++index) {
    const OldBytes old = index < party.loadedCount ? OldBytes::Dropped : OldBytes::Kept;
    if (!saveHero(heroAt(party, index), saveFileName(index), old)) {
      return false;
    }
  }
  return true;
}

} // namespace valdoria

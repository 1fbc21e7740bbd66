#include "game/PartyFiles.hpp"

#include "base/Console.hpp"
#include "combatants/Hero.hpp"
#include "game/Party.hpp"
#include "save/HeroSaveFile.hpp"
#include "save/PartyGuard.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace valdoria {

namespace {

const std::vector<std::string> kSaveFileNames{"Varen.txt", "Gorak.txt", "Mirel.txt"};

// What this run last saw at a hero's file, which a save replaces without a
// copy: the file this battle loaded, or the file the last save wrote. A
// hero this battle did not load starts from default values, so the file is
// seen only if that save, too, wrote a hero that started so.
struct SeenFile {
  std::optional<FileStamp> stamp;
  bool fromLoad = false;
};

std::array<SeenFile, kPartySize>& seenFiles() {
  static std::array<SeenFile, kPartySize> seen;
  return seen;
}

} // namespace

bool loadParty(Party& party) {
  const PartyGuard guard(PartyGuard::Use::Reading);
  std::array<SeenFile, kPartySize>& seen = seenFiles();
  FileStamp loaded;
  party.loadedCount = 0;
  for (; party.loadedCount < kPartySize; ++party.loadedCount) {
    const auto index = static_cast<std::size_t>(party.loadedCount);
    if (!loadHero(heroAt(party, party.loadedCount), kSaveFileNames[index], &loaded))
      break;
    seen[index] = {loaded, true};
  }
  for (auto index = static_cast<std::size_t>(party.loadedCount); index < seen.size(); ++index) {
    if (seen[index].fromLoad)
      seen[index] = {};
  }
  return party.loadedCount == kPartySize;
}

bool saveParty(const Party& party) {
  // Nothing printed may wait in the buffer while signals are held back.
  consoleOut().flush();
  // A signal that would end the program waits until the whole party is
  // saved, and another game waits for the lock, so the files never mix the
  // heroes of two battles.
  PartyGuard guard(PartyGuard::Use::Writing);
  bool saved = true;
  for (int index = 0; saved && index < kPartySize; ++index) {
    SeenFile& seen = seenFiles()[static_cast<std::size_t>(index)];
    saved = saveHero(heroAt(party, index), kSaveFileNames[static_cast<std::size_t>(index)],
                     &seen.stamp);
    seen.fromLoad = saved ? index < party.loadedCount : seen.fromLoad;
  }
  removeLeftovers(kSaveFileNames);
  const bool committed = guard.commit();
  return saved && committed;
}

void resetPartyFiles() { seenFiles() = {}; }

} // namespace valdoria

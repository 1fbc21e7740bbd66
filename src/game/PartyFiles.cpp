#include "game/PartyFiles.hpp"

#include "base/Console.hpp"
#include "combatants/Hero.hpp"
#include "game/Party.hpp"
#include "save/HeroSaveFile.hpp"
#include "save/PartyGuard.hpp"
#include "save/SmallFile.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <istream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
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

// Writes the party's files under the guard. Where another game stored its
// files between the read and the store (the browser's tabs, which may have
// no lock to wait for), the write runs again over them, a few times at
// most. `orPart`: heroes written before one that failed are kept.
bool writeParty(bool orPart, const std::function<bool()>& write) {
  constexpr int kMostWrites = 8;
  // Nothing printed may wait in the buffer while signals are held back.
  consoleOut().flush();
  // A signal that would end the program waits until the whole party is
  // saved, and another game waits for the lock, so the files never mix the
  // heroes of two battles.
  PartyGuard guard(PartyGuard::Use::Writing);
  const std::array<SeenFile, kPartySize> before = seenFiles();
  for (int writes = 1;; ++writes) {
    const bool written = write();
    removeLeftovers(kSaveFileNames);
    const PartyGuard::Stored stored = written || orPart ? guard.commit() : PartyGuard::Stored::No;
    if (stored == PartyGuard::Stored::Yes)
      return written;
    // Not stored: the files are those seen before.
    seenFiles() = before;
    if (stored == PartyGuard::Stored::No || writes == kMostWrites)
      return false;
  }
}

} // namespace

const std::vector<std::string>& partyFileNames() { return kSaveFileNames; }

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
  return writeParty(true, [&party] {
    bool saved = true;
    for (int index = 0; saved && index < kPartySize; ++index) {
      SeenFile& seen = seenFiles()[static_cast<std::size_t>(index)];
      saved = saveHero(heroAt(party, index), kSaveFileNames[static_cast<std::size_t>(index)],
                       &seen.stamp);
      seen.fromLoad = saved ? index < party.loadedCount : seen.fromLoad;
    }
    return saved;
  });
}

bool replacePartyFiles(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> replacements;
  for (const std::string& name : kSaveFileNames) {
    std::string bytes;
    const auto readAll = [&bytes](std::istream& input) {
      bytes.assign(std::istreambuf_iterator<char>(input), {});
      return true;
    };
    if (readSmallFile((std::filesystem::path(folder) / name).string(), readAll))
      replacements.emplace_back(name, std::move(bytes));
  }
  return writeParty(false, [&replacements] {
    return std::all_of(replacements.begin(), replacements.end(), [](const auto& replacement) {
      std::optional<FileStamp> unseen;
      return replaceSmallFile(replacement.first, replacement.second, &unseen);
    });
  });
}

void resetPartyFiles() { seenFiles() = {}; }

} // namespace valdoria

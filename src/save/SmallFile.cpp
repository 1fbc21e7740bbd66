#include "save/SmallFile.hpp"

#include "save/FileSystem.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <streambuf>
#include <utility>

namespace valdoria {

namespace {

using files::File;
using files::Name;
using files::Outcome;
using files::Place;
using files::Temporary;

// ---- Reading ----

constexpr std::int64_t kBufferSize = 4096;

// A read error ends the input, as the end of the file does.
class FileReadBuffer : public std::streambuf {
public:
  explicit FileReadBuffer(const File& file) : file(file) {}

protected:
  int_type underflow() override {
    const std::int64_t count = files::readAt(file, offset, buffer.data(), kBufferSize);
    if (count <= 0)
      return traits_type::eof();
    offset += count;
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer.front());
  }

private:
  const File& file;
  std::int64_t offset = 0;
  std::array<char, kBufferSize> buffer{};
};

// ---- Keeping old bytes ----

constexpr int kMostCopies = 9;
constexpr std::int64_t kPiece = 65536;

// NAME.bak, then NAME.bak.2 to NAME.bak.9.
Name copyName(const Place& at, int number) {
  return files::withSuffix(at.name, number == 1 ? ".bak" : ".bak." + std::to_string(number));
}

// Compared a piece at a time: a damaged file may be huge.
bool sameBytes(const File& one, const File& other) {
  std::vector<char> mine(kPiece);
  std::vector<char> theirs(kPiece);
  for (std::int64_t offset = 0;;) {
    const std::int64_t count = files::readAt(one, offset, mine.data(), kPiece);
    if (count < 0 || files::readAt(other, offset, theirs.data(), kPiece) != count ||
        std::memcmp(mine.data(), theirs.data(), static_cast<std::size_t>(count)) != 0)
      return false;
    if (count == 0)
      return true;
    offset += count;
  }
}

// The old bytes kept beside the file before it changes, unless a copy holds
// them already: NAME.bak, or the first free copy name after every taken one,
// so the newest copy has the highest number. A kept copy, or anything else
// at a copy's name, is never replaced: with all nine taken the save fails.
// Where the file is about to be replaced, a second name for it (`linked`)
// keeps it whole, every attribute with it, even where it cannot be read.
bool keepAside(const FileCalls& calls, const Place& at, const File& existing, Name* linked) {
  int next = 1;
  for (int number = 1; number <= kMostCopies; ++number) {
    if (!files::isTaken(at, copyName(at, number)))
      continue;
    next = number + 1;
    const File kept = files::openRegular(calls.backup, at, copyName(at, number), false);
    if (kept.isOpen() && sameBytes(existing, kept))
      return true;
  }
  if (next > kMostCopies)
    return false;
  const Outcome link = linked != nullptr
                           ? files::linkAs(calls.backup, at, at.name, copyName(at, next))
                           : Outcome::Refused;
  if (link == Outcome::Done)
    *linked = copyName(at, next);
  if (link != Outcome::Refused)
    return link == Outcome::Done && files::flushDirectory(calls.directory, at);
  Temporary copy;
  if (files::makeTemporary(calls.backup, at, false, copy) != Outcome::Done ||
      files::adopt(calls.backup, copy.file, existing, true) != Outcome::Done ||
      !files::copyAll(calls.backup, existing, copy.file) || !files::flush(calls.backup, copy.file))
    return false;
  for (; next <= kMostCopies; ++next) {
    const Outcome placed = files::putBeside(calls.backup, copy, copyName(at, next));
    if (placed != Outcome::Refused)
      return placed == Outcome::Done && files::flushDirectory(calls.directory, at);
  }
  return false;
}

// ---- Writing ----

// A new file filled, flushed and put in place of `old` (none: a file new at
// the name, which takes what the directory gives any new file), its old
// bytes kept aside first where `keep` asks, which is then done. Refused
// where the directory or the system will not let the old file be replaced.
Outcome replace(const FileCalls& calls, const Place& at, const File* old, std::string_view bytes,
                FileStamp& written, bool& keep) {
  Temporary fresh;
  Name linked;
  Outcome outcome = files::makeTemporary(calls.temporary, at, old == nullptr, fresh);
  if (outcome == Outcome::Done && old != nullptr)
    outcome = files::adopt(calls.temporary, fresh.file, *old, false);
  if (outcome != Outcome::Done)
    return outcome;
  if (!files::writeAt(calls.temporary, fresh.file, 0, bytes) ||
      !files::flush(calls.temporary, fresh.file) || !files::stampOf(fresh.file, written) ||
      (keep && !keepAside(calls, at, *old, &linked)))
    return Outcome::Failed;
  outcome = files::putOver(calls.temporary, fresh);
  // Not replaced after all: the second name would see the bytes written in place.
  keep = outcome == Outcome::Refused && !linked.empty();
  if (keep && !files::removeName(at, linked))
    return Outcome::Failed;
  if (outcome != Outcome::Done)
    return outcome;
  return files::flushDirectory(calls.directory, at) ? Outcome::Done : Outcome::Failed;
}

// The new bytes over the old, flushed, then the file cut to length: never
// empty. Until the cut, old bytes may follow a shorter record, which ends in
// a blank; loading reads seven numbers, so the file loads the new record. A
// write that breaks off puts the old bytes back.
bool writeInPlace(const FileOps& ops, File& file, std::string_view bytes, std::int64_t oldSize,
                  FileStamp& written) {
  std::string previous(bytes.size(), '\0');
  const std::int64_t kept =
      files::readAt(file, 0, previous.data(), static_cast<std::int64_t>(previous.size()));
  if (!files::writeAt(ops, file, 0, bytes)) {
    if (kept >= 0 &&
        files::writeAt(ops, file, 0, {previous.data(), static_cast<std::size_t>(kept)}))
      files::setLength(ops, file, oldSize);
    return false;
  }
  return files::flush(ops, file) &&
         files::setLength(ops, file, static_cast<std::int64_t>(bytes.size())) &&
         files::flush(ops, file) && files::stampOf(file, written) && file.close(ops);
}

bool isTemporaryOf(const Name& entry, const Name& prefix) {
  return entry.size() == prefix.size() + files::kTemporaryDigits && entry.starts_with(prefix) &&
         std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                     [](auto digit) {
                       return (digit >= '0' && digit <= '9') || (digit >= 'a' && digit <= 'f');
                     });
}

} // namespace

bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse,
                   FileStamp* read) {
  const std::optional<Place> at = files::locate(name);
  const File file =
      at ? files::openRegular(systemFileCalls().saveFile, *at, at->name, false) : File();
  if (!file.isOpen() || (read != nullptr && !files::stampOf(file, *read)))
    return false;
  FileReadBuffer buffer(file);
  std::istream input(&buffer);
  return parse(input);
}

// In the order a save runs: follow the name, open only a regular file, keep
// the old bytes aside, then replace the file or, where it cannot be
// replaced, write it in place.
bool replaceSmallFile(const std::string& name, std::string_view bytes,
                      std::optional<FileStamp>* seen, const FileCalls& calls) {
  const std::optional<Place> at = files::locate(name);
  if (!at)
    return false;
  File existing = at->exists ? files::openRegular(calls.saveFile, *at, at->name, true) : File();
  FileStamp old;
  FileStamp written;
  std::uint64_t links = 1;
  if (at->exists && (!existing.isOpen() || !files::stampOf(existing, old, &links)))
    return false;
  bool keep = at->exists && seen != nullptr && *seen != old;
  // Every name must see the new bytes: a file with more is written in place.
  // A copy's name that a killed save left linked to it is not the player's.
  for (int number = 1; links > 1 && number <= kMostCopies; ++number)
    links -= files::leadsTo(*at, copyName(*at, number), existing) ? 1U : 0U;
  Outcome outcome = Outcome::Refused;
  if (links == 1)
    outcome = replace(calls, *at, at->exists ? &existing : nullptr, bytes, written, keep);
  if (outcome == Outcome::Refused && at->exists)
    outcome = (!keep || keepAside(calls, *at, existing, nullptr)) &&
                      writeInPlace(calls.saveFile, existing, bytes, old.size, written)
                  ? Outcome::Done
                  : Outcome::Failed;
  if (outcome != Outcome::Done)
    return false;
  if (seen != nullptr)
    *seen = written;
  return true;
}

void removeLeftovers(const std::vector<std::string>& names) {
  std::vector<Place> places;
  for (const std::string& name : names) {
    if (std::optional<Place> at = files::locate(name))
      places.push_back(std::move(*at));
  }
  for (auto place = places.begin(); place != places.end(); ++place) {
    const auto inHere = [&](const Place& other) { return files::sameDirectory(*place, other); };
    if (std::any_of(places.begin(), place, inHere))
      continue; // read already
    std::vector<Name> prefixes;
    for (auto other = place; other != places.end(); ++other) {
      if (inHere(*other))
        prefixes.push_back(files::withSuffix(other->name, files::kTemporaryMarker));
    }
    files::removeUnheld(*place, [&prefixes](const Name& entry) {
      return std::any_of(prefixes.begin(), prefixes.end(),
                         [&entry](const Name& prefix) { return isTemporaryOf(entry, prefix); });
    });
  }
}

} // namespace valdoria

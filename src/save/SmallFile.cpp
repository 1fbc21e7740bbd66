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

using files::Access;
using files::File;
using files::Name;
using files::Outcome;
using files::Place;
using files::Temporary;

constexpr std::int64_t kBufferSize = 4096;
// A damaged file may be huge: it is copied and compared a piece at a time.
constexpr std::int64_t kPiece = 65536;
constexpr int kMostCopies = 9;
constexpr int kTemporaryTries = 8;

// `name` with an ASCII suffix, as NAME.bak.
Name withSuffix(const Name& name, std::string_view suffix) {
  Name with = name;
  with += suffix;
  return with;
}

// NAME.bak, then NAME.bak.2 to NAME.bak.9.
Name copyName(const Place& at, int number) {
  return withSuffix(at.name, number == 1 ? ".bak" : ".bak." + std::to_string(number));
}

// ---- Reading and writing ----

// Until `size` bytes or the end: the count, or -1.
std::int64_t readAt(const File& file, std::int64_t offset, char* buffer, std::int64_t size) {
  std::int64_t count = 0;
  for (std::int64_t read = 1; count < size && read > 0; count += read) {
    read = files::readSome(file, offset + count, buffer + count, size - count);
    if (read < 0)
      return -1;
  }
  return count;
}

bool writeAt(const File& file, std::int64_t offset, std::string_view bytes) {
  for (std::int64_t written = 0; !bytes.empty(); offset += written) {
    written = files::writeSome(file, offset, bytes);
    if (written <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A read error ends the input, as the end of the file does.
class FileReadBuffer : public std::streambuf {
public:
  explicit FileReadBuffer(const File& file) : file(file) {}

protected:
  int_type underflow() override {
    const std::int64_t count = readAt(file, offset, buffer.data(), kBufferSize);
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

// Named anew while the name is another file's, which is never touched.
Outcome makeTemporary(const Place& at, bool shared, Temporary& made) {
  made.at = &at;
  for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
    made.name = files::temporaryName(at);
    const Outcome created = made.name.empty() ? Outcome::Failed : files::createNew(made, shared);
    if (created != Outcome::Taken)
      return created;
  }
  return Outcome::Failed;
}

// ---- Keeping old bytes ----

bool sameBytes(const File& one, const File& other) {
  std::vector<char> mine(kPiece);
  std::vector<char> theirs(kPiece);
  for (std::int64_t offset = 0;;) {
    const std::int64_t count = readAt(one, offset, mine.data(), kPiece);
    if (count < 0 || readAt(other, offset, theirs.data(), kPiece) != count ||
        std::memcmp(mine.data(), theirs.data(), static_cast<std::size_t>(count)) != 0)
      return false;
    if (count == 0)
      return true;
    offset += count;
  }
}

// All of `from` into the empty `to`, its holes left out.
bool copyAll(const File& from, const File& to) {
  FileStamp stamp;
  std::vector<char> buffer(kPiece);
  if (!files::stampOf(from, stamp))
    return false;
  for (std::int64_t offset = 0; offset < stamp.size;) {
    offset = files::nextData(from, offset);
    if (offset < 0)
      break;
    const std::int64_t count = readAt(from, offset, buffer.data(), kPiece);
    if (count <= 0 || !writeAt(to, offset, {buffer.data(), static_cast<std::size_t>(count)}))
      return false;
    offset += count;
  }
  return files::setLength(to, stamp.size);
}

// The old bytes kept beside the file before it changes, unless a copy holds
// them already: NAME.bak, or the first free copy name after every taken one,
// so the newest copy has the highest number. A kept copy, or anything else
// at a copy's name, is never replaced: with all nine taken the save fails.
// Where the file is about to be replaced, a second name for it (`linked`)
// keeps it whole, every attribute with it, even where it cannot be read.
// A copy takes the file's owner, group, attributes and mode where it may,
// else it is the user's alone: it gives nobody access the file did not.
bool keepAside(const Place& at, const File& existing, Name* linked) {
  int next = 1;
  for (int number = 1; number <= kMostCopies; ++number) {
    if (!files::isTaken(at, copyName(at, number)))
      continue;
    next = number + 1;
    File kept;
    if (files::openRegular(at, copyName(at, number), Access::Read, kept) == Outcome::Done &&
        sameBytes(existing, kept))
      return true;
  }
  if (next > kMostCopies)
    return false;
  const Outcome link =
      linked != nullptr ? files::linkAs(at, at.name, copyName(at, next)) : Outcome::Refused;
  if (link == Outcome::Done)
    *linked = copyName(at, next);
  if (link != Outcome::Refused)
    return link == Outcome::Done && files::flushDirectory(at);
  Temporary copy;
  if (makeTemporary(at, false, copy) != Outcome::Done)
    return false;
  const Outcome adopted = files::adopt(copy.file, existing);
  if ((adopted == Outcome::Refused ? !files::makePrivate(copy.file, existing)
                                   : adopted != Outcome::Done) ||
      !copyAll(existing, copy.file) || !files::flush(copy.file))
    return false;
  for (; next <= kMostCopies; ++next) {
    const Outcome placed = files::putBeside(copy, copyName(at, next));
    if (placed != Outcome::Refused)
      return placed == Outcome::Done && files::flushDirectory(at);
  }
  return false;
}

// ---- Writing ----

// Where the old file went but the new one did not take its name, the new
// one is moved to the name; else its bytes stay under the first free copy
// name, which nothing removes, or failing that where they are, never
// removed by this save.
Outcome putInPlace(const Place& at, Temporary& fresh) {
  const Outcome outcome = files::putOver(fresh);
  if (outcome != Outcome::Stranded)
    return outcome;
  if (files::putBeside(fresh, at.name) == Outcome::Done)
    return Outcome::Done;
  for (int number = 1; number <= kMostCopies; ++number) {
    if (files::putBeside(fresh, copyName(at, number)) == Outcome::Done)
      break;
  }
  fresh.name.clear();
  return Outcome::Failed;
}

// A new file filled, flushed and put in place of `old` (none: a file new at
// the name, which takes what the directory gives any new file), its old
// bytes kept aside first where `keep` asks. `kept`: they are kept in a copy
// of their own, which a write in place leaves alone. Refused where the
// directory or the system will not let the old file be replaced.
Outcome replace(const Place& at, const File* old, std::string_view bytes, bool keep,
                FileStamp& written, bool& kept) {
  Temporary fresh;
  Name linked;
  Outcome outcome = makeTemporary(at, old == nullptr, fresh);
  if (outcome == Outcome::Done && old != nullptr)
    outcome = files::adopt(fresh.file, *old);
  if (outcome != Outcome::Done)
    return outcome;
  if (!writeAt(fresh.file, 0, bytes) || !files::flush(fresh.file) ||
      !files::stampOf(fresh.file, written) || (keep && !keepAside(at, *old, &linked)))
    return Outcome::Failed;
  kept = keep && linked.empty();
  outcome = putInPlace(at, fresh);
  // Not replaced after all: the second name would see the bytes written in place.
  if (outcome == Outcome::Refused && !linked.empty() && !files::removeName(at, linked))
    return Outcome::Failed;
  if (outcome != Outcome::Done)
    return outcome;
  return files::flushDirectory(at) ? Outcome::Done : Outcome::Failed;
}

// The new bytes over the old, flushed, then the file cut to length: never
// empty. Until the cut, old bytes may follow a shorter record, which ends in
// a blank; loading reads seven numbers, so the file loads the new record. A
// write that breaks off puts the old bytes back.
bool writeInPlace(File& file, std::string_view bytes, std::int64_t oldSize, FileStamp& written) {
  std::string previous(bytes.size(), '\0');
  const std::int64_t kept =
      readAt(file, 0, previous.data(), static_cast<std::int64_t>(previous.size()));
  if (!writeAt(file, 0, bytes)) {
    if (kept >= 0 && writeAt(file, 0, {previous.data(), static_cast<std::size_t>(kept)}))
      files::setLength(file, oldSize);
    return false;
  }
  return files::flush(file) && files::setLength(file, static_cast<std::int64_t>(bytes.size())) &&
         files::flush(file) && files::stampOf(file, written) && file.close();
}

bool isTemporaryOf(const Name& entry, const Name& prefix) {
  const auto& name = entry.native();
  return name.size() == prefix.native().size() + files::kTemporaryDigits &&
         name.starts_with(prefix.native()) &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.native().size()), name.end(),
                     [](auto digit) {
                       return (digit >= '0' && digit <= '9') || (digit >= 'a' && digit <= 'f');
                     });
}

} // namespace

files::Name files::temporaryName(const Place& at) {
  std::array<unsigned char, kTemporaryDigits / 2> random{};
  std::string name(kTemporaryMarker);
  if (!randomBytes(random.data(), random.size()))
    return {};
  for (const unsigned char byte : random)
    name += {"0123456789abcdef"[byte >> 4U], "0123456789abcdef"[byte & 15U]};
  return withSuffix(at.name, name);
}

bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse,
                   FileStamp* read) {
  const std::optional<Place> at = files::locate(name);
  File file;
  if (!at || files::openRegular(*at, at->name, Access::Read, file) != Outcome::Done ||
      (read != nullptr && !files::stampOf(file, *read)))
    return false;
  FileReadBuffer buffer(file);
  std::istream input(&buffer);
  return parse(input);
}

// In the order a save runs: follow the name, open only a regular file (to
// write, and to read where that is allowed), keep the old bytes aside, then
// replace the file or, where it cannot be replaced, write it in place.
bool replaceSmallFile(const std::string& name, std::string_view bytes,
                      std::optional<FileStamp>* seen) {
  const std::optional<Place> at = files::locate(name);
  if (!at)
    return false;
  File existing;
  if (at->exists &&
      files::openRegular(*at, at->name, Access::ReadWrite, existing) == Outcome::Refused)
    files::openRegular(*at, at->name, Access::Write, existing);
  FileStamp old;
  FileStamp written;
  std::uint64_t links = 1;
  if (at->exists && (!existing.isOpen() || !files::stampOf(existing, old, &links)))
    return false;
  const bool keep = at->exists && seen != nullptr && *seen != old;
  bool kept = false;
  // Every name must see the new bytes: a file with more is written in place.
  // A copy's name that a killed save left linked to it is not the player's.
  for (int number = 1; links > 1 && number <= kMostCopies; ++number)
    links -= files::leadsTo(*at, copyName(*at, number), existing) ? 1U : 0U;
  Outcome outcome = Outcome::Refused;
  if (links == 1)
    outcome = replace(*at, at->exists ? &existing : nullptr, bytes, keep, written, kept);
  if (outcome == Outcome::Refused && at->exists)
    outcome = (!keep || kept || keepAside(*at, existing, nullptr)) &&
                      writeInPlace(existing, bytes, old.size, written)
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
        prefixes.push_back(withSuffix(other->name, files::kTemporaryMarker));
    }
    files::removeUnheld(*place, [&prefixes](const Name& entry) {
      return std::any_of(prefixes.begin(), prefixes.end(),
                         [&entry](const Name& prefix) { return isTemporaryOf(entry, prefix); });
    });
  }
}

} // namespace valdoria

// Plays a whole session from arbitrary bytes. The first four bytes are the
// frozen clock (little-endian seconds); then, for Varen.txt, Gorak.txt and
// Mirel.txt in turn, one byte chooses missing, a directory or content, and
// for content one more byte gives its length, followed by that many bytes.
// Everything left is what the player types.
//
// Every session must end, since the input ends; checked on the way: the
// program's status, the summary as the last line, and nothing but the three
// save files left in the working directory.

#include "FuzzWorkDirectory.hpp"

#include "game/MainLoop.hpp"
#include "game/RunState.hpp"
#include "random/Clock.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

constexpr std::array<const char*, 3> kSaveFiles = {"Varen.txt", "Gorak.txt", "Mirel.txt"};

class ByteReader {
public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

  std::uint8_t takeByte() { return position < size ? data[position++] : 0; }

  std::string takeText(std::size_t length) {
    const std::size_t count = length < size - position ? length : size - position;
    std::string text(reinterpret_cast<const char*>(data + position), count);
    position += count;
    return text;
  }

  std::string takeRest() { return takeText(size - position); }

private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

void placeSaveFile(ByteReader& bytes, const char* name) {
  switch (bytes.takeByte() % 3) {
  case 0:
    break;
  case 1:
    std::filesystem::create_directory(name);
    break;
  default: {
    const std::string content = bytes.takeText(bytes.takeByte());
    std::ofstream(name, std::ios::binary) << content;
    break;
  }
  }
}

bool endsWithSummary(const std::string& output) {
  const std::size_t lineStart = output.rfind("\nYou fought ");
  constexpr std::string_view ending = " Exiting program...\n";
  return lineStart != std::string::npos && output.size() >= ending.size() &&
         output.compare(output.size() - ending.size(), ending.size(), ending) == 0 &&
         output.find('\n', lineStart + 1) == output.size() - 1;
}

// The save files, and their kept copies: NAME.bak, NAME.bak.2 to NAME.bak.9.
bool onlySaveFilesLeft() {
  for (const auto& entry :
       std::filesystem::directory_iterator(valdoria::fuzzing::workDirectory())) {
    std::string name = entry.path().filename().string();
    const std::size_t kept = name.rfind(".bak");
    if (kept != std::string::npos &&
        (kept + 4 == name.size() || (kept + 6 == name.size() && name[kept + 4] == '.' &&
                                     name[kept + 5] >= '2' && name[kept + 5] <= '9'))) {
      name.resize(kept);
    }
    if (name != kSaveFiles[0] && name != kSaveFiles[1] && name != kSaveFiles[2]) {
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  valdoria::fuzzing::clearWorkDirectory();
  ByteReader bytes(data, size);

  std::uint32_t clock = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    clock |= static_cast<std::uint32_t>(bytes.takeByte()) << shift;
  }
  for (const char* name : kSaveFiles) {
    placeSaveFile(bytes, name);
  }

  std::istringstream in(bytes.takeRest());
  std::ostringstream out;
  valdoria::startRun(in, out, valdoria::frozenClock(clock));

  const int status = valdoria::runMainLoop();

  valdoria::resetRunState();
  if (status != 0 || !endsWithSummary(out.str()) || !onlySaveFilesLeft()) {
    std::abort();
  }
  return 0;
}

#include "save/HeroSaveFile.hpp"

#include "combatants/Hero.hpp"

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace valdoria {

namespace {

namespace fs = std::filesystem;

constexpr int kFieldCount = 7;
// More links than this in a row is a loop.
constexpr int kMaxLinkHops = 40;
constexpr int kMaxTemporaryNameTries = 100;

std::string formatFields(const Hero& hero) {
  std::ostringstream text;
  for (const int value :
       {hero.getMaxHp(), hero.getMaxMp(), hero.getAttackPower(), hero.getDefensePower(),
        hero.getLevel(), hero.getExperience(), hero.getToNextLevel()}) {
    text << value << ' ';
  }
  return text.str();
}

// The file a save really replaces: a link is followed, so the link stays
// and the file it points to gets the new content.
bool resolveTarget(const fs::path& name, fs::path& target) {
  std::error_code error;
  fs::path path = name;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    if (!fs::is_symlink(fs::symlink_status(path, error))) {
      target = path;
      return true;
    }
    const fs::path next = fs::read_symlink(path, error);
    if (error) {
      return false;
    }
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return false;
}

// Only a missing file or a regular file the user may write is replaced.
bool isReplaceable(const fs::path& target) {
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  if (status.type() == fs::file_type::not_found) {
    return true;
  }
  if (error || status.type() != fs::file_type::regular) {
    return false;
  }
  return ::access(target.c_str(), W_OK) == 0;
}

bool writeAll(int descriptor, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = ::write(descriptor, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result <= 0) {
      return false;
    }
    written += static_cast<std::size_t>(result);
  }
  return true;
}

// Creates a fresh file beside the target, with the permissions any newly
// created file gets.
int createTemporaryFile(const fs::path& target, fs::path& temporary) {
  for (int attempt = 0; attempt < kMaxTemporaryNameTries; ++attempt) {
    temporary = target;
    temporary += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0 || errno != EEXIST) {
      return descriptor;
    }
  }
  return -1;
}

// Writes, flushes to disk and closes; the temporary file is removed on any
// failure so nothing is left behind.
bool writeTemporaryFile(const fs::path& target, const std::string& text, fs::path& temporary) {
  const int descriptor = createTemporaryFile(target, temporary);
  if (descriptor < 0) {
    return false;
  }
  const bool written = writeAll(descriptor, text) && ::fsync(descriptor) == 0;
  const bool closed = ::close(descriptor) == 0;
  if (written && closed) {
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}

} // namespace

bool saveHero(const Hero& hero, const std::string& fileName) {
  fs::path target;
  if (!resolveTarget(fileName, target) || !isReplaceable(target)) {
    return false;
  }
  fs::path temporary;
  if (!writeTemporaryFile(target, formatFields(hero), temporary)) {
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool loadHero(Hero& hero, const std::string& fileName) {
  std::ifstream file(fileName);
  if (!file.is_open()) {
    return false;
  }
  // Read everything first: a file that breaks off changes nothing.
  std::array<int, kFieldCount> values{};
  for (int& value : values) {
    if (!(file >> value)) {
      return false;
    }
  }
  const auto [maxHp, maxMp, attackPower, defensePower, level, experience, toNextLevel] = values;
  hero.setHp(maxHp);
  hero.setMaxHp(maxHp);
  hero.setMp(maxMp);
  hero.setMaxMp(maxMp);
  hero.setAttackPower(attackPower);
  hero.setDefensePower(defensePower);
  hero.setLevel(level);
  hero.setExperience(experience);
  hero.setToNextLevel(toNextLevel);
  return true;
}

} // namespace valdoria

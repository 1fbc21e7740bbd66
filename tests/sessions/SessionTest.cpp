// Whole sessions replayed in-process: each folder under tests/sessions/ holds
// a clock, the typed input, the save files before and after, and the exact
// output. The run must reproduce the output and the files byte for byte.

#include "game/MainLoop.hpp"

#include "GameTest.hpp"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

const fs::path kSessionsDirectory = VALDORIA_SESSIONS_DIR;

// A scenario's before/ and after/ folders mark a directory NAME by an empty
// file "NAME.dir", since git keeps no empty directories.
constexpr std::string_view kDirectoryMarker = ".dir";

std::string readBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The save files of a folder: name to content, no content for a directory.
using SaveFiles = std::map<std::string, std::optional<std::string>>;

SaveFiles readScenarioFiles(const fs::path& folder) {
  SaveFiles files;
  if (!fs::is_directory(folder)) {
    return files; // an absent folder stands for no files at all
  }
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(kDirectoryMarker)) {
      name.resize(name.size() - kDirectoryMarker.size());
      files[name] = std::nullopt;
    } else {
      files[name] = readBytes(entry.path());
    }
  }
  return files;
}

SaveFiles readWorkingFiles(const fs::path& directory) {
  SaveFiles files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory()) {
      files[name] = std::nullopt;
    } else {
      files[name] = readBytes(entry.path());
    }
  }
  return files;
}

void layOut(const SaveFiles& files, const fs::path& directory) {
  for (const auto& [name, content] : files) {
    if (!content) {
      fs::create_directory(directory / name);
    } else {
      std::ofstream(directory / name, std::ios::binary) << *content;
    }
  }
}

std::string describe(const std::optional<std::string>& content) {
  return content ? "\"" + *content + "\"" : "a directory";
}

// Empty when both sets of files agree, else one line per difference.
std::string compareFiles(const SaveFiles& expected, const SaveFiles& actual) {
  std::ostringstream report;
  for (const auto& [name, content] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      report << name << ": expected " << describe(content) << ", but it is missing\n";
    } else if (found->second != content) {
      report << name << ": expected " << describe(content) << ", got " << describe(found->second)
             << "\n";
    }
  }
  for (const auto& [name, content] : actual) {
    if (!expected.contains(name)) {
      report << name << ": not expected, but left as " << describe(content) << "\n";
    }
  }
  return report.str();
}

std::string visible(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += c;
    }
  }
  return shown;
}

// Where the output first departs from the expected one, with some context.
std::string firstDifference(const std::string& expected, const std::string& actual) {
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
  const auto line = 1 + std::count(expected.begin(), mismatch.first, '\n');
  const std::size_t start = offset > 120 ? offset - 120 : 0;
  std::ostringstream report;
  report << "output differs at byte " << offset << " (line " << line << ")\n"
         << "common: ..." << visible(expected.substr(start, offset - start)) << "\n"
         << "expected: " << visible(expected.substr(offset, 160)) << "\n"
         << "actual:   " << visible(actual.substr(std::min(offset, actual.size()), 160)) << "\n";
  return report.str();
}

std::vector<std::string> scenarioNames() {
  std::vector<std::string> names;
  if (fs::is_directory(kSessionsDirectory)) {
    for (const auto& entry : fs::directory_iterator(kSessionsDirectory)) {
      if (entry.is_directory() && fs::exists(entry.path() / "clock")) {
        names.push_back(entry.path().filename().string());
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class SessionTest : public testing::GameTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SessionTest, ReplaysOutputAndSaveFilesExactly) {
  const fs::path scenario = kSessionsDirectory / GetParam();
  SCOPED_TRACE(readBytes(scenario / "about"));

  freezeClock(std::stoll(readBytes(scenario / "clock")));
  layOut(readScenarioFiles(scenario / "before"), workDirectory());
  typeInput(readBytes(scenario / "input"));

  EXPECT_EQ(runMainLoop(), 0);

  const std::string expected = readBytes(scenario / "expected_output");
  EXPECT_TRUE(output() == expected) << firstDifference(expected, output());
  EXPECT_EQ(compareFiles(readScenarioFiles(scenario / "after"), readWorkingFiles(workDirectory())),
            "");
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SessionTest, ::testing::ValuesIn(scenarioNames()), testName);

// A wrong folder or a scenario missing a part must not pass as "no tests".
TEST(SessionScenarios, EveryScenarioIsComplete) {
  const std::vector<std::string> names = scenarioNames();
  EXPECT_GE(names.size(), 15U) << "scenarios in " << kSessionsDirectory;
  for (const std::string& name : names) {
    for (const char* part : {"about", "clock", "input", "expected_output"}) {
      EXPECT_TRUE(fs::is_regular_file(kSessionsDirectory / name / part)) << name << "/" << part;
    }
  }
}

} // namespace
} // namespace valdoria

#include "save/PartyGuard.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <windows.h>

namespace valdoria {
namespace {

namespace fs = std::filesystem;

// The test runs itself again in a console of its own (with no window), told by this variable
// the folder for its marks and whether to guard: "G" or "-", then the folder.
constexpr const wchar_t* kChildRun = L"VALDORIA_PARTY_GUARD_CHILD";
constexpr DWORD kNoConsole = 2;

[[noreturn]] void pressCtrlC(bool guarded, const fs::path& marks) {
  {
    std::optional<PartyGuard> guard;
    if (guarded) {
      guard.emplace(PartyGuard::Use::Writing);
    }
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
      ExitProcess(kNoConsole);
    }
    Sleep(1000); // Windows runs the console's handler on a thread of its own
    const std::ofstream inside(marks / "inside");
  }
  const std::ofstream after(marks / "after");
  ExitProcess(0);
}

DWORD runWithOwnConsole(bool guarded, const fs::path& marks) {
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  std::wstring command = L"\"" + self + L"\" --gtest_filter=PartyGuardWindowsTest.*";
  SetEnvironmentVariableW(kChildRun, ((guarded ? L"G" : L"-") + marks.wstring()).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  DWORD status = 0;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &child) != 0) {
    WaitForSingleObject(child.hProcess, 30000);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  SetEnvironmentVariableW(kChildRun, nullptr);
  return status;
}

// Ctrl-C while the party is written ends the program once the save is over,
// as Windows' own handler would (the console's window closed the same way);
// without the guard it ends the program at once.
TEST(PartyGuardWindowsTest, CtrlCWhileWritingEndsTheProgramOnceTheGuardIsGone) {
  std::wstring child(MAX_PATH, L'\0');
  child.resize(GetEnvironmentVariableW(kChildRun, child.data(), MAX_PATH));
  if (!child.empty()) {
    pressCtrlC(child.front() == L'G', child.substr(1));
  }

  const fs::path marks =
      fs::temp_directory_path() / ("valdoria-guard-" + std::to_string(GetCurrentProcessId()));
  for (const bool guarded : {false, true}) {
    SCOPED_TRACE(guarded ? "guarded" : "not guarded");
    fs::remove_all(marks);
    fs::create_directories(marks);
    const DWORD status = runWithOwnConsole(guarded, marks);
    if (status == kNoConsole) {
      GTEST_SKIP() << "no console to press Ctrl-C in";
    }
    // Ended as Windows' own handler ends a program (Wine's says 0).
    EXPECT_TRUE(!guarded || status == STATUS_CONTROL_C_EXIT) << status;
    EXPECT_EQ(fs::exists(marks / "inside"), guarded);
    EXPECT_FALSE(fs::exists(marks / "after"));
  }
  fs::remove_all(marks);
}

// Two games in one folder: while one writes the party, the other waits to
// read or write it (here a thread, which owns a lock as a process does).
TEST(PartyGuardWindowsTest, AnotherGameWaitsWhileOneWrites) {
  using Clock = std::chrono::steady_clock;
  std::optional<PartyGuard> writing(std::in_place, PartyGuard::Use::Writing);
  Clock::time_point entered;
  std::thread other([&entered] {
    const PartyGuard reading(PartyGuard::Use::Reading);
    entered = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Clock::time_point released = Clock::now();
  writing.reset();
  other.join();
  EXPECT_GE(entered, released);
}

} // namespace
} // namespace valdoria

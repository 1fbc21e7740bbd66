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

// Set for the test's second run, in a console of its own: the file to mark
// while the guard lives.
constexpr const wchar_t* kChildRun = L"VALDORIA_PARTY_GUARD_CHILD";
constexpr DWORD kPastTheGuard = 3;

// Ctrl-C while the party is written ends the program once the save is over
// (the mark made), as Windows' own handler would end it.
TEST(PartyGuardWindowsTest, CtrlCWhileWritingEndsTheProgramOnceTheGuardIsGone) {
  std::wstring child(MAX_PATH, L'\0');
  child.resize(GetEnvironmentVariableW(kChildRun, child.data(), MAX_PATH));
  if (!child.empty()) {
    std::optional<PartyGuard> guard(std::in_place, PartyGuard::Use::Writing);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    Sleep(1000); // the console's handler runs on a thread of its own
    const std::ofstream mark{fs::path(child)};
    guard.reset();
    ExitProcess(kPastTheGuard);
  }
  std::wstring command = GetCommandLineW() + std::wstring(L" --gtest_filter=*.CtrlCWhile*");
  const fs::path mark = fs::temp_directory_path() / ("valdoria-" + std::to_string(GetTickCount()));
  SetEnvironmentVariableW(kChildRun, mark.wstring().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD status = 0;
  // A console with no window: Wine makes a window's console wait seconds.
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &process));
  WaitForSingleObject(process.hProcess, 30000);
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  SetEnvironmentVariableW(kChildRun, nullptr);
  EXPECT_TRUE(fs::remove(mark));
  EXPECT_EQ(status, STATUS_CONTROL_C_EXIT);
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

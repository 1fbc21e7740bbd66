#include "save/PartyGuard.hpp"

#include <string>

#include <windows.h>

namespace valdoria {

namespace {

// Shared with the console's handler, which Windows runs on a thread of its own.
SRWLOCK writers = SRWLOCK_INIT;
int liveWriters = 0;
bool endHeldBack = false;

// Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting
// down end the program; while the party is written they wait for it.
BOOL WINAPI holdBackTheEnd(DWORD event) {
  AcquireSRWLockExclusive(&writers);
  const bool writing = liveWriters > 0;
  endHeldBack = endHeldBack || writing;
  ReleaseSRWLockExclusive(&writers);
  if (!writing)
    return FALSE; // Windows' own handler ends the program now
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
    return TRUE;
  // The program ends as soon as this returns, so it does not: the last
  // guard ends the program instead, within the seconds Windows allows.
  Sleep(INFINITE);
  return TRUE;
}

// One mutex a folder, named after its volume and its number there however
// it is reached, seen by every session's games; one another user made may be
// closed to this one: then there is no lock. A game's save takes
// milliseconds: a lock held for seconds is no game's.
HANDLE lockFolder() {
  const HANDLE folder =
      CreateFileW(L".", FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = folder != INVALID_HANDLE_VALUE &&
                     GetFileInformationByHandle(folder, &information) != 0;
  if (folder != INVALID_HANDLE_VALUE)
    CloseHandle(folder);
  if (!known)
    return nullptr;
  const std::wstring name = L"Global\\valdoria-party-" +
                            std::to_wstring(information.dwVolumeSerialNumber) + L"-" +
                            std::to_wstring(information.nFileIndexHigh) + L"-" +
                            std::to_wstring(information.nFileIndexLow);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, 3000);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
    return mutex;
  if (mutex != nullptr)
    CloseHandle(mutex);
  return nullptr;
}

} // namespace

struct PartyGuard::Held {
  HANDLE lock = nullptr;
  bool deferring = false;
};

// A mutex has no shared side: reading games, too, take turns, for the
// moment a load lasts.
PartyGuard::PartyGuard(Use use) : held(std::make_unique<Held>()) {
  held->lock = lockFolder();
  if (use == Use::Reading)
    return;
  static const bool handling = SetConsoleCtrlHandler(holdBackTheEnd, TRUE) != 0;
  if (!handling)
    return;
  AcquireSRWLockExclusive(&writers);
  ++liveWriters;
  ReleaseSRWLockExclusive(&writers);
  held->deferring = true;
}

PartyGuard::~PartyGuard() {
  if (held->lock != nullptr) {
    ReleaseMutex(held->lock);
    CloseHandle(held->lock);
  }
  if (!held->deferring)
    return;
  AcquireSRWLockExclusive(&writers);
  const bool ending = --liveWriters == 0 && endHeldBack;
  ReleaseSRWLockExclusive(&writers);
  if (ending)
    ExitProcess(STATUS_CONTROL_C_EXIT); // as Windows' own handler would have
}

} // namespace valdoria

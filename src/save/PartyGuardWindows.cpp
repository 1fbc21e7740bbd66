#include "save/PartyGuard.hpp"

#include <string>
#include <utility>

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
  // The others end the program as this returns: the last guard ends it
  // instead, within the seconds Windows allows.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    Sleep(INFINITE);
  return TRUE;
}

} // namespace

struct PartyGuard::Held {
  HANDLE lock = nullptr;
  bool deferring = false;
};

// One mutex a folder, named after its volume and its number there however it
// is reached, seen by every session's games; one another user made may be
// closed to this one: then there is no lock, as after kPartyLockWait. A mutex has no shared
// side: reading games, too, take turns, for the moment a load lasts.
PartyGuard::PartyGuard(Use use) : held(std::make_unique<Held>()) {
  const HANDLE folder = CreateFileW(L".", FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION about{};
  if (folder != INVALID_HANDLE_VALUE && GetFileInformationByHandle(folder, &about) != 0)
    held->lock = CreateMutexW(
        nullptr, FALSE,
        (L"Global\\valdoria-party-" + std::to_wstring(about.dwVolumeSerialNumber) + L"-" +
         std::to_wstring(about.nFileIndexHigh) + L"-" + std::to_wstring(about.nFileIndexLow))
            .c_str());
  if (folder != INVALID_HANDLE_VALUE)
    CloseHandle(folder);
  const DWORD waited =
      held->lock == nullptr
          ? WAIT_OBJECT_0
          : WaitForSingleObject(held->lock, static_cast<DWORD>(kPartyLockWait.count()));
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    CloseHandle(std::exchange(held->lock, nullptr));
  static const bool handling = SetConsoleCtrlHandler(holdBackTheEnd, TRUE) != 0;
  if (use == Use::Reading || !handling)
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

// The files are on the disk already, flushed.
PartyGuard::Stored PartyGuard::commit() { return Stored::Yes; }

} // namespace valdoria

#include "save/DeferredSignals.hpp"

#include <windows.h>

namespace valdoria {

namespace {

// Shared with the console's handler, which Windows runs on a thread of its own.
SRWLOCK guardLock = SRWLOCK_INIT;
int liveGuards = 0;
bool endHeldBack = false;

// Ctrl-C, Ctrl-Break, and closing the console window (or logging off, or
// shutting down) end the program; while a guard lives they wait for it.
BOOL WINAPI holdBackTheEnd(DWORD event) {
  AcquireSRWLockExclusive(&guardLock);
  const bool guarded = liveGuards > 0;
  endHeldBack = endHeldBack || guarded;
  ReleaseSRWLockExclusive(&guardLock);
  if (!guarded) {
    return FALSE; // Windows' own handler ends the program now
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    return TRUE;
  }
  // The program ends as soon as this returns, so it never does: the last
  // guard ends the program instead, within the few seconds Windows allows.
  Sleep(INFINITE);
  return TRUE;
}

} // namespace

DeferredSignals::DeferredSignals() {
  static const bool handling = SetConsoleCtrlHandler(holdBackTheEnd, TRUE) != 0;
  if (!handling) {
    return;
  }
  AcquireSRWLockExclusive(&guardLock);
  ++liveGuards;
  ReleaseSRWLockExclusive(&guardLock);
  deferring = true;
}

DeferredSignals::~DeferredSignals() {
  if (!deferring) {
    return;
  }
  AcquireSRWLockExclusive(&guardLock);
  const bool ending = --liveGuards == 0 && endHeldBack;
  ReleaseSRWLockExclusive(&guardLock);
  if (ending) {
    // As Windows' own handler would have ended it.
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

} // namespace valdoria

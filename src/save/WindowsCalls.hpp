#pragma once

// <aclapi.h> and <bcrypt.h> need the types of <windows.h>.
#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>

namespace valdoria::files {

// Every call the saves make on Windows, each by its system name, in one
// table a test may change: it fails whichever call on whichever file it
// pleases. `os` holds the system's own (SmallFileWindows.cpp).
struct WindowsCalls {
  decltype(&CreateFileW) createFile;
  decltype(&ReadFile) readFile;
  decltype(&WriteFile) writeFile;
  decltype(&SetFilePointerEx) setFilePointer;
  decltype(&FlushFileBuffers) flushFileBuffers;
  decltype(&SetFileInformationByHandle) setFileInformation;
  decltype(&GetFileInformationByHandle) getFileInformation;
  decltype(&GetFileType) getFileType;
  decltype(&GetFileSizeEx) getFileSize;
  decltype(&GetFinalPathNameByHandleW) getFinalPathName;
  decltype(&CloseHandle) closeHandle;
  decltype(&ReplaceFileW) replaceFile;
  decltype(&MoveFileExW) moveFile;
  decltype(&CreateHardLinkW) createHardLink;
  decltype(&DeleteFileW) deleteFile;
  decltype(&FindFirstFileExW) findFirstFile;
  decltype(&FindNextFileW) findNextFile;
  decltype(&FindClose) findClose;
  decltype(&CreateMutexW) createMutex;
  decltype(&OpenMutexW) openMutex;
  decltype(&BCryptGenRandom) genRandom;
  decltype(&GetSecurityInfo) getSecurityInfo;
  decltype(&SetSecurityInfo) setSecurityInfo;
};

extern WindowsCalls os;

} // namespace valdoria::files

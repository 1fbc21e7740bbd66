#pragma once

// <aclapi.h> and <bcrypt.h> need the types of <windows.h>.
#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>

namespace valdoria::files {

// Every call the saves make on Windows, each by its system name, in one
// table a test may change: it fails whichever call on whichever file it
// pleases; `os = {}` puts the system's own back.
struct WindowsCalls {
  decltype(&CreateFileW) createFile = CreateFileW;
  decltype(&ReadFile) readFile = ReadFile;
  decltype(&WriteFile) writeFile = WriteFile;
  decltype(&SetFilePointerEx) setFilePointer = SetFilePointerEx;
  decltype(&FlushFileBuffers) flushFileBuffers = FlushFileBuffers;
  decltype(&SetFileInformationByHandle) setFileInformation = SetFileInformationByHandle;
  decltype(&GetFileInformationByHandle) getFileInformation = GetFileInformationByHandle;
  decltype(&GetFileType) getFileType = GetFileType;
  decltype(&GetFileSizeEx) getFileSize = GetFileSizeEx;
  decltype(&GetFinalPathNameByHandleW) getFinalPathName = GetFinalPathNameByHandleW;
  decltype(&CloseHandle) closeHandle = CloseHandle;
  decltype(&ReplaceFileW) replaceFile = ReplaceFileW;
  decltype(&MoveFileExW) moveFile = MoveFileExW;
  decltype(&CreateHardLinkW) createHardLink = CreateHardLinkW;
  decltype(&DeleteFileW) deleteFile = DeleteFileW;
  decltype(&FindFirstFileExW) findFirstFile = FindFirstFileExW;
  decltype(&FindNextFileW) findNextFile = FindNextFileW;
  decltype(&FindClose) findClose = FindClose;
  decltype(&CreateMutexW) createMutex = CreateMutexW;
  decltype(&OpenMutexW) openMutex = OpenMutexW;
  decltype(&BCryptGenRandom) genRandom = BCryptGenRandom;
  decltype(&GetSecurityInfo) getSecurityInfo = GetSecurityInfo;
  decltype(&SetSecurityInfo) setSecurityInfo = SetSecurityInfo;
};

extern WindowsCalls os;

} // namespace valdoria::files

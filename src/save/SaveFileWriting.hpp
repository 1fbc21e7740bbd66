#pragma once

#include <string>

namespace valdoria {

class SaveLocation;

// Writes `text` as the whole content of the save file, flushed to disk.
//
// A missing file is created through a temporary file renamed into place. An
// existing one must be a regular file the user may write; it is replaced the
// same way by a file with its owner, group and permission bits, so a crash
// leaves either the old or the new content. Where the new file cannot carry
// that owner or group, or the directory takes no new file (not writable, or
// sticky with the file another user's), the file is written in place, as a
// plain truncating write would.
//
// False when any step fails; later steps are then not taken.
bool writeSaveFile(const SaveLocation& location, const std::string& text);

} // namespace valdoria

#pragma once

#include "save/FileStamp.hpp"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace valdoria {

// The byte level of the party's files: a small file read, or replaced so
// that it holds its old or its new bytes whatever fails and whoever else is
// at work in the same directory. A name is followed through its links; only
// a regular file at the end of them is ever opened, never a pipe or device.

// Hands the regular file at `name` to `parse`, and its stamp to `read`;
// false when there is no such file or it cannot be opened, otherwise what
// `parse` returns.
bool readSmallFile(const std::string& name, const std::function<bool(std::istream&)>& parse,
                   FileStamp* read = nullptr);

// Makes `bytes` the whole content of the file at `name`, flushed to disk,
// with its owner, group, mode, attributes and links. False when any step
// fails; the file then still loads its old or its new bytes.
//
// `seen` is the file the game last read or wrote at the name, replaced as it
// is; any other file there is first kept as a copy (see SmallFile.cpp), and
// `seen` then stamps the new file. Without `seen`, whatever is there goes.
bool replaceSmallFile(const std::string& name, std::string_view bytes,
                      std::optional<FileStamp>* seen);

// Removes what killed saves of these files left, reading each directory
// once; a temporary file that a running save still holds stays.
void removeLeftovers(const std::vector<std::string>& names);

} // namespace valdoria

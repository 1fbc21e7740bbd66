#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

namespace valdoria {

// The game's standard input and output. Tests point them at string streams.
// Every read flushes the output first, so a prompt is always visible.

std::istream& consoleIn();
std::ostream& consoleOut();

void setConsole(std::istream& in, std::ostream& out);

// Back to the process's standard streams, with input not yet ended.
void resetConsole();

// The longest word or line a read keeps, far beyond any command, spell or
// name. The rest of a longer entry is read and dropped, and the entry comes
// back as its first kMaxEntryLength characters followed by a line end: a
// value no word or line read can otherwise give, so it matches nothing.
inline constexpr std::size_t kMaxEntryLength = 4096;

// Skips blanks and empty lines and takes one blank-delimited word.
// False when the input ended before any word.
bool readWord(std::string& word);

// A word read that then drops the rest of its input line, as the menus read.
bool readCommandWord(std::string& word);

// Takes the whole next line without its line end. False when the input
// ended before anything could be read.
bool readLine(std::string& line);

// True once a read found the input ended; a battle in progress is then
// abandoned and the program ends.
bool hasInputEnded();

} // namespace valdoria

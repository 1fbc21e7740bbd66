#pragma once

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

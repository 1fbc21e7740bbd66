#include "base/Console.hpp"

#include <iostream>
#include <limits>
#include <locale>

namespace valdoria {

namespace {

using Traits = std::istream::traits_type;

struct ConsoleStreams {
  std::istream* in = &std::cin;
  std::ostream* out = &std::cout;
  bool inputEnded = false;
};

ConsoleStreams& streams() {
  static ConsoleStreams console;
  return console;
}

bool noteRead(bool succeeded) {
  if (!succeeded) {
    streams().inputEnded = true;
  }
  return succeeded;
}

// Whatever is typed, an entry holds at most kMaxEntryLength characters; a
// longer one is marked so that it cannot equal any word of the game.
void markOverLong(std::string& entry) {
  entry.resize(kMaxEntryLength);
  entry.push_back('\n');
}

// Takes a word as operator>> does (the same blanks, the same stream states
// at the end of input), keeping only its first characters.
bool extractWord(std::istream& in, std::string& word) {
  const std::istream::sentry skipBlanks(in);
  if (!skipBlanks) {
    return false;
  }
  word.clear();
  const auto& characters = std::use_facet<std::ctype<char>>(in.getloc());
  std::streambuf& buffer = *in.rdbuf();
  for (auto next = buffer.sgetc();; next = buffer.snextc()) {
    if (Traits::eq_int_type(next, Traits::eof())) {
      in.setstate(std::ios::eofbit);
      break;
    }
    const char typed = Traits::to_char_type(next);
    if (characters.is(std::ctype_base::space, typed)) {
      break;
    }
    if (word.size() <= kMaxEntryLength) {
      word.push_back(typed);
    }
  }
  in.width(0);
  if (word.size() > kMaxEntryLength) {
    markOverLong(word);
  }
  return true;
}

// Takes a line as std::getline does, keeping only its first characters; the
// rest of a longer line is read and dropped.
bool extractLine(std::istream& in, std::string& line) {
  const std::istream::sentry keepBlanks(in, true);
  if (!keepBlanks) {
    return false;
  }
  line.clear();
  const auto lineEnd = Traits::to_int_type(in.widen('\n'));
  std::streambuf& buffer = *in.rdbuf();
  while (line.size() <= kMaxEntryLength) {
    const auto next = buffer.sbumpc();
    if (Traits::eq_int_type(next, Traits::eof())) {
      // A last line without its line end still counts; nothing at all does not.
      if (line.empty()) {
        in.setstate(std::ios::eofbit | std::ios::failbit);
        return false;
      }
      in.setstate(std::ios::eofbit);
      return true;
    }
    if (Traits::eq_int_type(next, lineEnd)) {
      return true;
    }
    line.push_back(Traits::to_char_type(next));
  }
  in.ignore(std::numeric_limits<std::streamsize>::max(), lineEnd);
  markOverLong(line);
  return true;
}

} // namespace

std::istream& consoleIn() { return *streams().in; }

std::ostream& consoleOut() { return *streams().out; }

void setConsole(std::istream& in, std::ostream& out) {
  streams() = ConsoleStreams{&in, &out, false};
}

void resetConsole() { streams() = ConsoleStreams{}; }

bool readWord(std::string& word) {
  consoleOut().flush();
  return noteRead(extractWord(consoleIn(), word));
}

bool readCommandWord(std::string& word) {
  if (!readWord(word)) {
    return false;
  }
  consoleIn().ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  return true;
}

bool readLine(std::string& line) {
  consoleOut().flush();
  return noteRead(extractLine(consoleIn(), line));
}

bool hasInputEnded() { return streams().inputEnded; }

} // namespace valdoria

#include "base/Console.hpp"

#include <iostream>
#include <limits>

namespace valdoria {

namespace {

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

} // namespace

std::istream& consoleIn() { return *streams().in; }

std::ostream& consoleOut() { return *streams().out; }

void setConsole(std::istream& in, std::ostream& out) {
  streams() = ConsoleStreams{&in, &out, false};
}

void resetConsole() { streams() = ConsoleStreams{}; }

bool readWord(std::string& word) {
  consoleOut().flush();
  return noteRead(static_cast<bool>(consoleIn() >> word));
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
  return noteRead(static_cast<bool>(std::getline(consoleIn(), line)));
}

bool hasInputEnded() { return streams().inputEnded; }

} // namespace valdoria

#include "base/ConsoleWeb.hpp"

#include "base/Console.hpp"

#include <array>
#include <istream>
#include <ostream>
#include <streambuf>

#include <emscripten.h>

namespace valdoria {

namespace {

// The page's side of the console, in web/valdoria-page.js: Module.nextInput()
// gives what the player sent next, a line with its line end (or, after
// Ctrl-D, without), null once the input ends; Module.showOutput() takes the
// bytes written. An entry longer than the buffer is handed over in parts.
// Module's properties are named in quotes: the Closure Compiler keeps them.
// JavaScript, which clang-format would mangle.
// clang-format off
EM_ASYNC_JS(int, awaitInput, (char* buffer, int capacity), {
  while (!Module["pendingInput"] || Module["pendingInput"].length === 0) {
    const typed = await Module["nextInput"]();
    if (typed === null) {
      return -1;
    }
    Module["pendingInput"] = new TextEncoder().encode(typed);
  }
  const part = Module["pendingInput"].subarray(0, capacity);
  HEAPU8.set(part, buffer);
  Module["pendingInput"] = Module["pendingInput"].subarray(part.length);
  return part.length;
});

EM_JS(void, showOutput, (const char* text, int size), {
  Module["showOutput"](HEAPU8.slice(text, text + size));
});
// clang-format on

class PageInput : public std::streambuf {
protected:
  int_type underflow() override {
    if (ended) {
      return traits_type::eof();
    }
    const int count = awaitInput(buffer.data(), static_cast<int>(buffer.size()));
    if (count <= 0) {
      // As on a terminal after Ctrl-D: nothing more is read.
      ended = true;
      return traits_type::eof();
    }
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer[0]);
  }

private:
  std::array<char, 1024> buffer{};
  bool ended = false;
};

class PageOutput : public std::streambuf {
public:
  PageOutput() { setp(buffer.data(), buffer.data() + buffer.size()); }

protected:
  int_type overflow(int_type next) override {
    handOver();
    if (!traits_type::eq_int_type(next, traits_type::eof())) {
      sputc(traits_type::to_char_type(next));
    }
    return traits_type::not_eof(next);
  }

  int sync() override {
    handOver();
    return 0;
  }

private:
  void handOver() {
    if (pptr() != pbase()) {
      showOutput(pbase(), static_cast<int>(pptr() - pbase()));
    }
    setp(buffer.data(), buffer.data() + buffer.size());
  }

  std::array<char, 4096> buffer{};
};

} // namespace

void useWebConsole() {
  static PageInput input;
  static PageOutput output;
  static std::istream in(&input);
  static std::ostream out(&output);
  setConsole(in, out);
}

} // namespace valdoria

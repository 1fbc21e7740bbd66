#include "game/MainLoop.hpp"

#include <iostream>

int main() {
  // Every read flushes the output first, so unsynchronised streams are safe
  // and write once per prompt.
  std::ios::sync_with_stdio(false);
  return valdoria::runMainLoop();
}

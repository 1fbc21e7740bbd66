#include "game/MainLoop.hpp"

#include <iostream>

int main() {
  // The game flushes before every read; no write is needed in between.
  std::ios::sync_with_stdio(false);
  return valdoria::runMainLoop();
}

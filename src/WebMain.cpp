#include "base/Console.hpp"
#include "base/ConsoleWeb.hpp"
#include "combatants/Varen.hpp"
#include "game/MainLoop.hpp"
#include "save/HeroSaveFile.hpp"

#include <ostream>

#include <emscripten.h>

// The page's program: the game on the page's console, in the working
// directory the page has made of the browser's storage.

EM_JS(void, reportEnd, (int status), { Module.programEnded(status); });

int main() {
  valdoria::useWebConsole();
  const int status = valdoria::runMainLoop();
  valdoria::consoleOut().flush();
  reportEnd(status);
  return status;
}

// For the page's "Upload heroes": whether the file at `name` loads as a
// hero's save file, by the game's own load.
extern "C" EMSCRIPTEN_KEEPALIVE int valdoria_heroFileLoads(const char* name) {
  valdoria::Varen hero;
  return valdoria::loadHero(hero, name) ? 1 : 0;
}

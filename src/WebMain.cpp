#include "base/Console.hpp"
#include "base/ConsoleWeb.hpp"
#include "combatants/Varen.hpp"
#include "game/MainLoop.hpp"
#include "save/HeroSaveFile.hpp"

#include <cstddef>
#include <cstdio>
#include <ostream>

#include <emscripten.h>

// The page's program: the game on the page's console (web/valdoria-page.js),
// its working directory /heroes, held in memory and kept in IndexedDB by the
// party's guard (save/PartyGuardWeb.cpp).

EM_JS(void, openHeroesDirectory, (), {
  FS.mkdir("/heroes");
  FS.mount(MEMFS, {}, "/heroes");
  FS.chdir("/heroes");
});

EM_JS(void, reportEnd, (int status), { Module["programEnded"](status); });

int main() {
  openHeroesDirectory();
  valdoria::useWebConsole();
  const int status = valdoria::runMainLoop();
  valdoria::consoleOut().flush();
  reportEnd(status);
  return status;
}

// For the page's "Upload heroes": whether these bytes load as a hero's save
// file, by the game's own load.
extern "C" EMSCRIPTEN_KEEPALIVE int valdoria_heroFileLoads(const char* bytes, int size) {
  const char* const name = "/tmp/uploaded-hero";
  std::FILE* const file = std::fopen(name, "wb");
  if (file == nullptr) {
    return 0;
  }
  std::fwrite(bytes, 1, static_cast<std::size_t>(size), file);
  std::fclose(file);
  valdoria::Varen hero;
  return valdoria::loadHero(hero, name) ? 1 : 0;
}

#include "base/Console.hpp"
#include "base/ConsoleWeb.hpp"
#include "combatants/Varen.hpp"
#include "game/MainLoop.hpp"
#include "game/PartyFiles.hpp"
#include "save/HeroSaveFile.hpp"

#include <cstddef>
#include <cstdio>
#include <ostream>
#include <string>

#include <sys/stat.h>

#include <emscripten.h>

// The page's program: the game on the page's console (web/valdoria-page.js),
// its working directory /heroes, held in memory and kept in IndexedDB by the
// party's guard (save/PartyGuardWeb.cpp).

EM_JS(void, openHeroesDirectory, (), {
  if (!FS.analyzePath("/heroes").exists) {
    FS.mkdir("/heroes");
    FS.mount(MEMFS, {}, "/heroes");
  }
  FS.chdir("/heroes");
});

EM_JS(void, reportEnd, (int status), { Module["programEnded"](status); });

namespace {

const char* const kUploads = "/uploads";

} // namespace

int main() {
  openHeroesDirectory();
  valdoria::useWebConsole();
  const int status = valdoria::runMainLoop();
  valdoria::consoleOut().flush();
  reportEnd(status);
  return status;
}

// For the page's "Upload heroes", in an instance of its own: the heroes'
// files, a blank between names.
extern "C" EMSCRIPTEN_KEEPALIVE const char* valdoria_heroFiles() {
  static std::string names;
  names.clear();
  for (const std::string& name : valdoria::partyFileNames())
    names += (names.empty() ? "" : " ") + name;
  return names.c_str();
}

// Takes one uploaded file, the name one of the heroes' files: 1 when it
// loads as a hero's save file, by the game's own load.
extern "C" EMSCRIPTEN_KEEPALIVE int valdoria_takeUpload(const char* name, const char* bytes,
                                                        int size) {
  ::mkdir(kUploads, 0700);
  const std::string path = std::string(kUploads) + "/" + name;
  std::FILE* const file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return 0;
  const bool written =
      std::fwrite(bytes, 1, static_cast<std::size_t>(size), file) == static_cast<std::size_t>(size);
  if (std::fclose(file) != 0 || !written)
    return 0;
  valdoria::Varen hero;
  return valdoria::loadHero(hero, path) ? 1 : 0;
}

// Then puts the files taken in place of the heroes', as a won battle's
// save does, the replaced files kept as copies: 1 when stored.
extern "C" EMSCRIPTEN_KEEPALIVE int valdoria_keepUploads() {
  openHeroesDirectory();
  return valdoria::replacePartyFiles(kUploads) ? 1 : 0;
}

#include "save/PartyGuard.hpp"

#include <emscripten.h>

namespace valdoria {

// In the browser the working directory is held in memory (MEMFS) and kept
// in IndexedDB in emscripten's IDBFS layout, and two tabs of the page are
// two games in it. The lock is the Web Locks API's, shared by every tab of
// the site: shared to read, exclusive to write. Where the browser has no
// such lock (a page not served from a secure origin), the party is read and
// written without one, as a refused lock is on the console. Names the
// browser defines are written in quotes, which the Closure Compiler keeps.

namespace {

// JavaScript, which clang-format would mangle.
// clang-format off
EM_ASYNC_JS(void, takeLockAndReadStored, (int exclusive), {
  const locks = navigator["locks"];
  if (locks) {
    await new Promise(taken => {
      const mode = exclusive ? "exclusive" : "shared";
      locks["request"]("valdoria-heroes", {"mode": mode}, () => new Promise(release => {
        Module["releaseHeroes"] = release;
        taken();
      }));
    });
  }
  // What another tab saved since, read afresh.
  await new Promise(done => IDBFS.syncfs(FS.lookupPath(".").node.mount, true, error => {
    if (error) {
      console.error("Valdoria: the kept heroes could not be read", error);
    }
    done();
  }));
});

// The whole party goes to IndexedDB in one sync, one transaction: a tab
// closed meanwhile leaves the old party or the new one. A file's own sync
// stays in memory, so no hero goes alone.
EM_ASYNC_JS(int, storeWritten, (), {
  return await new Promise(done => IDBFS.syncfs(FS.lookupPath(".").node.mount, false, error => {
    if (error) {
      console.error("Valdoria: the heroes could not be kept", error);
    }
    done(error ? 0 : 1);
  }));
});

EM_JS(void, releaseLock, (), {
  if (Module["releaseHeroes"]) {
    Module["releaseHeroes"]();
    Module["releaseHeroes"] = null;
  }
});
// clang-format on

} // namespace

struct PartyGuard::Held {};

PartyGuard::PartyGuard(Use use) : held(std::make_unique<Held>()) {
  // Before a save too: the files the game replaces or keeps as NAME.bak are
  // those in IndexedDB now, as on the console they are the directory's.
  takeLockAndReadStored(use == Use::Writing ? 1 : 0);
}

PartyGuard::~PartyGuard() { releaseLock(); }

// A party the browser did not store is not saved: closing the tab would lose it.
bool PartyGuard::commit() { return storeWritten() != 0; }

} // namespace valdoria

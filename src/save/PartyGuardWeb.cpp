#include "save/PartyGuard.hpp"

#include <emscripten.h>

namespace valdoria {

// In the browser the working directory is held in memory (MEMFS) and kept
// in IndexedDB by the heroes' store (HeroStoreWeb.js): the guard reads the
// stored files into memory, and commit() stores what the save changed, but
// only if no other tab stored a file since the read. Two tabs of the page
// are two games in one directory; the Web Lock orders them (shared to read,
// exclusive to write) where the browser has one, as the lock file does on
// the console. Names the Closure Compiler must keep are written in quotes.

namespace {

// JavaScript, which clang-format would mangle.
// clang-format off
// 0 where the browser refused the lock.
EM_ASYNC_JS(int, takeLock, (int exclusive, int patience), {
  try {
    Module["releaseHeroes"] = await window["valdoriaHeroStore"]["lock"](exclusive, patience);
    return 1;
  } catch (error) {
    if (Module["storeProblem"]) {
      Module["storeProblem"]("locked", error);
    }
    return 0;
  }
});

EM_JS(void, releaseLock, (), {
  const release = Module["releaseHeroes"];
  Module["releaseHeroes"] = null;
  if (release) {
    release();
  }
});

// The stored files made the directory's, each held as it was read (name to
// generation, bytes and mode); a file in memory that already holds a stored
// file's bytes stays the same file, as on a disk nobody wrote to. 1 when
// read.
EM_ASYNC_JS(int, readStored, (), {
  const same = window["valdoriaHeroStore"]["sameBytes"];
  const regular = (name) => FS.isFile(FS.stat(name).mode);
  try {
    const stored = await window["valdoriaHeroStore"]["read"]();
    for (const name of FS.readdir(".")) {
      if (name !== "." && name !== ".." && !stored.has(name) && regular(name)) {
        FS.unlink(name);
      }
    }
    const read = new Map();
    stored.forEach((file, name) => {
      const bytes = file["bytes"];
      const mode = file["mode"];
      const held = FS.analyzePath(name).exists && regular(name) && FS.stat(name).mode === mode &&
                   same(FS.readFile(name), bytes);
      if (!held) {
        if (FS.analyzePath(name).exists) {
          FS.unlink(name);
        }
        FS.writeFile(name, bytes);
        FS.chmod(name, mode);
      }
      read.set(name, {"generation": file["generation"], "bytes": bytes, "mode": mode});
    });
    Module["heroesRead"] = read;
    return 1;
  } catch (error) {
    if (Module["storeProblem"]) {
      Module["storeProblem"]("read", error);
    }
    return 0;
  }
});

// What changed since the read, stored: 1 when stored, 2 when another tab
// stored first (nothing stored), 0 when the browser stored nothing.
EM_ASYNC_JS(int, storeChanged, (), {
  const same = window["valdoriaHeroStore"]["sameBytes"];
  const read = Module["heroesRead"];
  const seen = new Map();
  const changes = new Map();
  read.forEach((file, name) => {
    seen.set(name, file["generation"]);
    changes.set(name, null);
  });
  for (const name of FS.readdir(".")) {
    const status = name === "." || name === ".." ? null : FS.stat(name);
    if (!status || !FS.isFile(status.mode)) {
      continue;
    }
    const bytes = FS.readFile(name);
    const before = read.get(name);
    if (before && before["mode"] === status.mode && same(before["bytes"], bytes)) {
      changes.delete(name);
    } else {
      changes.set(name, {"bytes": bytes, "mode": status.mode});
    }
  }
  try {
    const stored = await window["valdoriaHeroStore"]["store"](seen, changes);
    if (!stored) {
      return 2;
    }
    stored.forEach((generation, name) => {
      const file = changes.get(name);
      if (file) {
        read.set(name, {"generation": generation, "bytes": file["bytes"], "mode": file["mode"]});
      } else {
        read.delete(name);
      }
    });
    return 1;
  } catch (error) {
    if (Module["storeProblem"]) {
      Module["storeProblem"]("stored", error);
    }
    return 0;
  }
});
// clang-format on

} // namespace

struct PartyGuard::Held {
  bool read = false;
};

PartyGuard::PartyGuard(Use use) : held(std::make_unique<Held>()) {
  // Before a save too: what the save keeps or replaces is what is stored
  // now, as on the console it is what the directory holds.
  // A refused lock is an error, not one held by another: a save fails.
  const bool locked =
      takeLock(use == Use::Writing ? 1 : 0, static_cast<int>(kPartyLockWait.count())) != 0;
  held->read = (locked || use == Use::Reading) && readStored() != 0;
}

PartyGuard::~PartyGuard() { releaseLock(); }

// A party the browser did not store is not saved: closing the tab would
// lose it. Nor is one written over files that were not read afresh.
PartyGuard::Stored PartyGuard::commit() {
  if (!held->read)
    return Stored::No;
  const int stored = storeChanged();
  if (stored == 1)
    return Stored::Yes;
  if (stored == 0)
    return Stored::No;
  held->read = readStored() != 0;
  return held->read ? Stored::Overtaken : Stored::No;
}

} // namespace valdoria

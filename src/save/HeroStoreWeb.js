// The heroes' files as the browser keeps them: IndexedDB's database
// "/heroes", object store "files", one record a file keyed by its name: its
// bytes, its mode and a generation that every store of it renews. A party is
// stored only if no record changed since it was read, in one transaction, so
// another tab's party is never overwritten unseen, and no party goes in half.
// The game's party guard (PartyGuardWeb.cpp) holds the files in memory
// between a read and a store; the page reads them for its download.
// eslint-disable-next-line no-unused-vars
var valdoriaHeroStore = (() => {
  "use strict";

  const lockName = "valdoria-heroes";
  // Emscripten's IDBFS kept the files in version 21, in "FILE_DATA" keyed by
  // path: moved over once, when the store is made, and left there.
  const version = 22;
  const earlierFiles = "FILE_DATA";
  const earlierPrefix = "/heroes/";
  const regularFile = 0o100000;
  // A tab holding an older page open keeps the upgrade waiting.
  const upgradePatience = 10000;

  let opened = null;

  function open() {
    if (opened) {
      return opened;
    }
    opened = new Promise((done, fail) => {
      const request = indexedDB.open("/heroes", version);
      request.onblocked = () =>
        setTimeout(() => fail(new Error("a tab with an older Valdoria page holds the heroes: close it")), upgradePatience);
      request.onupgradeneeded = () => {
        const files = request.result.createObjectStore("files");
        if (request.result.objectStoreNames.contains(earlierFiles)) {
          moveEarlierFiles(request.transaction.objectStore(earlierFiles), files);
        }
      };
      request.onsuccess = () => {
        const database = request.result;
        database.onversionchange = () => {
          database.close();
          opened = null;
        };
        done(database);
      };
      request.onerror = () => fail(request.error);
    }).catch((error) => {
      opened = null;
      throw error;
    });
    return opened;
  }

  function moveEarlierFiles(from, to) {
    const cursor = from.openCursor();
    cursor.onsuccess = () => {
      const at = cursor.result;
      if (!at) {
        return;
      }
      const path = String(at.key);
      const name = path.slice(earlierPrefix.length);
      const file = at.value;
      if (path.startsWith(earlierPrefix) && !name.includes("/") && (file.mode & 0o170000) === regularFile && file.contents) {
        to.put({ bytes: new Uint8Array(file.contents), mode: file.mode, generation: newGeneration() }, name);
      }
      at.continue();
    };
  }

  // Never the same twice, so a record stored again is never taken for the
  // one read before.
  function newGeneration() {
    const [high, low] = crypto.getRandomValues(new Uint32Array(2));
    return high * 0x100000000 + low;
  }

  // One transaction: `work` makes its requests and gives what the
  // transaction yields once complete. It aborts on any error, or by the
  // abort(reason) given to `work`.
  async function inTransaction(mode, work) {
    const database = await open();
    return new Promise((done, fail) => {
      const transaction = database.transaction("files", mode);
      let result;
      let reason = null;
      const abort = (why) => {
        reason = why;
        transaction.abort();
      };
      transaction.oncomplete = () => done(result);
      transaction.onabort = () => fail(transaction.error || reason || new Error("nothing was stored"));
      try {
        result = work(transaction.objectStore("files"), abort);
      } catch (error) {
        abort(error);
      }
    });
  }

  // Every record, name to {bytes, mode, generation}.
  function read() {
    return inTransaction("readonly", (files) => {
      const found = new Map();
      const keys = files.getAllKeys();
      const values = files.getAll();
      values.onsuccess = () => keys.result.forEach((name, index) => found.set(name, values.result[index]));
      return found;
    });
  }

  // Stores `changes` (name to {bytes, mode}, or null to remove) if every
  // record is still as `read` (name to generation) saw it. Gives the new
  // generations by name once stored; null, after a pause that lets the
  // other go first, when another tab stored meanwhile, which leaves
  // everything as it is. Anything else that fails throws.
  async function store(read, changes) {
    const generations = new Map();
    let overtaken = false;
    try {
      await inTransaction("readwrite", (files, abort) => {
        const keys = files.getAllKeys();
        const values = files.getAll();
        values.onsuccess = () => {
          const now = keys.result;
          overtaken =
            now.length !== read.size || now.some((name, index) => read.get(name) !== values.result[index].generation);
          if (overtaken) {
            abort(null);
            return;
          }
          try {
            for (const [name, file] of changes) {
              if (file) {
                generations.set(name, newGeneration());
                files.put({ bytes: file.bytes, mode: file.mode, generation: generations.get(name) }, name);
              } else {
                generations.set(name, null);
                files.delete(name);
              }
            }
          } catch (error) {
            abort(error);
          }
        };
      });
    } catch (error) {
      if (!overtaken) {
        throw error;
      }
      await new Promise((resume) => setTimeout(resume, Math.random() * 50));
      return null;
    }
    return generations;
  }

  // The lock that orders the tabs' reads and stores, shared or exclusive:
  // resolves to its release once held, or to null where the browser has no
  // Web Locks or keeps the lock from us for `patience` milliseconds (as the
  // console does, it goes on without). Rejects where the browser refuses
  // it. Correctness never rests on it: store() checks.
  function lock(exclusive, patience) {
    const locks = navigator.locks;
    if (!locks) {
      return Promise.resolve(null);
    }
    return new Promise((taken, refused) => {
      const options = { mode: exclusive ? "exclusive" : "shared" };
      if (typeof AbortSignal.timeout === "function") {
        options.signal = AbortSignal.timeout(patience);
      }
      locks
        .request(lockName, options, () => new Promise((release) => taken(release)))
        .catch((error) => (error && error.name === "TimeoutError" ? taken(null) : refused(error)));
    });
  }

  const sameBytes = (one, other) => one.length === other.length && one.every((byte, at) => byte === other[at]);

  return { lock, read, store, sameBytes };
})();

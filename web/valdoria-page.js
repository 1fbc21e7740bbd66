"use strict";

// The page plays the game as a terminal does: the log shows the bytes the
// game writes and, after each prompt, the line the player entered. Each run
// is a fresh instance of the game's program (valdoria.js), whose working
// directory is /heroes, kept in the browser's IndexedDB.

(() => {
  const log = document.getElementById("log");
  const form = document.getElementById("entry-form");
  const field = document.getElementById("entry");
  const note = document.getElementById("note");
  const endInputButton = document.getElementById("end-input");
  const playAgainButton = document.getElementById("play-again");
  const uploadPicker = document.getElementById("upload-files");

  const heroFiles = ["Varen.txt", "Gorak.txt", "Mirel.txt"];
  // The same lock as the game's party guard (src/save/PartyGuardWeb.cpp).
  const lockName = "valdoria-heroes";

  // The program is compiled once and instantiated for each run, and for
  // each check of an uploaded file.
  let compiled = null;
  function instantiateWasm(imports, receive) {
    compiled ??= fetch("valdoria.wasm")
      .then((response) => response.arrayBuffer())
      .then((bytes) => WebAssembly.compile(bytes));
    compiled
      .then((module) => WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module)))
      .catch((error) => say(`The game could not be loaded: ${error}`));
    return {};
  }

  // Where the browser has no Web Locks (a page not from a secure origin),
  // as the game does: without.
  function withLock(mode, work) {
    return navigator.locks ? navigator.locks.request(lockName, { mode }, work) : work();
  }

  // The game's working directory, /heroes, as emscripten's IDBFS keeps it:
  // database "/heroes", one record a file in "FILE_DATA", keyed by path.
  function openStore() {
    return new Promise((done, fail) => {
      const request = indexedDB.open("/heroes", 21);
      request.onupgradeneeded = () => {
        const files = request.result.createObjectStore("FILE_DATA");
        files.createIndex("timestamp", "timestamp", { unique: false });
      };
      request.onsuccess = () => done(request.result);
      request.onerror = () => fail(request.error);
    });
  }

  function inStore(mode, work) {
    return openStore().then(
      (database) =>
        new Promise((done, fail) => {
          const transaction = database.transaction("FILE_DATA", mode);
          const result = work(transaction.objectStore("FILE_DATA"));
          transaction.oncomplete = () => {
            database.close();
            done(result);
          };
          transaction.onerror = () => fail(transaction.error);
        }),
    );
  }

  function say(text) {
    note.textContent = text;
  }

  function append(text) {
    log.append(text);
    log.scrollTop = log.scrollHeight;
  }

  // One run of the game.
  let sent = [];
  let waiting = null;
  let ended = false;
  let running = false;

  function send(typed) {
    if (!running || ended) {
      return;
    }
    append(typed);
    sent.push(typed);
    wake();
  }

  function endInput() {
    if (!running || ended) {
      return;
    }
    ended = true;
    sent.push(null);
    wake();
  }

  // The game reads on: what it waited for has come.
  function wake() {
    if (!waiting) {
      return;
    }
    const resolve = waiting;
    waiting = null;
    document.body.dataset.state = "running";
    resolve(sent.shift());
  }

  async function play() {
    log.textContent = "";
    say("");
    sent = [];
    waiting = null;
    ended = false;
    running = true;
    playAgainButton.hidden = true;
    endInputButton.disabled = false;
    field.disabled = false;
    field.focus();
    const decoder = new TextDecoder();
    document.body.dataset.state = "running";
    const game = await Valdoria({
      instantiateWasm,
      nextInput: () => {
        if (sent.length > 0) {
          return Promise.resolve(sent.shift());
        }
        document.body.dataset.state = "waiting";
        return new Promise((resolve) => (waiting = resolve));
      },
      showOutput: (bytes) => append(decoder.decode(bytes, { stream: true })),
      programEnded: () => {
        running = false;
        document.body.dataset.state = "ended";
        field.disabled = true;
        endInputButton.disabled = true;
        playAgainButton.hidden = false;
        say("The game has ended. Your heroes are kept in this browser.");
        playAgainButton.focus();
      },
    });
    game.callMain([]);
  }

  // The player's entries: Enter sends the line, as a terminal echoes it;
  // Ctrl-D sends what is typed without a line end, or, with nothing typed,
  // ends the input.
  const history = [];
  let recalled = 0;
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    const line = field.value;
    field.value = "";
    if (line !== "" && history[history.length - 1] !== line) {
      history.push(line);
    }
    recalled = history.length;
    send(`${line}\n`);
  });
  field.addEventListener("keydown", (event) => {
    if (event.key === "d" && event.ctrlKey) {
      event.preventDefault();
      const typed = field.value;
      field.value = "";
      if (typed === "") {
        endInput();
        return;
      }
      send(typed);
      return;
    }
    if (event.key !== "ArrowUp" && event.key !== "ArrowDown") {
      return;
    }
    event.preventDefault();
    recalled = Math.max(0, Math.min(history.length, recalled + (event.key === "ArrowUp" ? -1 : 1)));
    field.value = history[recalled] ?? "";
  });
  log.addEventListener("click", () => {
    if (!field.disabled && !window.getSelection().toString()) {
      field.focus();
    }
  });
  endInputButton.addEventListener("click", () => {
    endInput();
    field.focus();
  });
  playAgainButton.addEventListener("click", play);

  // The heroes carried to and from the console game: the same files, the
  // same bytes.
  // With the kept copies, NAME.bak and NAME.bak.2 to NAME.bak.9, where saves made them.
  const copies = ["", ".bak", ...[2, 3, 4, 5, 6, 7, 8, 9].map((number) => `.bak.${number}`)];
  const downloaded = copies.flatMap((copy) => heroFiles.map((name) => name + copy));
  document.getElementById("download").addEventListener("click", async () => {
    const found = [];
    await withLock("shared", () =>
      inStore("readonly", (store) => {
        for (const name of downloaded) {
          store.get(`/heroes/${name}`).onsuccess = (event) => {
            if (event.target.result) {
              found.push([name, event.target.result.contents]);
            }
          };
        }
      }),
    );
    const files = downloaded.flatMap((name) => found.filter(([kept]) => kept === name));
    field.focus();
    if (files.length === 0) {
      say("No heroes are kept yet: win a battle first.");
      return;
    }
    const link = document.createElement("a");
    link.href = URL.createObjectURL(zip(files));
    link.download = "valdoria-heroes.zip";
    link.click();
    URL.revokeObjectURL(link.href);
    say(`Downloaded ${files.map(([name]) => name).join(", ")} in valdoria-heroes.zip.`);
  });

  document.getElementById("upload").addEventListener("click", () => uploadPicker.click());
  uploadPicker.addEventListener("change", async () => {
    const picked = [...uploadPicker.files];
    uploadPicker.value = "";
    if (picked.length > 0) {
      say(await upload(picked));
    }
    field.focus();
  });

  // Every file is checked by the game's own load; one that would not load
  // refuses the whole upload, so nothing is overwritten.
  async function upload(picked) {
    const checker = await Valdoria({ instantiateWasm });
    const files = [];
    for (const file of picked) {
      if (!heroFiles.includes(file.name)) {
        return `Refused ${file.name}: the heroes' files are ${heroFiles.join(", ")}. Nothing was changed.`;
      }
      const bytes = new Uint8Array(await file.arrayBuffer());
      if (!checker.ccall("valdoria_heroFileLoads", "number", ["array", "number"], [bytes, bytes.length])) {
        return `Refused ${file.name}: it does not load as a hero's file (seven whole numbers). Nothing was changed.`;
      }
      files.push([file.name, bytes]);
    }
    await withLock("exclusive", () =>
      inStore("readwrite", (store) => {
        for (const [name, contents] of files) {
          // A regular file readable and writable by its owner (0100644).
          store.put({ timestamp: new Date(), mode: 0o100644, contents }, `/heroes/${name}`);
        }
      }),
    );
    return `Uploaded ${files.map(([name]) => name).join(", ")}: the next battle starts from them.`;
  }

  // A zip archive of stored files, as every system unpacks.
  function zip(files) {
    const crcTable = Array.from({ length: 256 }, (_, byte) => {
      let crc = byte;
      for (let bit = 0; bit < 8; ++bit) {
        crc = crc & 1 ? 0xedb88320 ^ (crc >>> 1) : crc >>> 1;
      }
      return crc >>> 0;
    });
    const crc32 = (bytes) => ~bytes.reduce((crc, byte) => crcTable[(crc ^ byte) & 0xff] ^ (crc >>> 8), ~0) >>> 0;
    const parts = [];
    const directory = [];
    let offset = 0;
    for (const [name, bytes] of files) {
      const encodedName = new TextEncoder().encode(name);
      // Version, flags, stored, time, date (1980-01-01), crc, sizes, name length.
      const fields = (signature, extra) => {
        const header = new DataView(new ArrayBuffer(extra ? 46 : 30));
        let at = 0;
        const put = (value, size) => {
          size === 2 ? header.setUint16(at, value, true) : header.setUint32(at, value, true);
          at += size;
        };
        put(signature, 4);
        if (extra) {
          put(20, 2);
        }
        [20, 0, 0, 0, 33].forEach((value) => put(value, 2));
        [crc32(bytes), bytes.length, bytes.length].forEach((value) => put(value, 4));
        put(encodedName.length, 2);
        put(0, 2);
        if (extra) {
          [0, 0, 0].forEach((value) => put(value, 2));
          [0, offset].forEach((value) => put(value, 4));
        }
        return new Uint8Array(header.buffer);
      };
      const local = fields(0x04034b50, false);
      directory.push(fields(0x02014b50, true), encodedName);
      parts.push(local, encodedName, bytes);
      offset += local.length + encodedName.length + bytes.length;
    }
    const directorySize = directory.reduce((size, part) => size + part.length, 0);
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    end.setUint16(8, files.length, true);
    end.setUint16(10, files.length, true);
    end.setUint32(12, directorySize, true);
    end.setUint32(16, offset, true);
    return new Blob([...parts, ...directory, end], { type: "application/zip" });
  }

  play().catch((error) => say(`The game could not be started: ${error}`));
})();

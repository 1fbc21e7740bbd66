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

  const home = "/heroes";
  const heroFiles = ["Varen.txt", "Gorak.txt", "Mirel.txt"];
  // The same lock as the game's party guard (src/save/PartyGuardWeb.cpp).
  const lockName = "valdoria-heroes";

  // The program is compiled once and instantiated for each run.
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

  async function startInstance(pageSide) {
    const game = await Valdoria({ instantiateWasm, ...pageSide });
    game.FS.mkdir(home);
    game.FS.mount(game.FS.filesystems.IDBFS, {}, home);
    game.FS.chdir(home);
    return game;
  }

  function sync(game, fromStorage) {
    return new Promise((done, fail) => game.FS.syncfs(fromStorage, (error) => (error ? fail(error) : done())));
  }

  // Where the browser has no Web Locks (a page not from a secure origin),
  // as the game does: without.
  function withLock(mode, work) {
    return navigator.locks ? navigator.locks.request(lockName, { mode }, work) : work();
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
    if (waiting) {
      const resolve = waiting;
      waiting = null;
      resolve(typed);
      return;
    }
    sent.push(typed);
  }

  function endInput() {
    if (!running || ended) {
      return;
    }
    ended = true;
    sent.push(null);
    if (waiting) {
      waiting(sent.shift());
      waiting = null;
    }
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
    const game = await startInstance({
      nextInput: () => (sent.length > 0 ? Promise.resolve(sent.shift()) : new Promise((resolve) => (waiting = resolve))),
      showOutput: (bytes) => append(decoder.decode(bytes, { stream: true })),
      programEnded: () => {
        running = false;
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
  document.getElementById("download").addEventListener("click", async () => {
    const game = await startInstance({});
    const files = await withLock("shared", async () => {
      await sync(game, true);
      return heroFiles.filter((name) => game.FS.analyzePath(name).exists).map((name) => [name, game.FS.readFile(name)]);
    });
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
    field.focus();
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
    const game = await startInstance({});
    game.FS.mkdir("/check");
    const files = [];
    for (const file of picked) {
      if (!heroFiles.includes(file.name)) {
        return `Refused ${file.name}: the heroes' files are ${heroFiles.join(", ")}. Nothing was changed.`;
      }
      const bytes = new Uint8Array(await file.arrayBuffer());
      game.FS.writeFile(`/check/${file.name}`, bytes);
      if (!game.ccall("valdoria_heroFileLoads", "number", ["string"], [`/check/${file.name}`])) {
        return `Refused ${file.name}: it does not load as a hero's file (seven whole numbers). Nothing was changed.`;
      }
      files.push([file.name, bytes]);
    }
    await withLock("exclusive", async () => {
      await sync(game, true);
      for (const [name, bytes] of files) {
        game.FS.writeFile(name, bytes);
      }
      await sync(game, false);
    });
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

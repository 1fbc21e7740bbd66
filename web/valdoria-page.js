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
  const commands = document.getElementById("commands");
  const uploadButton = document.getElementById("upload");
  const uploadHint = document.getElementById("upload-hint");
  const uploadPicker = document.getElementById("upload-files");

  // A terminal's scrollback: the log keeps the last lines only, so a long
  // session stays as quick as a short one (a browser lays the log out anew
  // as it grows). 2,000 lines hold the longest battles whole, with room.
  const scrollback = 2000;
  // A hero's file is some 25 bytes: anything far larger is no hero's.
  const largestUpload = 1 << 20;

  // The program is compiled once and instantiated for each run, and for
  // each upload; a failed fetch is tried again the next time.
  let compiled = null;
  function compile() {
    compiled ??= fetch("valdoria.wasm")
      .then((response) => {
        if (!response.ok) {
          throw new Error(`valdoria.wasm: ${response.status} ${response.statusText}`);
        }
        return response.arrayBuffer();
      })
      .then((bytes) => WebAssembly.compile(bytes))
      .catch((error) => {
        compiled = null;
        throw error;
      });
    return compiled;
  }

  // A new instance of the program, with the page's side of its console.
  async function instance(pageSide = {}) {
    const module = await compile();
    let failed;
    const failure = new Promise((_, fail) => (failed = fail));
    return Promise.race([
      Valdoria({
        ...pageSide,
        instantiateWasm: (imports, receive) => {
          WebAssembly.instantiate(module, imports).then((made) => receive(made, module), failed);
          return {};
        },
        storeProblem: (what, error) => {
          problem = `The heroes kept in this browser could not be ${what}: ${String(error).replace(/\.$/, "")}. ${remedy(error)}`;
          say(problem);
        },
      }),
      failure,
    ]);
  }

  // What the player can do about a failure of the browser's storage.
  function remedy(error) {
    const name = error && error.name;
    if (name === "QuotaExceededError") {
      return "The browser's storage for this site is full: free some space, then win a battle again.";
    }
    if (["InvalidStateError", "SecurityError", "NotAllowedError"].includes(name)) {
      return "This browser may keep no data for this site (private browsing, or storage turned off): play in a normal window.";
    }
    return "Try again; if it goes on, close the site's other tabs and reload.";
  }

  // What last went wrong with the heroes' store, said again at the end.
  let problem = "";
  function say(text) {
    note.textContent = text;
  }

  // The log holds a line a block, the last one open, so that the oldest
  // lines go one by one.
  let openLine = null;
  function append(text) {
    const pieces = text.split("\n");
    pieces.forEach((piece, index) => {
      const last = index === pieces.length - 1;
      const added = last ? piece : `${piece}\n`;
      if (added !== "") {
        if (!openLine) {
          openLine = document.createElement("div");
          log.append(openLine);
        }
        openLine.append(added);
      }
      if (!last) {
        openLine = null;
      }
    });
    while (log.childElementCount > scrollback) {
      log.firstElementChild.remove();
    }
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
    showState();
    resolve(sent.shift());
  }

  async function play() {
    log.textContent = "";
    openLine = null;
    problem = "";
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
    showState();
    const game = await instance({
      nextInput: () => {
        if (sent.length > 0) {
          return Promise.resolve(sent.shift());
        }
        document.body.dataset.state = "waiting";
        showState();
        return new Promise((resolve) => (waiting = resolve));
      },
      showOutput: (bytes) => append(decoder.decode(bytes, { stream: true })),
      programEnded: () => {
        stop(`The game has ended. ${problem || "Your heroes are kept in this browser."}`);
        // The log, not the button: an Enter meant for the field starts nothing.
        log.focus();
      },
    });
    game.callMain([]);
  }

  function start() {
    play().catch((error) => stop(`The game could not be started: ${error}. Check the connection, then press Play again.`));
  }

  // The run is over, for the reason said.
  function stop(reason) {
    running = false;
    document.body.dataset.state = "ended";
    field.disabled = true;
    endInputButton.disabled = true;
    playAgainButton.hidden = false;
    say(reason);
    showState();
  }

  // Between battles: at a question whether to fight, or with no game on.
  function betweenBattles() {
    return !running || (document.body.dataset.state === "waiting" && openLine?.textContent.endsWith("(yes/no)? "));
  }

  // What the game asks now, read from its prompt and the listing before
  // it, as a player reads them: each answer a button that enters it.
  const menus = {
    "Main menu: ": ["MAIN MENU", (line) => line],
    "Magic select menu: ": ["MAGIC SELECT MENU", (line) => line.split(" - ")[0]],
    "Monster select menu: ": ["MONSTER SELECT MENU", (line) => line.split(" - ")[0]],
    "Status menu: ": ["STATUS MENU", () => null],
  };
  function answers() {
    const prompt = openLine?.textContent ?? "";
    if (prompt.endsWith("(yes/no)? ")) {
      return ["yes", "no"];
    }
    const menu = Object.keys(menus).find((ending) => prompt.endsWith(ending));
    if (!menu) {
      return [];
    }
    const [heading, pick] = menus[menu];
    const lines = [...log.children].slice(-400).map((line) => line.textContent.replace(/\n$/, ""));
    const found = [];
    for (const line of lines.slice(lines.lastIndexOf(heading) + 1)) {
      if (line.startsWith("BACK to return")) {
        return [...found, "BACK"];
      }
      if (line === "") {
        if (found.length > 0 && menu === "Main menu: ") return found;
        continue;
      }
      const answer = pick(line);
      if (answer) found.push(answer);
    }
    return lines.includes(heading) ? found : [];
  }
  function showAnswers() {
    const waiting = document.body.dataset.state === "waiting";
    commands.replaceChildren(
      ...(waiting ? answers() : []).map((answer) => {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = answer;
        button.addEventListener("click", () => enter(answer));
        return button;
      }),
    );
  }

  // The answers at hand; uploads wait for a battle's end, as its save
  // would go over them.
  function showState() {
    showAnswers();
    const between = betweenBattles();
    uploadButton.disabled = !between;
    uploadHint.hidden = between;
    // The controls below the log change its height: its last line stays in view.
    log.scrollTop = log.scrollHeight;
  }

  // The player's entries: Enter sends the line, as a terminal echoes it;
  // Ctrl-D sends what is typed without a line end, or, with nothing typed,
  // ends the input.
  const history = [];
  let recalled = 0;
  function enter(line) {
    if (line !== "" && history[history.length - 1] !== line) {
      history.push(line);
    }
    recalled = history.length;
    send(`${line}\n`);
  }
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    const line = field.value;
    field.value = "";
    enter(line);
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
  playAgainButton.addEventListener("click", start);
  form.onsubmit = null;

  // The heroes carried to and from the console game: the same files, the
  // same bytes, with the copies that saves kept beside them.
  let downloadAddress = null;
  document.getElementById("download").addEventListener("click", async () => {
    field.focus();
    let stored;
    try {
      stored = await valdoriaHeroStore.read();
    } catch (error) {
      say(`The heroes kept in this browser could not be read: ${error}.`);
      return;
    }
    // The heroes' files, then their copies, oldest first.
    const files = [...stored.keys()]
      .sort((one, other) => one.length - other.length || (one < other ? -1 : 1))
      .map((name) => [name, stored.get(name).bytes]);
    if (files.length === 0) {
      say("No heroes are kept yet: win a battle first.");
      return;
    }
    if (downloadAddress) {
      URL.revokeObjectURL(downloadAddress);
    }
    downloadAddress = URL.createObjectURL(zip(files));
    const link = document.createElement("a");
    link.href = downloadAddress;
    link.download = "valdoria-heroes.zip";
    link.click();
    say(`Downloaded ${files.map(([name]) => name).join(", ")} in valdoria-heroes.zip.`);
  });

  uploadButton.addEventListener("click", () => uploadPicker.click());
  uploadPicker.addEventListener("change", async () => {
    const picked = [...uploadPicker.files];
    uploadPicker.value = "";
    if (picked.length > 0) {
      say("Uploading...");
      say(await upload(picked).catch((error) => `The upload failed: ${error}. Nothing was changed.`));
    }
    field.focus();
  });

  // Every file is checked by the game's own load, then all are put in
  // place as a won battle's save puts its heroes, what they replace kept as
  // copies; one that would not load refuses the whole upload.
  async function upload(picked) {
    if (!betweenBattles()) {
      return "Upload heroes between battles, when the game asks whether to fight: the battle under way would be saved over them. Nothing was changed.";
    }
    const taker = await instance();
    const heroFiles = taker.ccall("valdoria_heroFiles", "string", [], []).split(" ");
    for (const file of picked) {
      if (!heroFiles.includes(file.name)) {
        return `Refused ${file.name}: the heroes' files are ${heroFiles.join(", ")}. Nothing was changed.`;
      }
      if (file.size > largestUpload) {
        return `Refused ${file.name}: at ${file.size} bytes it is no hero's file. Nothing was changed.`;
      }
      const bytes = new Uint8Array(await file.arrayBuffer());
      if (!taker.ccall("valdoria_takeUpload", "number", ["string", "array", "number"], [file.name, bytes, bytes.length])) {
        return `Refused ${file.name}: it does not load as a hero's file (seven whole numbers). Nothing was changed.`;
      }
    }
    const names = picked.map((file) => file.name).join(", ");
    if (!(await taker.ccall("valdoria_keepUploads", "number", [], [], { async: true }))) {
      return `${names} could not be kept in this browser. Nothing was changed.`;
    }
    return `Uploaded ${names}: the next battle starts from them; any hero they replaced is kept as a copy.`;
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

  // Opened as a file, the browser fetches nothing beside it.
  if (location.protocol === "file:") {
    stop("This page must be served, not opened as a file: in the game's folder, run " +
      "python3 -m http.server -b 127.0.0.1 -d build/web/site and open http://localhost:8000/.");
    return;
  }
  start();
  for (const line of window.enteredEarly ?? []) {
    send(line);
  }
  // Kept for offline play once the page has loaded, so that the cache's
  // fetches wait behind the game's. Without it the game plays, online only.
  window.addEventListener("load", () => navigator.serviceWorker?.register("valdoria-sw.js").catch(() => {}));
})();

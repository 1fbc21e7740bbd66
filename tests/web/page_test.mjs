// The page in a browser engine, played as a player does: a whole session
// typed into the field under a fixed clock, the heroes kept across a reload,
// two tabs saving at once, with and without Web Locks, saves that the
// browser fails, a program that cannot be fetched, and uploads.
// Usage: node page_test.mjs chromium|firefox|webkit SITE_DIR SESSIONS_DIR SCREENSHOT_DIR
// Exits 77 (skipped) without the engine's Debian browser or npm tool (npm ci).
import { mkdtempSync, readFileSync, readdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { createServer } from "node:http";
import { join, extname } from "node:path";
import assert from "node:assert/strict";
import { launch, persistentChromium, withInitScripts } from "./browsers.mjs";

const [engine, site, sessions, shots] = process.argv.slice(2);
const axe = readFileSync(new URL(import.meta.resolve("axe-core/axe.min.js")), "utf8");
const browser = await launch(engine);

let wasmMissing = false;
const types = {
  ".html": "text/html", ".css": "text/css", ".js": "text/javascript", ".wasm": "application/wasm",
  ".webmanifest": "application/manifest+json", ".svg": "image/svg+xml", ".png": "image/png",
};
const server = createServer((request, response) => {
  const path = new URL(request.url, "http://host").pathname;
  const name = path === "/" ? "index.html" : path.slice(1);
  if (!readdirSync(site).includes(name) || (name === "valdoria.wasm" && wasmMissing)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "content-type": types[extname(name)] });
  const body = readFileSync(join(site, name));
  response.end(name === "index.html" ? withInitScripts(request.url, body.toString()) : body);
});
await new Promise((listening) => server.listen(0, "127.0.0.1", listening));
const address = `http://127.0.0.1:${server.address().port}/`;
const scenario = (name, entry) => readFileSync(join(sessions, name, entry), "latin1");
const afterFiles = (name) =>
  Object.fromEntries(readdirSync(join(sessions, name, "after")).map((file) => [file, scenario(name, `after/${file}`)]));

// A tab whose downloads are caught, not saved, and whose clock, given a
// second, stands at it; its milliseconds run on, so that each save is a new
// version of the files.
async function open(context, second) {
  const page = await context.newPage();
  await page.addInitScript((at) => {
    const create = URL.createObjectURL;
    URL.createObjectURL = (blob) => (window.downloaded?.(blob), create.call(URL, blob));
    HTMLAnchorElement.prototype.click = () => {};
    let millisecond = 0;
    if (at !== null) Date.now = () => at + Math.min(++millisecond, 999);
  }, second === undefined ? null : Number(second) * 1000);
  return page;
}

// The page's kept heroes, through its "Download heroes" (a zip of stored files).
async function keptHeroes(page) {
  const bytes = await page.evaluate(async () => {
    const blob = await new Promise((caught) => {
      window.downloaded = caught;
      document.getElementById("download").click();
      setTimeout(caught, 10000, null);
    });
    return blob && [...new Uint8Array(await blob.arrayBuffer())];
  });
  assert.ok(bytes, `no download in 10 s: ${await page.textContent("#note")}`);
  const zip = Buffer.from(bytes);
  const files = {};
  for (let at = 0; zip.readUInt32LE(at) === 0x04034b50; ) {
    const size = zip.readUInt32LE(at + 18);
    const nameLength = zip.readUInt16LE(at + 26);
    const name = zip.toString("latin1", at + 30, at + 30 + nameLength);
    files[name] = zip.toString("latin1", at + 30 + nameLength, at + 30 + nameLength + size);
    at += 30 + nameLength + size;
  }
  return files;
}

// Types a scenario's input line by line, each when the game waits for it, and
// ends the input with Ctrl-D if the game still waits. Returns the log with
// the echoed lines taken out, and where they stood.
// Tapping: each line is the command button of its text, which must be there.
async function play(page, name, { beforeLine = async () => {}, afterWin = async () => {}, tap = false } = {}) {
  await page.waitForSelector("body[data-state=waiting]");
  const lines = scenario(name, "input").split(/(?<=\n)/);
  const echoes = [];
  let won = false;
  for (const line of lines) {
    await beforeLine();
    echoes.push([(await page.textContent("#log")).length, line]);
    if (tap) {
      const tapped = await page.evaluate((text) => {
        const button = [...document.querySelectorAll("#commands button")].find((found) => found.textContent === text);
        button?.click();
        return Boolean(button);
      }, line.replace(/\n$/, ""));
      assert.ok(tapped, `no button for ${JSON.stringify(line)} at ${JSON.stringify((await page.textContent("#log")).slice(-80))}`);
    } else {
      await page.fill("#entry", line.replace(/\n$/, ""));
      await page.press("#entry", line.endsWith("\n") ? "Enter" : "Control+d");
    }
    await page.waitForSelector("body[data-state=waiting], body[data-state=ended]");
    if (!won && (await page.textContent("#log")).includes("You won the battle!")) {
      won = true;
      await afterWin();
    }
  }
  if ((await page.getAttribute("body", "data-state")) === "waiting") {
    await page.press("#entry", "Control+d");
  }
  await page.waitForSelector("body[data-state=ended]");
  let log = await page.textContent("#log");
  for (const [at, line] of echoes.reverse()) {
    log = log.slice(0, at) + log.slice(at + line.length);
  }
  return log;
}

let failed = 0;
let checks = 0;
async function check(title, body) {
  checks++;
  try {
    await body();
    console.log(`ok      ${title}`);
  } catch (error) {
    failed++;
    console.log(`FAILED  ${title}\n${error.stack}`);
  }
}

await check("a whole session typed into the page, heroes kept across a reload", async () => {
  const name = "first-run-won-and-lost";
  const page = await open(await browser.newContext({ viewport: { width: 1280, height: 800 } }), scenario(name, "clock"));
  await page.goto(address);
  await page.waitForSelector("body[data-state=waiting]");
  console.log(`first prompt ${Math.round(await page.evaluate(() => performance.now()))} ms after navigation (measured, not checked)`);
  const log = await play(page, name, {
    afterWin: () => page.screenshot({ path: join(shots, `page-after-battle-${engine}.png`) }),
  });
  assert.equal(log, scenario(name, "expected_output"));
  // The end leaves the focus in the log, where an Enter starts nothing.
  assert.equal(await page.evaluate(() => document.activeElement.id), "log");
  await page.press("#log", "Enter");
  assert.equal(await page.getAttribute("body", "data-state"), "ended");
  await page.reload();
  assert.deepEqual(await keptHeroes(page), afterFiles(name));
});

await check("the same session tapped on a phone's screen, every control fit for a thumb, the last line in view", async () => {
  const name = "first-run-won-and-lost";
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true });
  const page = await open(context, scenario(name, "clock"));
  await page.goto(address);
  await page.waitForSelector("body[data-state=waiting]");
  const unfit = () =>
    [...document.querySelectorAll("button, input, summary")]
      .filter((control) => control.offsetParent !== null)
      .filter(({ offsetWidth, offsetHeight }) => offsetWidth < 44 || offsetHeight < 44)
      .map((control) => control.id || control.textContent)
      .concat(parseFloat(getComputedStyle(document.getElementById("entry")).fontSize) < 16 ? ["#entry's text"] : [])
      .concat(document.documentElement.scrollWidth > document.documentElement.clientWidth ? ["a scrolling page"] : []);
  // axe-core's accessibility rules, at the start, mid-battle and the end.
  const violations = async () =>
    page.evaluate(async (source) => {
      if (!window.axe) (0, eval)(source);
      return (await window.axe.run()).violations.map(({ id, nodes }) => `${id}: ${nodes.map((node) => node.target)}`);
    }, axe);
  assert.deepEqual(await page.evaluate(unfit), []);
  assert.deepEqual(await violations(), []);
  let checked = false;
  const shot = new Set();
  const beforeLine = async () => {
    const log = await page.textContent("#log");
    for (const [prompt, file] of [["Main menu: ", "main-menu"], ["Monster select menu: ", "target-menu"]]) {
      if (!shot.has(file) && log.endsWith(prompt)) {
        shot.add(file);
        await page.screenshot({ path: join(shots, `page-phone-${file}-${engine}.png`) });
      }
    }
    if (!checked && log.includes("MONSTER SELECT MENU")) {
      checked = true;
      assert.deepEqual(await violations(), []);
    }
  };
  assert.equal(await play(page, name, { tap: true, beforeLine }), scenario(name, "expected_output"));
  assert.deepEqual(await page.evaluate(unfit), []);
  assert.deepEqual(await violations(), []);
  const lastInView = () => {
    const log = document.getElementById("log");
    return log.lastElementChild.getBoundingClientRect().bottom <= log.getBoundingClientRect().bottom + 1;
  };
  assert.ok(await page.evaluate(lastInView));
});

// Installed as an app: Chromium finds nothing missing, and after one visit
// the site plays a whole session offline, its heroes kept.
if (engine === "chromium") {
  await check("installable, and played offline after one visit", async () => {
    const name = "first-run-won-and-lost";
    const profile = mkdtempSync(join(tmpdir(), "valdoria-profile-"));
    const context = await persistentChromium(profile);
    try {
      const page = await open(context, scenario(name, "clock"));
      await page.goto(address);
      await page.waitForSelector("body[data-state=waiting]");
      await page.waitForFunction(() => navigator.serviceWorker.controller);
      const cdp = await context.newCDPSession(page);
      assert.deepEqual((await cdp.send("Page.getInstallabilityErrors")).installabilityErrors, []);
      await context.setOffline(true);
      await page.reload();
      await page.waitForSelector("body[data-state=waiting]");
      console.log(`first prompt offline ${Math.round(await page.evaluate(() => performance.now()))} ms after navigation (measured, not checked)`);
      assert.equal(await play(page, name), scenario(name, "expected_output"));
      await page.reload();
      assert.deepEqual(await keptHeroes(page), afterFiles(name));
    } finally {
      await context.close();
      rmSync(profile, { recursive: true });
    }
  });
}

// Without Web Locks (removed by an init script) a third tab holds a
// transaction on the store instead, from when both have loaded: their saves
// then read and store at once.
const withoutLocks = () => Object.defineProperty(Navigator.prototype, "locks", { get: () => undefined });
const holdStore = () =>
  new Promise((held) => {
    const opened = indexedDB.open("/heroes");
    opened.onsuccess = () => {
      const files = opened.result.transaction("files", "readwrite").objectStore("files");
      const spin = () => !window.released && (files.get("").onsuccess = spin);
      spin();
      window.releaseHeroes = () => (window.released = true);
      held();
    };
  });
for (const locked of [true, false]) {
  await check(`two tabs saving at once ${locked ? "" : "without Web Locks "}leave one whole party, the other kept beside it`, async () => {
    const context = await browser.newContext();
    const tab = async (second) => {
      const page = await open(context, second);
      if (!locked) await page.addInitScript(withoutLocks);
      return page;
    };
    const tabs = [];
    for (const name of ["cut-at-yes-no", "awkward-yes-no-main-status"]) {
      const page = await tab(scenario(name, "clock"));
      await page.goto(address);
      tabs.push([name, page]);
    }
    // A third tab holds the party's lock, shared, as a load does: both games
    // load, then wait to save until it goes.
    const holder = await tab();
    await holder.goto(address);
    await holder.evaluate(() => {
      navigator.locks?.request("valdoria-heroes", { mode: "shared" }, () => new Promise((release) => (window.releaseHeroes = release)));
    });
    // Each goes on once both have loaded the party: a load waits behind a
    // save waiting for its lock.
    let loaded = 0;
    let bothLoaded;
    const both = new Promise((resolve) => (bothLoaded = resolve));
    const played = Promise.all(
      tabs.map(([name, page]) => {
        let waited = false;
        const beforeLine = async () => {
          if (!waited && (await page.textContent("#log")).includes("You encountered")) {
            waited = true;
            if (++loaded === tabs.length) {
              if (!locked) await holder.evaluate(holdStore);
              bothLoaded();
            }
            await both;
          }
        };
        return play(page, name, { beforeLine });
      }),
    );
    played.catch(() => {});
    const waitingToSave = () => document.getElementById("log").textContent.includes("You won the battle!");
    await Promise.all(tabs.map(([, page]) => page.waitForFunction(waitingToSave)));
    await holder.evaluate(() => window.releaseHeroes());
    const logs = await played;
    assert.ok(logs.every((log) => log.includes("Data saved.")));
    const kept = await keptHeroes(holder);
    const [first, second] = tabs.map(([name]) => afterFiles(name));
    // The later save found the earlier one's files, which it never read.
    const whole = (party, suffix) => ["Varen", "Gorak", "Mirel"].every((hero) => kept[`${hero}.txt${suffix}`] === party[`${hero}.txt`]);
    assert.ok((whole(first, "") && whole(second, ".bak")) || (whole(second, "") && whole(first, ".bak")), JSON.stringify(kept));
  });
}

// As a picked file reaches the page: in the picker's files, then "change".
const upload = (page, files) =>
  page.evaluate((files) => {
    const picked = new DataTransfer();
    for (const [name, text] of Object.entries(files)) picked.items.add(new File([text], name, { type: "text/plain" }));
    const picker = document.getElementById("upload-files");
    picker.files = picked.files;
    picker.dispatchEvent(new Event("change"));
  }, files);
const noted = (page, start) => page.waitForFunction((start) => document.getElementById("note").textContent.startsWith(start), start);
const party = { "Varen.txt": "1000 60 43 29 1 50 100 ", "Gorak.txt": "1300 50 50 28 1 0 100 ", "Mirel.txt": "900 80 30 25 1 0 100 " };

// A battle whose save meets a failing browser: another tab's party, stored
// while it was fought, stays whole, and the page says what failed.
const failures = {
  "the read before the save": () => {
    const getAll = IDBObjectStore.prototype.getAll;
    let reads = 0;
    IDBObjectStore.prototype.getAll = function (...query) {
      if (++reads === 2) throw new DOMException("injected", "UnknownError");
      return getAll.apply(this, query);
    };
  },
  "a store over the quota": () => {
    const put = IDBObjectStore.prototype.put;
    IDBObjectStore.prototype.put = function (value, key) {
      if (key === "Gorak.txt") throw new DOMException("injected", "QuotaExceededError");
      return put.call(this, value, key);
    };
  },
  "one record refused": () => {
    const put = IDBObjectStore.prototype.put;
    IDBObjectStore.prototype.put = function (value, key) {
      return key === "Gorak.txt" ? this.add(value, key) : put.call(this, value, key);
    };
  },
  "the lock": () => (LockManager.prototype.request = () => Promise.reject(new DOMException("injected", "SecurityError"))),
};
for (const [failing, inject] of Object.entries(failures)) {
  await check(`a save whose browser fails ${failing} is not saved, another tab's party whole`, async () => {
    const context = await browser.newContext();
    const name = "cut-at-yes-no";
    const page = await open(context, scenario(name, "clock"));
    await page.addInitScript(inject);
    await page.goto(address);
    const other = await open(context);
    await other.goto(address);
    await other.waitForSelector("body[data-state=waiting]");
    let uploaded = false;
    const log = await play(page, name, {
      beforeLine: async () => {
        if (!uploaded && (await page.textContent("#log")).includes("You encountered")) {
          uploaded = true;
          await upload(other, party);
          await noted(other, "Uploaded");
        }
      },
    });
    assert.ok(log.includes("Unable to save data.") && !log.includes("Data saved."));
    assert.match(await page.textContent("#note"), /could not be (read|stored|locked): /);
    assert.deepEqual(await keptHeroes(other), party);
  });
}

await check("a page whose program cannot be fetched says why, and Play again tries again", async () => {
  const page = await open(await browser.newContext());
  wasmMissing = true;
  await page.goto(address);
  await noted(page, "The game could not be started");
  assert.match(await page.textContent("#note"), /404/);
  wasmMissing = false;
  await page.evaluate(() => document.getElementById("play-again").click());
  await page.waitForSelector("body[data-state=waiting]");
});

await check("uploads: a damaged or huge file refused, none mid-battle, the heroes replaced kept as copies", async () => {
  const page = await open(await browser.newContext());
  await page.goto(address);
  await page.waitForSelector("body[data-state=waiting]");
  const good = party["Varen.txt"];
  await upload(page, { "Varen.txt": good });
  await noted(page, "Uploaded");
  await upload(page, { "Varen.txt": "1 1 1 1 1 1 1 ", "Gorak.txt": "1300 50 fifty 28 1 0 100 " });
  await noted(page, "Refused");
  assert.match(await page.textContent("#note"), /^Refused Gorak\.txt/);
  await upload(page, { "Gorak.txt": `${party["Gorak.txt"]}${" ".repeat(6 << 20)}` });
  await noted(page, "Refused Gorak.txt: at 6291478 bytes it is no hero's file.");
  assert.deepEqual(await keptHeroes(page), { "Varen.txt": good });
  await upload(page, party);
  await noted(page, "Uploaded");
  assert.deepEqual(await keptHeroes(page), { ...party, "Varen.txt.bak": good });
  await page.fill("#entry", "yes");
  await page.press("#entry", "Enter");
  await page.waitForSelector("body[data-state=waiting]");
  assert.equal(await page.evaluate(() => document.getElementById("upload").disabled), true);
  await upload(page, { "Varen.txt": good });
  await noted(page, "Upload heroes between battles");
});

await browser.close();
server.close();
console.log(`page: ${checks - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);

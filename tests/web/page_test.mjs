// The page in headless Chromium, played as a player does: a whole session
// typed into the field under a fixed clock, the heroes kept across a reload,
// two tabs saving at once, an uploaded damaged file refused.
// Usage: node page_test.mjs SITE_DIR SESSIONS_DIR SCREENSHOT_DIR
// Exits 77 (skipped) without Debian's Chromium or playwright-core (npm ci).
import { readFileSync, readdirSync, existsSync } from "node:fs";
import { createServer } from "node:http";
import { join, extname } from "node:path";
import assert from "node:assert/strict";

const [site, sessions, shots] = process.argv.slice(2);
const chromiumPath = "/usr/bin/chromium";
let chromium;
try {
  ({ chromium } = await import("playwright-core"));
} catch {
  console.log("SKIPPED: playwright-core is missing (npm ci)");
  process.exit(77);
}
if (!existsSync(chromiumPath)) {
  console.log(`SKIPPED: ${chromiumPath} is missing (Debian package 'chromium')`);
  process.exit(77);
}

const types = { ".html": "text/html", ".css": "text/css", ".js": "text/javascript", ".wasm": "application/wasm" };
const server = createServer((request, response) => {
  const name = request.url === "/" ? "index.html" : request.url.slice(1);
  if (!readdirSync(site).includes(name)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "content-type": types[extname(name)] });
  response.end(readFileSync(join(site, name)));
});
await new Promise((listening) => server.listen(0, "127.0.0.1", listening));
const address = `http://127.0.0.1:${server.address().port}/`;

// As the machine notes ask: no sandbox as root, and no background traffic.
const browser = await chromium.launch({
  executablePath: chromiumPath,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync"],
});
const scenario = (name, entry) => readFileSync(join(sessions, name, entry), "latin1");
const afterFiles = (name) =>
  Object.fromEntries(readdirSync(join(sessions, name, "after")).map((file) => [file, scenario(name, `after/${file}`)]));

// The page's kept heroes, through its "Download heroes" (a zip of stored files).
async function keptHeroes(page) {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  const zip = readFileSync(await download.path());
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
async function play(page, name, { beforeLine = async () => {}, afterWin = async () => {} } = {}) {
  await page.waitForSelector("body[data-state=waiting]");
  const lines = scenario(name, "input").split(/(?<=\n)/);
  const echoes = [];
  let won = false;
  for (const line of lines) {
    await beforeLine();
    echoes.push([(await page.textContent("#log")).length, line]);
    await page.fill("#entry", line.replace(/\n$/, ""));
    await page.press("#entry", line.endsWith("\n") ? "Enter" : "Control+d");
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
async function check(title, body) {
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
  const page = await (await browser.newContext()).newPage();
  // The clock stands at the scenario's second; its milliseconds run on, so
  // that each save is a new version of the files to IndexedDB.
  const start = Number(scenario(name, "clock")) * 1000;
  let millisecond = 0;
  await page.clock.setFixedTime(start);
  await page.goto(address);
  await page.waitForSelector("body[data-state=waiting]");
  console.log(`first prompt ${Math.round(await page.evaluate(() => performance.now()))} ms after navigation (measured, not checked)`);
  const log = await play(page, name, {
    beforeLine: () => page.clock.setFixedTime(start + ++millisecond),
    afterWin: () => page.screenshot({ path: join(shots, "page-after-battle.png") }),
  });
  assert.equal(log, scenario(name, "expected_output"));
  await page.reload();
  assert.deepEqual(await keptHeroes(page), afterFiles(name));
});

await check("two tabs saving at once leave one whole party, the other kept beside it", async () => {
  const context = await browser.newContext();
  const tabs = [];
  for (const name of ["cut-at-yes-no", "awkward-yes-no-main-status"]) {
    const page = await context.newPage();
    const start = Number(scenario(name, "clock")) * 1000;
    await page.addInitScript((at) => {
      let millisecond = 0;
      Date.now = () => at + Math.min(++millisecond, 999);
    }, start);
    await page.goto(address);
    tabs.push([name, page]);
  }
  // A third tab holds the party's lock, shared, as a load does: both games
  // load, then wait to save until it goes.
  const holder = await context.newPage();
  await holder.goto(address);
  await holder.evaluate(() => {
    navigator.locks.request("valdoria-heroes", { mode: "shared" }, () => new Promise((release) => (window.releaseHeroes = release)));
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
  await played;
  const kept = await keptHeroes(holder);
  const [first, second] = tabs.map(([name]) => afterFiles(name));
  // The later save found the earlier one's files, which it never read.
  const whole = (party, suffix) => ["Varen", "Gorak", "Mirel"].every((hero) => kept[`${hero}.txt${suffix}`] === party[`${hero}.txt`]);
  assert.ok((whole(first, "") && whole(second, ".bak")) || (whole(second, "") && whole(first, ".bak")), JSON.stringify(kept));
});

await check("an uploaded damaged file is refused, nothing overwritten", async () => {
  const page = await (await browser.newContext()).newPage();
  await page.goto(address);
  const good = { name: "Varen.txt", mimeType: "text/plain", buffer: Buffer.from("1000 60 43 29 1 50 100 ") };
  await page.setInputFiles("#upload-files", [good]);
  await page.waitForFunction(() => document.getElementById("note").textContent.startsWith("Uploaded"));
  const damaged = { name: "Gorak.txt", mimeType: "text/plain", buffer: Buffer.from("1300 50 fifty 28 1 0 100 ") };
  await page.setInputFiles("#upload-files", [{ ...good, buffer: Buffer.from("1 1 1 1 1 1 1 ") }, damaged]);
  await page.waitForFunction(() => document.getElementById("note").textContent.startsWith("Refused"));
  assert.match(await page.textContent("#note"), /^Refused Gorak\.txt/);
  assert.deepEqual(await keptHeroes(page), { "Varen.txt": good.buffer.toString() });
});

await browser.close();
server.close();
console.log(`page: ${3 - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);

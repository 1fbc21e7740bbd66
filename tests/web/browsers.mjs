// The three browser engines behind the few Playwright calls the page test
// makes: Chromium through Playwright itself, Firefox ESR over WebDriver BiDi
// (puppeteer-core), WebKitGTK over classic WebDriver (WebKitWebDriver, a few
// fetches). Only Debian's browsers run; nothing is downloaded.
import { existsSync } from "node:fs";
import { writeFile } from "node:fs/promises";
import { spawn } from "node:child_process";
import { createServer } from "node:net";

const skip = (why) => {
  console.log(`SKIPPED: ${why}`);
  process.exit(77);
};
const needFile = (path, debianPackage) => existsSync(path) || skip(`${path} is missing (Debian package '${debianPackage}')`);
const needModule = (name) => import(name).catch(() => skip(`${name} is missing (npm ci)`));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Classic WebDriver has no init scripts: the test's server writes each tab's
// into its page, the tab known by ?tab=N in its address.
const tabScripts = new Map();
export function withInitScripts(url, html) {
  const scripts = tabScripts.get(new URL(url, "http://host").searchParams.get("tab")) ?? [];
  return scripts.length === 0 ? html : html.replace(/<head>/i, `$&<script>${scripts.join(";")}</script>`);
}

export async function launch(engine) {
  const launchers = { chromium, firefox, webkit };
  if (!Object.hasOwn(launchers, engine)) throw new Error(`no engine '${engine}': chromium, firefox or webkit`);
  return launchers[engine]();
}

// As the machine notes ask: no sandbox as root, no background traffic, a
// fresh profile (Playwright makes one per launch).
const chromiumOptions = {
  executablePath: "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync"],
};
async function chromium() {
  needFile("/usr/bin/chromium", "chromium");
  const { chromium: playwright } = await needModule("playwright-core");
  return playwright.launch(chromiumOptions);
}

// A profile kept in a folder, as an installed app's is: Chromium checks
// installability there, not in an incognito context.
export async function persistentChromium(folder) {
  const { chromium: playwright } = await needModule("playwright-core");
  return playwright.launchPersistentContext(folder, chromiumOptions);
}

async function firefox() {
  needFile("/usr/bin/firefox-esr", "firefox-esr");
  const { default: puppeteer } = await needModule("puppeteer-core");
  const browser = await puppeteer.launch({ browser: "firefox", executablePath: "/usr/bin/firefox-esr", headless: true });
  const newPage = async (context) => {
    const page = await context.newPage();
    return shaped({
      goto: (url) => page.goto(url),
      reload: () => page.reload(),
      evaluate: (fn, arg) => page.evaluate(fn, arg),
      addInitScript: (fn, arg) => page.evaluateOnNewDocument(fn, arg),
      press: async (selector, keys) => {
        await page.focus(selector);
        const [key, ...modifiers] = keys.split("+").reverse();
        for (const modifier of modifiers) await page.keyboard.down(modifier);
        await page.keyboard.press(key);
        for (const modifier of modifiers) await page.keyboard.up(modifier);
      },
      screenshot: ({ path }) => page.screenshot({ path }),
      close: () => page.close(),
    });
  };
  return {
    newContext: async () => {
      const context = await browser.createBrowserContext();
      return { newPage: () => newPage(context) };
    },
    close: () => browser.close(),
  };
}

// Each context is a WebDriver session, with its own driver (one session
// each) and MiniBrowser (its own storage); each page one of its windows. A
// session runs one command at a time on the window it is switched to, so its
// pages' commands queue.
async function webkit() {
  const miniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";
  needFile("/usr/bin/WebKitWebDriver", "webkit2gtk-driver");
  needFile(miniBrowser, "libwebkit2gtk-4.1-0");
  process.env.DISPLAY || skip("no X display: run under xvfb-run (Debian package 'xvfb')");
  const contexts = [];
  let tabs = 0;
  const newContext = async () => {
    const port = await new Promise((resolve) => {
      const probe = createServer().listen(0, "127.0.0.1", () => {
        const { port } = probe.address();
        probe.close(() => resolve(port));
      });
    });
    const driver = spawn("/usr/bin/WebKitWebDriver", [`--port=${port}`], { stdio: "inherit" });
    // Left running, it would hold the test's output open.
    process.on("exit", () => driver.kill());
    let session = "";
    const call = async (method, path, body) => {
      const response = await fetch(`http://127.0.0.1:${port}${session}${path}`, { method, body: body && JSON.stringify(body) });
      const { value } = await response.json();
      if (value?.error) throw new Error(`WebDriver ${path}: ${value.error}: ${value.message}`);
      return value;
    };
    for (let tries = 0; !(await call("GET", "/status").catch(() => null))?.ready; tries++) {
      if (tries === 100) throw new Error("WebKitWebDriver did not start");
      await sleep(50);
    }
    const { sessionId } = await call("POST", "/session", {
      capabilities: { alwaysMatch: { "webkitgtk:browserOptions": { binary: miniBrowser, args: ["--automation"] } } },
    });
    session = `/session/${sessionId}`;
    contexts.push(async () => {
      await call("DELETE", "");
      driver.kill();
    });
    let queue = Promise.resolve();
    let current = (await call("GET", "/window/handles"))[0];
    let firstUnused = true;
    const newPage = async () => {
      const window = firstUnused ? current : (await call("POST", "/window/new", { type: "window" })).handle;
      firstUnused = false;
      const tab = String(++tabs);
      tabScripts.set(tab, []);
      const command = (method, path, body) => {
        const run = queue.then(async () => {
          if (current !== window) await call("POST", "/window", { handle: (current = window) });
          return call(method, path, body);
        });
        queue = run.catch(() => {});
        return run;
      };
      const element = async (selector) =>
        Object.values(await command("POST", "/element", { using: "css selector", value: selector }))[0];
      const keys = { Enter: "\uE007", Control: "\uE009" };
      return shaped({
        goto: (url) => command("POST", "/url", { url: `${url}${url.includes("?") ? "&" : "?"}tab=${tab}` }),
        reload: () => command("POST", "/refresh", {}),
        evaluate: (fn, arg) =>
          command("POST", "/execute/sync", { script: `return (${fn})(arguments[0]);`, args: [arg ?? null] }),
        addInitScript: (fn, arg) => tabScripts.get(tab).push(`(${fn})(${JSON.stringify(arg ?? null)})`),
        press: async (selector, pressed) => {
          const text = pressed.split("+").map((key) => keys[key] ?? key).join("");
          await command("POST", `/element/${await element(selector)}/value`, { text });
        },
        screenshot: async ({ path }) => writeFile(path, Buffer.from(await command("GET", "/screenshot"), "base64")),
        close: () => command("DELETE", "/window"),
      });
    };
    return { newPage };
  };
  return {
    newContext,
    close: async () => {
      for (const close of contexts) await close();
    },
  };
}

// The rest of Playwright's page from evaluate, waiting as Playwright does
// (30 s at most).
function shaped(page) {
  const waitForFunction = async (fn, arg) => {
    for (const end = Date.now() + 30000; !(await page.evaluate(fn, arg)); await sleep(25)) {
      if (Date.now() > end) throw new Error(`timed out waiting for ${fn} (${JSON.stringify(arg)})`);
    }
  };
  return {
    ...page,
    waitForFunction,
    waitForSelector: (selector) => waitForFunction((selector) => document.querySelector(selector) !== null, selector),
    textContent: (selector) => page.evaluate((selector) => document.querySelector(selector).textContent, selector),
    getAttribute: (selector, name) =>
      page.evaluate(([selector, name]) => document.querySelector(selector).getAttribute(name), [selector, name]),
    fill: (selector, value) =>
      page.evaluate(([selector, value]) => {
        const field = document.querySelector(selector);
        field.value = value;
        field.dispatchEvent(new Event("input", { bubbles: true }));
      }, [selector, value]),
  };
}

// The page's log over a long session (figures, not pass/fail): the time
// of 1,000 and of 3,000 status views in headless Chromium, typed by the page
// itself, so that only the page's own cost is timed; a bounded log takes
// about three times as long for three times as many.
//
//   node bench/page_log.mjs build/web/site
//
// Needs a web build (cmake --workflow --preset web), Debian's chromium and
// playwright-core (npm ci).
import { serveSite } from "./site_server.mjs";
import { chromium } from "playwright-core";

const site = process.argv[2] ?? "build/web/site";
const server = await serveSite(site);
const browser = await chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync"],
});

// Each line as Enter sends it, the next once the game waits again.
async function statusViews(count) {
  const page = await (await browser.newContext()).newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await page.waitForSelector("body[data-state=waiting]");
  const milliseconds = await page.evaluate(async (count) => {
    const field = document.getElementById("entry");
    const form = document.getElementById("entry-form");
    const waiting = () =>
      new Promise((resolve) => {
        const observer = new MutationObserver(() => {
          if (document.body.dataset.state !== "running") {
            observer.disconnect();
            resolve();
          }
        });
        observer.observe(document.body, { attributes: true });
      });
    const enter = async (line) => {
      field.value = line;
      const waited = waiting();
      form.requestSubmit();
      await waited;
    };
    await enter("yes");
    const start = performance.now();
    for (let view = 0; view < count; ++view) {
      await enter("Status");
      await enter("BACK");
    }
    return performance.now() - start;
  }, count);
  await page.close();
  return milliseconds;
}

const [fewer, more] = [Number(process.argv[3] ?? 1000), Number(process.argv[4] ?? 3000)];
const one = await statusViews(fewer);
const three = await statusViews(more);
console.log(`${fewer} status views: ${Math.round(one)} ms`);
console.log(`${more} status views: ${Math.round(three)} ms (${((three / one) * (fewer / more)).toFixed(3)} of ${more / fewer} times ${fewer})`);
await browser.close();
server.close();

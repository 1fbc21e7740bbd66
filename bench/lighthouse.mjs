// Lighthouse's four scores for the page on its mobile profile (figures, not
// pass/fail), with the timings behind the performance score. The site is
// served as Python's http.server serves it: no compression.
//
//   node bench/lighthouse.mjs build/web/site
//
// Needs a web build (cmake --workflow --preset web), Debian's chromium and
// lighthouse (npm ci).
import { serveSite } from "./site_server.mjs";
import lighthouse from "lighthouse";
import { launch } from "chrome-launcher";

const site = process.argv[2] ?? "build/web/site";
const server = await serveSite(site);
const chrome = await launch({ chromePath: "/usr/bin/chromium", chromeFlags: ["--headless=new", "--no-sandbox", "--disable-gpu"] });
try {
  const { lhr } = await lighthouse(`http://localhost:${server.address().port}/`, { port: chrome.port, logLevel: "error" });
  for (const category of Object.values(lhr.categories)) console.log(`${category.title}: ${category.score}`);
  for (const audit of ["first-contentful-paint", "largest-contentful-paint", "total-blocking-time", "cumulative-layout-shift", "speed-index"]) {
    console.log(`  ${lhr.audits[audit].title}: ${lhr.audits[audit].displayValue}`);
  }
  for (const audit of Object.values(lhr.audits).filter((audit) => audit.score !== null && audit.score < 1 && audit.scoreDisplayMode === "binary")) {
    console.log(`  failed: ${audit.id}: ${audit.title}`);
  }
} finally {
  chrome.kill();
  server.close();
}

// Lighthouse's four scores for the page on its mobile profile (figures, not
// pass/fail), with the timings behind the performance score. The site is
// served as Python's http.server serves it: no compression.
//
//   node bench/lighthouse.mjs build/web/site
//
// Needs a web build (cmake --workflow --preset web), Debian's chromium and
// lighthouse (npm ci).
import { readFileSync, readdirSync } from "node:fs";
import { createServer } from "node:http";
import { join, extname } from "node:path";
import lighthouse from "lighthouse";
import { launch } from "chrome-launcher";

const site = process.argv[2] ?? "build/web/site";
const types = {
  ".html": "text/html", ".css": "text/css", ".js": "text/javascript", ".wasm": "application/wasm",
  ".webmanifest": "application/manifest+json", ".svg": "image/svg+xml", ".png": "image/png",
};
const server = createServer((request, response) => {
  const path = new URL(request.url, "http://host").pathname;
  const name = path === "/" ? "index.html" : path.slice(1);
  if (!readdirSync(site).includes(name)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "content-type": types[extname(name)] });
  response.end(readFileSync(join(site, name)));
});
await new Promise((listening) => server.listen(0, "127.0.0.1", listening));
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

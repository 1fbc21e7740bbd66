// The built site served on 127.0.0.1, as a static server serves it (no
// compression), for the page's benchmarks.
import { readFileSync, readdirSync } from "node:fs";
import { createServer } from "node:http";
import { join, extname } from "node:path";

const types = {
  ".html": "text/html", ".css": "text/css", ".js": "text/javascript", ".wasm": "application/wasm",
  ".webmanifest": "application/manifest+json", ".svg": "image/svg+xml", ".png": "image/png",
};

export async function serveSite(site) {
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
  return server;
}

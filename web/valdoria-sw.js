"use strict";

// The site kept for offline play: each release caches its own files when it
// installs, and drops the caches of the releases before it. Online, every
// file comes from the server, so an update is never hidden behind a cache;
// offline, they come from this release's cache.
const release = "valdoria-@PROJECT_VERSION@";
const files = ["@site_files_listed@"];

self.addEventListener("install", (event) => {
  event.waitUntil(
    caches
      .open(release)
      .then((cache) => cache.addAll(files.map((file) => new Request(file, { cache: "no-cache" }))))
      .then(() => self.skipWaiting()),
  );
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((names) => Promise.all(names.filter((name) => name !== release).map((name) => caches.delete(name))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  const request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== location.origin) {
    return;
  }
  event.respondWith(
    fetch(request).catch(async () => {
      const cache = await caches.open(release);
      const kept = await cache.match(request.mode === "navigate" ? "index.html" : request, { ignoreSearch: true });
      return kept ?? Response.error();
    }),
  );
});

// Makes the page's icons, valdoria-192.png and valdoria-512.png, from
// valdoria.svg: Chromium draws it, and each picture is written again as a
// 2-bit palette PNG (the two colours and two blends for the edges), a tenth
// of Chromium's bytes. Run after changing the SVG: node web/make-icons.mjs
import { readFileSync, writeFileSync } from "node:fs";
import { inflateSync, deflateSync, crc32 } from "node:zlib";
import { chromium } from "playwright-core";

const folder = new URL(".", import.meta.url);
const svg = readFileSync(new URL("valdoria.svg", folder), "utf8");
const dark = [0x14, 0x14, 0x14];
const gold = [0xe0, 0xb0, 0x50];
const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
const page = await browser.newPage();
for (const size of [192, 512]) {
  const drawn = await page.evaluate(async ([svg, size]) => {
    const context = new OffscreenCanvas(size, size).getContext("2d");
    const image = new Image(size, size);
    image.src = `data:image/svg+xml,${encodeURIComponent(svg.replace("<svg ", `<svg width="${size}" height="${size}" `))}`;
    await image.decode();
    context.drawImage(image, 0, 0);
    return [...context.getImageData(0, 0, size, size).data.filter((_, at) => at % 4 === 1)];
  }, [svg, size]);
  writeFileSync(new URL(`valdoria-${size}.png`, folder), palettePng(size, drawn));
}
await browser.close();

// Each pixel's green, from the dark's to the gold's, picks one of four steps.
function palettePng(size, greens) {
  const rowBytes = Math.ceil(size / 4);
  const rows = Buffer.alloc(size * (rowBytes + 1));
  greens.forEach((green, at) => {
    const step = Math.max(0, Math.min(3, Math.round(((green - dark[1]) / (gold[1] - dark[1])) * 3)));
    const [y, x] = [Math.floor(at / size), at % size];
    rows[y * (rowBytes + 1) + 1 + (x >> 2)] |= step << (6 - 2 * (x & 3));
  });
  const palette = [0, 1, 2, 3].flatMap((step) => dark.map((d, i) => Math.round(d + ((gold[i] - d) * step) / 3)));
  const chunk = (kind, data) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length);
    head.write(kind, 4, "latin1");
    const tail = Buffer.alloc(4);
    tail.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])));
    return Buffer.concat([head, data, tail]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size);
  header.writeUInt32BE(size, 4);
  header.set([2, 3], 8);
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk("IHDR", header),
    chunk("PLTE", Buffer.from(palette)), chunk("IDAT", deflateSync(rows, { level: 9 })), chunk("IEND", Buffer.alloc(0))]);
}

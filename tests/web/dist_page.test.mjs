// SPDX-License-Identifier: MIT
// The viewer page as make dist ships it (PLANES_DIST_PAGE, dist/planeplugins-VERSION-viewer.html),
// opened from file:// in Debian's chromium: a GRA picture with its companions shown pixel for
// pixel as planeconv converts it, the footer naming the release's version, and no request beyond
// the page itself.
import assert from "node:assert/strict";
import { readFileSync, rmSync, mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";
import { test } from "node:test";
import puppeteer from "puppeteer-core";
import { nativeDecode, samples, source, temporaryFolder } from "./native.mjs";

const pagePath = process.env.PLANES_DIST_PAGE;
const version = /^project\(planeplugins VERSION ([0-9.]+)/m.exec(
  readFileSync(join(source, "CMakeLists.txt"), "utf8"),
)[1];

test("the released viewer page shows a sample from file://", { skip: !pagePath && "PLANES_DIST_PAGE unset" }, async (t) => {
  assert.equal(basename(pagePath), `planeplugins-${version}-viewer.html`);
  const profile = mkdtempSync(join(tmpdir(), "planes-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", `--user-data-dir=${profile}`],
  });
  t.after(async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  });
  const page = await browser.newPage();
  const url = pathToFileURL(pagePath).href;
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  await page.goto(url);
  await page.waitForSelector("body[data-ready]", { timeout: 30000 });
  assert.equal(await page.$eval("footer.about", (el) => el.textContent), `planeplugins ${version} · MIT License`);

  await (await page.$("#files")).uploadFile(...["card.gra", "card.rgb", "card.e1"].map((f) => join(samples, f)));
  await page.waitForFunction(() => document.querySelectorAll("#list li").length === 1 && !document.body.dataset.busy);
  await (await page.$$("#list li"))[0].click();
  await page.waitForFunction(() => document.getElementById("name").textContent === "card.gra");
  const pixels = Buffer.from(
    await page.evaluate(() => {
      const canvas = document.getElementById("picture");
      const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
      let binary = "";
      for (let i = 0; i < data.length; i += 0x8000) binary += String.fromCharCode(...data.subarray(i, i + 0x8000));
      return btoa(binary);
    }),
    "base64",
  );
  const native = nativeDecode(join(samples, "card.gra"), temporaryFolder(t));
  assert.equal(pixels.length, native.rgba.length);
  assert.ok(pixels.equals(Buffer.from(native.rgba)), "the canvas holds planeconv's pixels");
  assert.deepEqual(requests, [url]);
});

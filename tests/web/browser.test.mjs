// SPDX-License-Identifier: MIT
// The viewer page end to end in Debian's chromium: opened from file://, the samples handed to its
// file input and dropped on it, the canvas read back and held to planeconv's PNGs, the error of a
// truncated picture, the keys, the zoom and "Save as PNG", and not one request beyond the page
// itself; a Japanese comment and a companion of the wrong size shown as planeconv shows them.
// Then the page by keyboard alone (Tab, Enter, Space, arrows) as a screen reader names it, and
// drops that hold no picture.
// Leaves a screenshot as PLANES_WEB_BUILD/viewer-screenshot.png.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { copyFileSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { test } from "node:test";
import puppeteer from "puppeteer-core";
import { nativeDecode, planeconv, samples, temporaryFolder, webBuild } from "./native.mjs";
import { readPng } from "./png.mjs";

const pageUrl = pathToFileURL(join(webBuild, "viewer.html")).href;

async function launch(t) {
  const profile = mkdtempSync(join(tmpdir(), "planes-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: [
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--no-first-run",
      `--user-data-dir=${profile}`,
    ],
  });
  t.after(async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  });
  return browser;
}

// The page's state after an action: what it shows, in words a test can compare.
const shownState = (page) =>
  page.evaluate(() => {
    const text = (id) => document.getElementById(id).textContent;
    const facts = {};
    const terms = document.querySelectorAll("#facts dt");
    for (const dt of terms) facts[dt.textContent] = dt.nextElementSibling.textContent;
    return {
      name: text("name"),
      error: document.getElementById("error").hidden ? null : text("error"),
      canvasShown: !document.getElementById("stage").hidden,
      facts,
      swatches: document.querySelectorAll("#palette li").length,
      selected: [...document.querySelectorAll("#list li")].findIndex((li) => li.classList.contains("selected")),
    };
  });

const canvasPixels = async (page) =>
  Buffer.from(
    await page.evaluate(() => {
      const canvas = document.getElementById("picture");
      const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
      let binary = "";
      for (let i = 0; i < data.length; i += 0x8000) {
        binary += String.fromCharCode(...data.subarray(i, i + 0x8000));
      }
      return btoa(binary);
    }),
    "base64",
  );

async function choose(page, name) {
  const index = await page.evaluate(
    (wanted) => [...document.querySelectorAll("#list .file")].findIndex((el) => el.textContent === wanted),
    name,
  );
  assert.ok(index >= 0, `${name} is listed`);
  await (await page.$$("#list li"))[index].click();
  return shownState(page);
}

test("the viewer page shows what planeconv converts, from file:// and without a request", async (t) => {
  const scratch = temporaryFolder(t);
  // The picture's companions with other letter cases, a truncated Q picture and a stray file.
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  copyFileSync(join(samples, "card.rgb"), join(scratch, "CARD.RGB"));
  copyFileSync(join(samples, "card.e1"), join(scratch, "Card.E1"));
  writeFileSync(join(scratch, "short.q"), readFileSync(join(samples, "gradient.q")).subarray(0, 9000));
  const given = [
    join(scratch, "card.gra"),
    join(scratch, "CARD.RGB"),
    join(scratch, "Card.E1"),
    join(samples, "gradient.q"),
    join(samples, "eight.q"),
    join(samples, "plain.gra"),
    join(samples, "window.gra"),
    join(samples, "window.e1"),
    join(scratch, "short.q"),
    join(samples, "regenerate.sh"),
  ];

  const browser = await launch(t);
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 780 });
  const requests = [];
  const problems = [];
  page.on("request", (request) => requests.push(request.url()));
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  page.on("console", (message) => {
    if (message.type() === "error" || message.type() === "warning") problems.push(`console: ${message.text()}`);
  });
  await page.evaluateOnNewDocument(() =>
    document.addEventListener("securitypolicyviolation", (e) =>
      console.error(`blocked by ${e.violatedDirective}: ${e.blockedURI}`),
    ),
  );
  await page.goto(pageUrl);
  await page.waitForSelector("body[data-ready]", { timeout: 30000 });

  const input = await page.$("#files");
  await input.uploadFile(...given);
  await page.waitForFunction(() => document.querySelectorAll("#list li").length === 6 && !document.body.dataset.busy);
  assert.deepEqual(await page.$$eval("#list .file", (els) => els.map((el) => el.textContent)), [
    "card.gra",
    "eight.q",
    "gradient.q",
    "plain.gra",
    "short.q",
    "window.gra",
  ]);
  assert.match(await page.$eval("#others", (el) => el.textContent), /regenerate\.sh: not a GRA or Q picture/);

  await t.test("a GRA picture with its companions, pixel for pixel", async () => {
    const state = await choose(page, "card.gra");
    // The same picture beside its companions named as the plug-in opens them.
    const native = nativeDecode(join(samples, "card.gra"), scratch);
    assert.equal(state.error, null);
    assert.ok(state.canvasShown);
    assert.equal(state.facts["Format"], native.formatName);
    assert.equal(state.facts["Colours"], "16");
    assert.equal(state.facts["Companions used"], "CARD.RGB, Card.E1");
    assert.equal(state.swatches, 16);
    assert.ok((await canvasPixels(page)).equals(Buffer.from(native.rgba)), "canvas = planeconv's PNG");
    // The first picture is shown as soon as the files are read: leave the screenshot of it.
    await page.screenshot({ path: join(webBuild, "viewer-screenshot.png") });
  });

  await t.test("a Q picture with its comment, pixel for pixel", async () => {
    const state = await choose(page, "gradient.q");
    const native = nativeDecode(join(samples, "gradient.q"), scratch);
    assert.equal(state.facts["Comment"], native.comment);
    assert.equal(state.facts["Colours"], String(native.colors));
    assert.equal(state.facts["Companions used"], undefined, "a Q picture has no companions");
    assert.ok((await canvasPixels(page)).equals(Buffer.from(native.rgba)), "canvas = planeconv's PNG");
  });

  await t.test("a truncated picture shows the plug-in's reason instead of a picture", async () => {
    const state = await choose(page, "short.q");
    const native = nativeDecode(join(scratch, "short.q"), scratch);
    assert.equal(state.error, `short.q cannot be shown: ${native.reason}`);
    assert.equal(state.canvasShown, false);
    assert.equal(await page.$eval("#save", (el) => el.disabled), true);
  });

  await t.test("arrow keys step through the list, zoom keeps pixels crisp", async () => {
    await choose(page, "card.gra");
    await page.keyboard.press("ArrowDown");
    assert.equal((await shownState(page)).name, "eight.q");
    await page.keyboard.press("ArrowRight");
    assert.equal((await shownState(page)).name, "gradient.q");
    await page.keyboard.press("ArrowUp");
    await page.keyboard.press("ArrowUp");
    await page.keyboard.press("ArrowUp");
    assert.equal((await shownState(page)).selected, 0, "stays at the first");
    await page.keyboard.press("End");
    assert.equal((await shownState(page)).name, "window.gra");

    const size = () => page.$eval("#picture", (c) => [c.clientWidth, c.clientHeight, getComputedStyle(c).imageRendering]);
    await page.click('[data-zoom="2"]');
    assert.deepEqual(await size(), [1280, 800, "pixelated"]);
    await page.click('[data-zoom="fit"]');
    const [width, height] = await size();
    const room = await page.$eval("#stage", (el) => el.clientWidth);
    assert.ok(width <= room && width > 640 && Math.abs(width / height - 1.6) < 0.01, `fit: ${width} x ${height}`);
    await page.click('[data-zoom="1"]');
    assert.deepEqual(await size(), [640, 400, "pixelated"]);
  });

  await t.test("Save as PNG saves the picture shown", async () => {
    const downloads = temporaryFolder(t);
    const session = await browser.target().createCDPSession();
    await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
    await choose(page, "gradient.q");
    await page.click("#save");
    const saved = join(downloads, "gradient.png");
    for (let i = 0; i < 100 && !existsSync(saved); ++i) await new Promise((done) => setTimeout(done, 100));
    const png = readPng(readFileSync(saved));
    assert.deepEqual([png.width, png.height], [640, 400]);
    const native = nativeDecode(join(samples, "gradient.q"), scratch);
    assert.ok(Buffer.from(png.rgba).equals(Buffer.from(native.rgba)), "saved PNG = planeconv's PNG");
  });

  await t.test("dropped files join the list, their companions paired", async () => {
    copyFileSync(join(samples, "window.gra"), join(scratch, "dropped.gra"));
    copyFileSync(join(samples, "window.e1"), join(scratch, "DROPPED.E1"));
    const data = { items: [], files: [join(scratch, "dropped.gra"), join(scratch, "DROPPED.E1")], dragOperationsMask: 1 };
    const session = await page.createCDPSession();
    for (const type of ["dragEnter", "dragOver", "drop"]) {
      await session.send("Input.dispatchDragEvent", { type, x: 600, y: 300, data });
    }
    await page.waitForFunction(() => document.querySelectorAll("#list li").length === 7 && !document.body.dataset.busy);
    const state = await shownState(page);
    assert.equal(state.name, "dropped.gra", "the first dropped picture is shown");
    assert.equal(state.facts["Companions used"], "DROPPED.E1");
    const native = nativeDecode(join(samples, "window.gra"), scratch);
    assert.ok((await canvasPixels(page)).equals(Buffer.from(native.rgba)), "canvas = planeconv's PNG");
  });

  await t.test("nothing was requested but the page, nothing blocked, no error", () => {
    assert.deepEqual(requests, [pageUrl]);
    assert.deepEqual(problems, []);
  });
});

test("the viewer shows a Japanese comment and a companion of the wrong size as planeconv does", async (t) => {
  const scratch = temporaryFolder(t);
  const png = join(scratch, "gradient.png");
  execFileSync(planeconv, ["convert", join(samples, "gradient.q"), "-o", png]);
  execFileSync(planeconv, ["encode", png, join(scratch, "japanese.q"), "--comment", "港の夕暮れ 〜 ｶﾅ", "-q"]);
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  writeFileSync(join(scratch, "card.rgb"), readFileSync(join(samples, "card.rgb")).subarray(0, 47));
  const info = (name) => execFileSync(planeconv, ["info", join(scratch, name)]).toString();

  const browser = await launch(t);
  const page = await browser.newPage();
  await page.goto(pageUrl);
  await page.waitForSelector("body[data-ready]", { timeout: 30000 });
  await (await page.$("#files")).uploadFile(...["japanese.q", "card.gra", "card.rgb"].map((n) => join(scratch, n)));
  await page.waitForFunction(() => document.querySelectorAll("#list li").length === 2 && !document.body.dataset.busy);

  const q = await choose(page, "japanese.q");
  assert.equal(q.facts["Comment"], "港の夕暮れ ～ ｶﾅ");
  assert.ok(info("japanese.q").includes(`comment:   "${q.facts["Comment"]}"`));
  const gra = await choose(page, "card.gra");
  assert.equal(gra.facts["Not used"], "card.rgb ignored: 47 bytes, a palette file is 48");
  assert.ok(info("card.gra").includes(`ignored: 47 bytes, a palette file is 48`));
});

// What a keyboard, or a screen reader, finds on the page: the name of the focused element.
const focusedName = (page) =>
  page.evaluate(() => {
    const el = document.activeElement;
    const name = el.getAttribute("aria-label") || el.labels?.[0]?.textContent || el.textContent;
    return `${el.getAttribute("role") || el.tagName.toLowerCase()}: ${name.trim()}`;
  });

async function tabTo(page, wanted, most = 20) {
  for (let i = 0; i < most; ++i) {
    await page.keyboard.press("Tab");
    const name = await focusedName(page);
    if (name.startsWith(wanted)) return name;
  }
  assert.fail(`Tab never reaches ${wanted}`);
}

test("the viewer page by keyboard alone, and drops that hold no picture", async (t) => {
  const scratch = temporaryFolder(t);
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  copyFileSync(join(samples, "card.rgb"), join(scratch, "card.rgb"));
  copyFileSync(join(samples, "card.e1"), join(scratch, "card.e1"));
  writeFileSync(join(scratch, "short.q"), readFileSync(join(samples, "gradient.q")).subarray(0, 9000));
  copyFileSync(join(samples, "..", "web", "viewer-screenshot.png"), join(scratch, "photo.png"));
  writeFileSync(join(scratch, "notes.txt"), "not a picture\n");

  const browser = await launch(t);
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 780 });
  await page.goto(pageUrl);
  await page.waitForSelector("body[data-ready]", { timeout: 30000 });

  await t.test("Tab reaches every control by its name, and Enter opens files", async () => {
    await page.evaluate(() => document.activeElement?.blur());
    assert.equal(await tabTo(page, "input: Open files"), "input: Open files…");
    const coming = page.waitForFileChooser({ timeout: 5000 });
    await page.evaluate(() => 0); // after the chooser's interception is switched on
    await page.keyboard.press("Enter");
    const chooser = await coming;
    await chooser.accept(["card.gra", "card.rgb", "card.e1", "short.q", "notes.txt"].map((name) => join(scratch, name)));
    await page.waitForFunction(() => document.querySelectorAll("#list li").length === 2 && !document.body.dataset.busy);
    assert.equal(await page.$eval("#notice", (el) => el.hidden), true, "the notice goes once pictures come");

    const format = nativeDecode(join(scratch, "card.gra"), scratch).formatName;
    await page.focus("#files");
    const order = [await focusedName(page)];
    for (let i = 0; i < 8; ++i) {
      await page.keyboard.press("Tab");
      order.push(await focusedName(page));
    }
    assert.deepEqual(order.slice(0, 8), [
      "input: Open files…",
      "input: Open a folder…",
      `option: card.gra, ${format}, 16 colours`,
      "summary: 1 other file, not shown",
      "button: 1×",
      "button: 2×",
      "button: Fit",
      "button: Save as PNG",
    ]);
  });

  await t.test("arrows, Home and End move through the list with the focus, Enter and Space choose", async () => {
    await page.evaluate(() => document.activeElement?.blur());
    await tabTo(page, "option: card.gra");
    await page.keyboard.press("ArrowDown");
    assert.match(await focusedName(page), /^option: short\.q, cannot be shown: the file ends after 9000 bytes/);
    let state = await shownState(page);
    assert.equal(state.name, "short.q");
    assert.equal(state.selected, 1);
    assert.deepEqual(await page.$$eval("#list li", (els) => els.map((el) => [el.getAttribute("aria-selected"), el.tabIndex])), [
      ["false", -1],
      ["true", 0],
    ]);
    await page.keyboard.press("Home");
    assert.match(await focusedName(page), /^option: card\.gra/);
    assert.equal((await shownState(page)).name, "card.gra");
    await page.keyboard.press("End");
    assert.equal((await shownState(page)).name, "short.q");

    // Enter and Space on an option that is not the chosen one.
    await page.focus("#list li:first-child");
    await page.keyboard.press("Enter");
    assert.equal((await shownState(page)).name, "card.gra");
    await page.focus("#list li:last-child");
    await page.keyboard.press(" ");
    assert.equal((await shownState(page)).name, "short.q");
    await page.keyboard.press("Home");

    // The zoom buttons by Space and Enter, without a pointer.
    const width = () => page.$eval("#picture", (c) => c.clientWidth);
    await tabTo(page, "button: 2×");
    await page.keyboard.press(" ");
    assert.equal(await width(), 1280);
    assert.equal(await page.$eval('[data-zoom="2"]', (b) => b.getAttribute("aria-pressed")), "true");
    await page.keyboard.down("Shift");
    await page.keyboard.press("Tab");
    await page.keyboard.up("Shift");
    assert.equal(await focusedName(page), "button: 1×");
    await page.keyboard.press("Enter");
    assert.equal(await width(), 640);
  });

  await t.test("a screen reader reads the list, the picture and its colours by name", async () => {
    const tree = await page.accessibility.snapshot({ interestingOnly: false });
    const all = [];
    const walk = (node) => {
      all.push(node);
      for (const child of node.children || []) walk(child);
    };
    walk(tree);
    const list = all.find((node) => node.role === "listbox");
    assert.equal(list?.name, "Pictures");
    assert.deepEqual(
      all.filter((node) => node.role === "option").map((node) => [node.name.split(",")[0], Boolean(node.selected)]),
      [
        ["card.gra", true],
        ["short.q", false],
      ],
    );
    const picture = all.find((node) => ["img", "image"].includes(node.role) && node.name.startsWith("card.gra"));
    const format = nativeDecode(join(scratch, "card.gra"), scratch).formatName;
    assert.equal(picture?.name, `card.gra: ${format}, 640 × 400, 16 colours`);
    assert.ok(all.some((node) => /^colour index 0: red \d+, green \d+, blue \d+/.test(node.name || "")), "palette entries are named");
  });
  // On a page of its own: a drop leaves the pointer's state, which keeps the keys above from a
  // file chooser.
  await t.test("a drop of files that are no pictures says what came and why nothing shows", async () => {
    const page = await browser.newPage();
    await page.setViewport({ width: 1200, height: 780 });
    await page.goto(pageUrl);
    await page.waitForSelector("body[data-ready]", { timeout: 30000 });
    const data = { items: [], files: [join(scratch, "photo.png"), join(scratch, "notes.txt")], dragOperationsMask: 1 };
    const session = await page.createCDPSession();
    for (const type of ["dragEnter", "dragOver", "drop"]) {
      await session.send("Input.dispatchDragEvent", { type, x: 600, y: 300, data });
    }
    await page.waitForFunction(() => !document.getElementById("notice").hidden && !document.body.dataset.busy);
    const notice = await page.$eval("#notice", (el) => ({ text: el.textContent, role: el.getAttribute("role") }));
    assert.equal(notice.role, "status", "a screen reader hears it");
    assert.match(notice.text, /^Nothing to show: the 2 files dropped hold no picture this page shows\./);
    assert.match(notice.text, /photo\.png: not a GRA or Q picture/);
    assert.match(notice.text, /notes\.txt: not a GRA or Q picture/);
    assert.equal(await page.$eval("#others-box", (el) => el.open && !el.hidden), true, "the other files are shown open");
    assert.equal(await page.$eval("#empty", (el) => el.hidden), false, "no picture stands in the way");
    assert.equal(await page.$eval("#count", (el) => el.textContent), "", "no count of no pictures");

    // A drop of text alone, no file at all.
    const text = { items: [{ mimeType: "text/plain", data: "card.gra" }], files: [], dragOperationsMask: 1 };
    for (const type of ["dragEnter", "dragOver", "drop"]) {
      await session.send("Input.dispatchDragEvent", { type, x: 600, y: 300, data: text });
    }
    await page.waitForFunction(() => /held no files/.test(document.getElementById("notice").textContent));
  });

});

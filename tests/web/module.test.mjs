// SPDX-License-Identifier: MIT
// The web module under node: every sample and the writers' pictures decode to what the native
// planeconv makes of them (indices, palette, comment, colours, format) and to the pinned outputs,
// companions pair up by name whatever the letter case, and refused files carry the native
// build's reasons.
import assert from "node:assert/strict";
import { copyFileSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { before, test } from "node:test";
import { spawnSync } from "node:child_process";
import { nativeDecode, planeconv, samples, temporaryFolder, webBuild, writeTestPictures } from "./native.mjs";
import { hashesOf, readPinned } from "./pinned.mjs";

let planes;
before(async () => {
  const { createPlanes } = await import(join(webBuild, "planes.mjs"));
  planes = await createPlanes();
});

const file = (folder, name, as = name, from = "") => ({
  name: as,
  folder: from,
  bytes: new Uint8Array(readFileSync(join(folder, name))),
});

function assertSameAsNative(picture, native) {
  assert.equal(picture.ok, true, `${picture.name}: ${picture.reason}`);
  assert.equal(picture.formatName, native.formatName, picture.name);
  assert.equal(picture.width, 640);
  assert.equal(picture.height, 400);
  assert.equal(picture.colors, native.colors, `${picture.name}: colours`);
  assert.deepEqual(picture.palette, native.palette, `${picture.name}: palette`);
  assert.ok(Buffer.from(picture.indices).equals(Buffer.from(native.indices)), `${picture.name}: indices`);
  assert.ok(Buffer.from(picture.rgba).equals(Buffer.from(native.rgba)), `${picture.name}: RGBA`);
  assert.equal(picture.comment, native.comment, `${picture.name}: comment`);
}

// Every picture of a folder, handed over with all the folder's files, against planeconv on the
// folder itself. otherNames: the files that are neither pictures nor companions.
function decodeFolderLikeNative(t, folder, otherNames = []) {
  const names = readdirSync(folder).sort();
  const { pictures, others } = planes.decodeFiles(names.map((name) => file(folder, name)));
  assert.deepEqual(others.map((o) => o.name), otherNames);
  const scratch = temporaryFolder(t);
  for (const picture of pictures) assertSameAsNative(picture, nativeDecode(join(folder, picture.name), scratch));
  return pictures;
}

test("every sample decodes as planeconv decodes it, companions and comments included", (t) => {
  const pictures = decodeFolderLikeNative(t, samples, ["regenerate.sh"]);
  const byName = Object.fromEntries(pictures.map((p) => [p.name, p]));
  assert.deepEqual(Object.keys(byName).sort(), ["card.gra", "eight.q", "gradient.q", "plain.gra", "window.gra"]);
  assert.deepEqual(byName["card.gra"].companions, { palette: "card.rgb", fourthPlane: "card.e1" });
  assert.deepEqual(byName["window.gra"].companions, { palette: null, fourthPlane: "window.e1" });
  assert.equal(byName["gradient.q"].comment, "Dithered gradient with shapes");
  assert.ok(byName["card.gra"].milliseconds >= 0);
});

// Every picture of the test-picture set, dropped with its folder's files, against the hashes
// pinned in tests/expected/decoded.sha256, and the writers' pictures against planeconv too (the
// samples are above); a refused file must be refused (the module gives its reason, not its
// result code).
test("every test picture decodes to the pinned outputs, the writers' as planeconv decodes them", (t) => {
  const pinned = readPinned();
  const folder = temporaryFolder(t);
  writeTestPictures(folder);
  const decoded = new Map();
  for (const part of ["samples", "writer", "malformed"]) {
    const files = readdirSync(join(folder, part)).sort().map((name) => file(join(folder, part), name));
    const { pictures, others } =
      part === "writer" ? { pictures: decodeFolderLikeNative(t, join(folder, part)), others: [] } : planes.decodeFiles(files);
    for (const p of [...pictures, ...others]) decoded.set(`${part}/${p.name}`, p);
  }
  for (const [name, want] of pinned) {
    const picture = decoded.get(name);
    assert.ok(picture, `${name} was handed to the module`);
    if (want.result !== "Ok") {
      assert.notEqual(picture.ok, true, `${name} is refused (${want.result})`);
    } else {
      assert.equal(picture.ok, true, `${name}: ${picture.reason}`);
      assert.deepEqual(hashesOf(picture), want, name);
    }
  }
  const eight = decoded.get("writer/q8-scattered-literal.q");
  assert.equal(eight.colors, 8);
  assert.ok(eight.commentBytes.includes(0xa4), "comment bytes above 127 pass as they stand");
  // ... and are shown as code page 932 text: half-width katakana, a kanji, and bytes that are no
  // character there as \xNN.
  assert.equal(eight.comment, "Eight ､ｳ､\\xf3 騁\\xe9");
});

test("companions pair with their picture whatever the letter case, within one folder", (t) => {
  const scratch = temporaryFolder(t);
  const withCompanions = nativeDecode(join(samples, "card.gra"), scratch);
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  const alone = nativeDecode(join(scratch, "card.gra"), scratch);

  let { pictures, others } = planes.decodeFiles([
    file(samples, "card.gra", "Card.Gra"),
    file(samples, "card.rgb", "CARD.RGB"),
    file(samples, "card.e1", "card.E1"),
  ]);
  assert.deepEqual(others, []);
  assertSameAsNative(pictures[0], withCompanions);
  assert.deepEqual(pictures[0].companions, { palette: "CARD.RGB", fourthPlane: "card.E1" });

  // The same files dropped from different folders are strangers: the picture stands alone and
  // its would-be companions are other files.
  ({ pictures, others } = planes.decodeFiles([
    file(samples, "card.gra", "card.gra", "a"),
    file(samples, "card.rgb", "card.rgb", "b"),
    file(samples, "card.e1", "card.e1", "b"),
  ]));
  assertSameAsNative(pictures[0], alone);
  assert.deepEqual(pictures[0].companions, { palette: null, fourthPlane: null });
  assert.deepEqual(others.map((o) => o.name), ["card.rgb", "card.e1"]);

  // Two pictures of one stem in one folder both find the companions.
  ({ pictures } = planes.decodeFiles([
    file(samples, "card.gra", "card.gra"),
    file(samples, "card.gra", "CARD.GRA"),
    file(samples, "card.rgb", "card.rgb"),
  ]));
  assert.deepEqual(pictures.map((p) => p.companions.palette), ["card.rgb", "card.rgb"]);
});

test("companions of the wrong size are passed over with the note planeconv gives", (t) => {
  const scratch = temporaryFolder(t);
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  writeFileSync(join(scratch, "card.rgb"), readFileSync(join(samples, "card.rgb")).subarray(0, 47));
  copyFileSync(join(samples, "card.e1"), join(scratch, "card.e1"));
  const { pictures } = planes.decodeFiles(["card.gra", "card.rgb", "card.e1"].map((n) => file(scratch, n)));
  assert.deepEqual(pictures[0].companions, { palette: null, fourthPlane: "card.e1" });
  assert.deepEqual(pictures[0].notes, ["card.rgb ignored: 47 bytes, a palette file is 48"]);
  const info = spawnSync(planeconv, ["info", join(scratch, "card.gra")]).stdout.toString();
  assert.ok(info.includes(`note:      ${join(scratch, "card.rgb")} ignored: 47 bytes, a palette file is 48\n`), info);
});

test("refused files carry the native build's reasons", (t) => {
  const scratch = temporaryFolder(t);
  const cut = (name, size, as = name) => {
    const path = join(scratch, as);
    writeFileSync(path, readFileSync(join(samples, name)).subarray(0, size));
    return path;
  };
  const truncatedQ = cut("gradient.q", 9000, "short.q");
  const truncatedGra = cut("plain.gra", 1500, "short.gra");
  const qAsGra = cut("eight.q", Infinity, "eight.gra");
  cut("card.e1", 31999);
  copyFileSync(join(samples, "card.gra"), join(scratch, "card.gra"));
  const notes = join(scratch, "notes.txt");
  writeFileSync(notes, "not a picture\n");

  const { pictures, others } = planes.decodeFiles(
    ["short.q", "short.gra", "eight.gra", "card.gra", "card.e1", "notes.txt"].map((n) => file(scratch, n)),
  );
  const byName = Object.fromEntries(pictures.map((p) => [p.name, p]));
  for (const path of [truncatedQ, truncatedGra, qAsGra]) {
    const name = path.slice(scratch.length + 1);
    const native = nativeDecode(path, scratch);
    assert.ok(native.reason, `planeconv refuses ${name}`);
    assert.equal(byName[name].ok, false);
    assert.equal(byName[name].reason, native.reason, name);
  }
  assert.match(byName["short.q"].reason, /ends after 9000 bytes/);

  // A fourth plane of the wrong size is passed over, natively and here alike.
  assertSameAsNative(byName["card.gra"], nativeDecode(join(scratch, "card.gra"), scratch));
  assert.equal(byName["card.gra"].colors, 8);
  assert.equal(byName["card.gra"].companions.fourthPlane, null);

  // A file of neither format: planeconv adds how to force a format, which a page cannot do.
  assert.equal(others.length, 1);
  assert.equal(others[0].name, "notes.txt");
  assert.ok(nativeDecode(notes, scratch).reason.startsWith(others[0].reason));
  assert.match(others[0].reason, /ends in neither \.gra nor \.q/);

  // A file far too large for a picture is not copied into the module at all.
  const huge = planes.decodeFiles([{ name: "huge.gra", size: 1 << 30 }]);
  assert.deepEqual(huge.pictures, []);
  assert.match(huge.others[0].reason, /^not opened: 1073741824 bytes, more than/);
});

// SPDX-License-Identifier: MIT
// What the native build says of a picture, for the web tests to hold the WebAssembly build to:
// planeconv's PNG (indices and palette), its info (format, colours, comment) and its reasons.
//
// The builds are found through PLANES_SOURCE, PLANES_WEB_BUILD and PLANES_NATIVE_BUILD (ctest
// sets them; by default the usual build folders of this checkout).
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { readPng } from "./png.mjs";

const here = dirname(fileURLToPath(import.meta.url));
export const source = process.env.PLANES_SOURCE || resolve(here, "../..");
export const webBuild = process.env.PLANES_WEB_BUILD || join(source, "build/web");
export const nativeBuild = process.env.PLANES_NATIVE_BUILD || join(source, "build/native");
export const samples = join(source, "samples");
export const planeconv = join(nativeBuild, "tools/planeconv");

export function temporaryFolder(t) {
  const folder = mkdtempSync(join(tmpdir(), "planes-web-"));
  t.after(() => rmSync(folder, { recursive: true, force: true }));
  return folder;
}

// The test-picture set (tests/support/pictures.h) written into folder: samples/, writer/ and
// malformed/, each picture beside its companions.
export function writeTestPictures(folder) {
  execFileSync(join(nativeBuild, "tests/support/pinned"), ["files", folder]);
}

// planeconv's decode of the picture at path: { indices, palette, rgba, formatName, colors,
// comment (the text info shows) } or { reason }.
export function nativeDecode(path, scratch) {
  const png = join(scratch, `${basename(path)}.png`);
  const run = spawnSync(planeconv, ["convert", path, "-o", png, "--force"]);
  if (run.status !== 0) {
    const line = run.stderr.toString("latin1").split("\n")[0];
    const prefix = `${path}: `;
    if (!line.startsWith(prefix)) throw new Error(`planeconv said: ${line}`);
    // The host library's reason, without the hint planeconv adds about its own --as option.
    return { reason: line.slice(prefix.length).replace(/ \(use --as \w+ to read it as one\)$/, "") };
  }
  const image = readPng(readFileSync(png));
  const info = execFileSync(planeconv, ["info", path]);
  const field = (name) => {
    const text = info.toString("latin1");
    const match = text.match(new RegExp(`^  ${name}: +(.*)$`, "m"));
    return match ? match[1] : null;
  };
  // The comment line holds the comment between quotes, as the host library shows it: code page
  // 932 text, with control characters, backslashes and bytes that are no character as \xNN.
  const shown = info.toString("utf8").match(/^  comment: +"(.*)"$/m);
  const comment = shown ? shown[1] : "";
  return {
    indices: image.indices,
    palette: image.palette,
    rgba: image.rgba,
    formatName: field("format").split(" ")[0],
    colors: Number.parseInt(field("colours"), 10),
    comment,
  };
}

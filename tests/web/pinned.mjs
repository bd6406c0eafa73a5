// SPDX-License-Identifier: MIT
// The pinned outputs (tests/expected/decoded.sha256; the format is told in tests/support/pinned.h)
// for the tests under node: the file read, and the same hashes of a picture the module decoded.
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { source } from "./native.mjs";

export const pinnedFile = join(source, "tests/expected/decoded.sha256");

// name -> { result: "Ok", indices, palette, comment, rgb } or { result: "BadData" }, ...
export function readPinned(path = pinnedFile) {
  const entries = new Map();
  for (const line of readFileSync(path, "latin1").split("\n")) {
    if (line === "" || line.startsWith("#")) continue;
    const f = line.split(/\s+/);
    if (f.length === 3 && f[1] === "result") {
      entries.set(f[0], { result: f[2] });
    } else if (f.length === 5) {
      entries.set(f[0], { result: "Ok", indices: f[1], palette: f[2], comment: f[3], rgb: f[4] });
    } else {
      throw new Error(`${path}: "${line}" has neither 5 fields nor NAME result CODE`);
    }
  }
  return entries;
}

const sha256 = (bytes) => createHash("sha256").update(bytes).digest("hex");

// The hashes of a decoded picture of the module: indices one byte a pixel, the 16 colours as
// red, green, blue, the comment's bytes, the pixels' colours as red, green, blue.
export function hashesOf({ indices, palette, commentBytes }) {
  const colours = Buffer.from(palette.flatMap((c) => [c.red, c.green, c.blue]));
  const rgb = Buffer.alloc(indices.length * 3);
  indices.forEach((index, i) => colours.copy(rgb, 3 * i, 3 * index, 3 * index + 3));
  return {
    result: "Ok",
    indices: sha256(indices),
    palette: sha256(colours),
    comment: sha256(commentBytes),
    rgb: sha256(rgb),
  };
}

// SPDX-License-Identifier: MIT
// GRA and Q pictures in JavaScript, decoded by the project's own plug-ins compiled to
// WebAssembly (planes_core.mjs). This module knows no format: it places files where the
// plug-ins look for them and hands back what they decoded, or the reason they could not.
//
//   import { createPlanes } from "./planes.mjs";
//   const planes = await createPlanes();
//   const { pictures, others } = planes.decodeFiles([{ name: "CARD.GRA", bytes }, ...]);
//   // pictures[i]: { name, ok, formatName, width, height, colors, palette, indices, rgba,
//   //                comment, companions, reason, milliseconds }
//
// Or in two steps, as the viewer does (open once, decode whenever a picture is shown):
//   const batch = planes.open(files);   // { pictures: [entry], others: [{ name, reason }] }
//   const picture = planes.decode(batch.pictures[0]);
//
// planes.formats lists what the page may show of each format (name, title, shortTitle,
// extensions, mimeType, largestFile, companions: [{ suffix, size, role }]), from the formats'
// own descriptions; planes.largestFile is the largest file of any of them: no plug-in reads
// further into a file, so a page need read no more of one.
//
// A file is { name, bytes, folder }: bytes a Uint8Array, folder (optional) the folder it was
// dropped from, so that only files of the same folder pair up. Only the first largestFile
// bytes count. A file may come as { name, size, folder } without its bytes (one the page did
// not read): it is listed among the other files. Each picture gets a folder of its
// own in the module's in-memory file system, holding the picture under its name and its
// companion files (a GRA picture's ".rgb" palette and ".e1" fourth plane) under the names the
// plug-in opens, whatever the letter case they were dropped with: the plug-in then finds them
// as it would on disk.
import createPlanesCore from "./planes_core.mjs";
import { wasmBase64 } from "./planes_wasm.mjs";

function base64Bytes(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

export async function createPlanes() {
  const core = await createPlanesCore({
    wasmBinary: base64Bytes(wasmBase64),
    print: () => {},
    printErr: () => {},
  });
  return new Planes(core);
}

const commentText = new TextDecoder("utf-8");

export class Planes {
  constructor(core) {
    this.core = core;
    this.batches = 0;
    this.formats = core.formats();
    this.largestFile = Math.max(...this.formats.map((format) => format.largestFile));
  }

  // The dropped files sorted into pictures (each with its companions placed beside it) and
  // other files (with the reason no plug-in takes them). A picture whose name has a format's
  // extension but whose contents do not pass is a picture entry with a reason; other files
  // that are the companions of a dropped picture are not listed.
  open(files) {
    const { FS } = this.core;
    const root = `/dropped/${++this.batches}`;
    const largestFile = this.largestFile;
    const unread = files.filter((file) => !file.bytes);
    const placed = files.filter((file) => file.bytes).map((file, i) => {
      const folder = `${root}/${i}`;
      FS.mkdirTree(folder);
      const path = `${folder}/${file.name}`;
      FS.writeFile(path, file.bytes.subarray(0, largestFile));
      return { file, folder, path, seen: this.core.examine(path) };
    });

    const companionFiles = new Set();
    const pictures = [];
    for (const p of placed) {
      if (!p.seen.claimed) continue;
      const entry = {
        name: p.file.name,
        folder: p.file.folder || "",
        path: p.path,
        reason: p.seen.reason,
        wanted: p.seen.companionNames, // the companion names its plug-in looks for
        companions: [], // the dropped files placed as such: { name, placedAs }
      };
      for (const wanted of p.seen.companionNames) {
        const match = findCompanion(placed, p, wanted);
        if (!match) continue;
        FS.writeFile(`${p.folder}/${wanted}`, match.file.bytes);
        entry.companions.push({ name: match.file.name, placedAs: `${p.folder}/${wanted}` });
        companionFiles.add(match);
      }
      pictures.push(entry);
    }
    const others = placed
      .filter((p) => !p.seen.claimed && !companionFiles.has(p))
      .map((p) => ({ name: p.file.name, folder: p.file.folder || "", reason: p.seen.reason }))
      .concat(
        unread.map((file) => ({
          name: file.name,
          folder: file.folder || "",
          reason: `not opened: ${file.size} bytes, more than the ${largestFile} this page reads`,
        })),
      );
    return { pictures, others };
  }

  // A picture of a batch, decoded now: see the top of this file for the fields.
  decode(entry) {
    const out = this.core.decode(entry.path);
    const result = { name: entry.name, folder: entry.folder, ok: out.ok, reason: out.reason };
    if (!out.ok) return result;
    const dropped = (placedAs) =>
      placedAs ? entry.companions.find((c) => c.placedAs === placedAs)?.name ?? null : null;
    const palette = [];
    for (let i = 0; i < 16; ++i) {
      palette.push({ red: out.palette[3 * i], green: out.palette[3 * i + 1], blue: out.palette[3 * i + 2] });
    }
    return Object.assign(result, {
      plugin: out.plugin,
      formatName: out.formatName,
      width: out.width,
      height: out.height,
      colors: out.colors,
      palette,
      indices: out.indices,
      rgba: new Uint8ClampedArray(out.rgba.buffer),
      comment: commentText.decode(out.comment),
      commentBytes: out.comment,
      companions: { palette: dropped(out.paletteFile), fourthPlane: dropped(out.fourthPlaneFile) },
      milliseconds: out.milliseconds,
    });
  }

  // open and decode in one: every picture decoded, the other files with their reasons.
  decodeFiles(files) {
    const batch = this.open(files);
    return { pictures: batch.pictures.map((entry) => this.decode(entry)), others: batch.others };
  }
}

// The dropped file of the same folder that a picture's plug-in opens as wanted: the one of
// exactly that name, else one that differs only in letter case.
function findCompanion(placed, picture, wanted) {
  const folder = picture.file.folder || "";
  const candidates = placed.filter((p) => p !== picture && (p.file.folder || "") === folder);
  return (
    candidates.find((p) => p.file.name === wanted) ??
    candidates.find((p) => p.file.name.toLowerCase() === wanted.toLowerCase()) ??
    null
  );
}

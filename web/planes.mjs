// SPDX-License-Identifier: MIT
// GRA and Q pictures in JavaScript, decoded by the project's own plug-ins compiled to
// WebAssembly (planes_core.mjs). This module knows no format: it pairs pictures with the
// companion files their plug-in asks for, hands both over as bytes and hands back what the
// plug-ins decoded and used, or the reason they could not.
//
//   import { createPlanes } from "./planes.mjs";
//   const planes = await createPlanes();
//   const { pictures, others } = planes.decodeFiles([{ name: "CARD.GRA", bytes }, ...]);
//   // pictures[i]: { name, ok, formatName, width, height, colors, palette, indices, rgba,
//   //                comment, commentBytes, companions, notes, reason, milliseconds }
//   // comment: the text (code page 932; bytes that are no character there written \xNN);
//   // notes: companions passed over for their size ("card.rgb ignored: 47 bytes, ...").
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
// not read): it is listed among the other files. A picture's companion files (a GRA picture's
// ".rgb" palette and ".e1" fourth plane) are the dropped files of its folder named as its
// plug-in names them, whatever the letter case; they go with the picture to the plug-in, which
// takes them by the same rule as files beside a picture on disk, and reports by their dropped
// names those it took.
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

export class Planes {
  constructor(core) {
    this.core = core;
    this.formats = core.formats();
    this.largestFile = Math.max(...this.formats.map((format) => format.largestFile));
  }

  // The dropped files sorted into pictures (each with the companions paired with it) and other
  // files (with the reason no plug-in takes them). A picture whose name has a format's extension
  // but whose contents do not pass is a picture entry with a reason; other files that are the
  // companions of a dropped picture are not listed.
  open(files) {
    const largestFile = this.largestFile;
    const unread = files.filter((file) => !file.bytes);
    const read = files
      .filter((file) => file.bytes)
      .map((file) => {
        const bytes = file.bytes.subarray(0, largestFile);
        return { file: { ...file, bytes }, seen: this.core.examine(file.name, bytes) };
      });

    const companionFiles = new Set();
    const pictures = [];
    for (const p of read) {
      if (!p.seen.claimed) continue;
      const entry = {
        name: p.file.name,
        folder: p.file.folder || "",
        bytes: p.file.bytes,
        reason: p.seen.reason,
        wanted: p.seen.companionNames, // the companion names its plug-in looks for
        companions: [], // the dropped files paired with it: { name, bytes }
      };
      for (const wanted of p.seen.companionNames) {
        const match = findCompanion(read, p, wanted);
        if (!match) continue;
        entry.companions.push({ name: match.file.name, bytes: match.file.bytes });
        companionFiles.add(match);
      }
      pictures.push(entry);
    }
    const others = read
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
    const out = this.core.decode(entry.name, entry.bytes, entry.companions);
    const result = { name: entry.name, folder: entry.folder, ok: out.ok, reason: out.reason };
    if (!out.ok) return result;
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
      comment: out.commentText,
      commentBytes: out.comment,
      companions: { palette: out.paletteFile || null, fourthPlane: out.fourthPlaneFile || null },
      notes: out.notes,
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
function findCompanion(read, picture, wanted) {
  const folder = picture.file.folder || "";
  const candidates = read.filter((p) => p !== picture && (p.file.folder || "") === folder);
  return (
    candidates.find((p) => p.file.name === wanted) ??
    candidates.find((p) => p.file.name.toLowerCase() === wanted.toLowerCase()) ??
    null
  );
}

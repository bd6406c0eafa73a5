// SPDX-License-Identifier: MIT
// A small PNG reader for the web tests: the palette PNGs planeconv writes (indices and palette
// as stored) and the RGB or RGBA PNGs a browser saves, as 8-bit RGBA pixels.
import { inflateSync } from "node:zlib";

const SIGNATURE = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

export function readPng(bytes) {
  bytes = Buffer.from(bytes);
  if (!bytes.subarray(0, 8).equals(SIGNATURE)) throw new Error("not a PNG");
  let header = null;
  let palette = null;
  const data = [];
  for (let at = 8; at < bytes.length; ) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.toString("latin1", at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      header = {
        width: body.readUInt32BE(0),
        height: body.readUInt32BE(4),
        depth: body[8],
        colorType: body[9],
        interlace: body[12],
      };
    } else if (type === "PLTE") {
      palette = [];
      for (let i = 0; i + 2 < body.length; i += 3) {
        palette.push({ red: body[i], green: body[i + 1], blue: body[i + 2] });
      }
    } else if (type === "IDAT") {
      data.push(body);
    } else if (type === "IEND") {
      break;
    }
    at += 12 + length;
  }
  if (!header || header.interlace) throw new Error("no header, or an interlaced PNG");
  const { width, height, depth, colorType } = header;
  const channels = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 }[colorType];
  if (!channels || (colorType !== 3 && depth !== 8)) {
    throw new Error(`PNG colour type ${colorType} at depth ${depth} not read here`);
  }
  const bitsPerPixel = channels * depth;
  const stride = Math.ceil((width * bitsPerPixel) / 8);
  const step = Math.max(1, bitsPerPixel / 8); // the byte distance the filters look back
  const raw = inflateSync(Buffer.concat(data));
  const rows = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = rows.subarray(y * stride, (y + 1) * stride);
    const up = y ? rows.subarray((y - 1) * stride, y * stride) : Buffer.alloc(stride);
    for (let x = 0; x < stride; ++x) {
      const a = x >= step ? out[x - step] : 0;
      const b = up[x];
      const c = x >= step ? up[x - step] : 0;
      let predicted = 0;
      if (filter === 1) predicted = a;
      else if (filter === 2) predicted = b;
      else if (filter === 3) predicted = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      } else if (filter !== 0) throw new Error(`bad filter ${filter}`);
      out[x] = (line[x] + predicted) & 255;
    }
  }

  const rgba = new Uint8Array(width * height * 4);
  let indices = null;
  if (colorType === 3) {
    indices = new Uint8Array(width * height);
    const perByte = 8 / depth;
    const mask = (1 << depth) - 1;
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        const byte = rows[y * stride + Math.floor(x / perByte)];
        const shift = 8 - depth * ((x % perByte) + 1);
        const index = (byte >> shift) & mask;
        indices[y * width + x] = index;
        const colour = palette[index];
        rgba.set([colour.red, colour.green, colour.blue, 255], (y * width + x) * 4);
      }
    }
  } else {
    for (let i = 0; i < width * height; ++i) {
      const p = rows.subarray(i * channels, (i + 1) * channels);
      const grey = channels <= 2;
      rgba.set([p[0], grey ? p[0] : p[1], grey ? p[0] : p[2], channels % 2 === 0 ? p[channels - 1] : 255], i * 4);
    }
  }
  return { width, height, rgba, indices, palette };
}

// SPDX-License-Identifier: MIT
// Makes the web build's JavaScript outputs from the compiled module:
//
//   node bundle.mjs SOURCE_DIR BUILD_DIR VERSION
//
//   BUILD_DIR/planes_wasm.mjs  the WebAssembly of planes_core.wasm as base64, for planes.mjs
//   BUILD_DIR/planes.mjs       the module's API (SOURCE_DIR/planes.mjs)
//   BUILD_DIR/viewer.html      the viewer page as one file: the styles, and one inline script of
//                              planes_core.mjs, the WebAssembly, planes.mjs and viewer.js, under
//                              a Content-Security-Policy that allows those two inline blocks
//                              (by hash) and WebAssembly, and no request of any kind; its
//                              footer names the release VERSION (the CMake project version).
//
// Each output is written to a temporary name and renamed, so that none is ever half-written.
import { createHash } from "node:crypto";
import { readFileSync, renameSync, writeFileSync, unlinkSync } from "node:fs";
import { join } from "node:path";

const [sourceDir, buildDir, version] = process.argv.slice(2);
if (!sourceDir || !buildDir || !version) {
  console.error("usage: node bundle.mjs SOURCE_DIR BUILD_DIR VERSION");
  process.exit(2);
}

function read(path) {
  return readFileSync(path, "utf8");
}

function writeWhole(path, text) {
  const temporary = `${path}.${process.pid}.tmp`;
  try {
    writeFileSync(temporary, text);
    renameSync(temporary, path);
  } catch (error) {
    try {
      unlinkSync(temporary);
    } catch {}
    throw error;
  }
}

// Replaces exactly one match of pattern, so that a changed input fails the build instead of
// leaving an import or an export behind.
function replaceOnce(text, pattern, replacement, what) {
  const found = text.match(new RegExp(pattern.source, pattern.flags.replace("g", "") + "g"));
  if (!found || found.length !== 1) {
    throw new Error(`${what}: expected one match of ${pattern}, found ${found ? found.length : 0}`);
  }
  return text.replace(pattern, replacement);
}

const sha256 = (text) => `'sha256-${createHash("sha256").update(text, "utf8").digest("base64")}'`;

const wasm = readFileSync(join(buildDir, "planes_core.wasm"));
const wasmModule = `export const wasmBase64 = "${wasm.toString("base64")}";\n`;
writeWhole(join(buildDir, "planes_wasm.mjs"), wasmModule);
const api = read(join(sourceDir, "planes.mjs"));
writeWhole(join(buildDir, "planes.mjs"), api);

// One script: each module's imports dropped (what they import is defined above them) and its
// exports made plain declarations.
let core = read(join(buildDir, "planes_core.mjs"));
core = replaceOnce(core, /^export default createPlanesCore;$/m, "", "planes_core.mjs");
let inlineApi = api;
inlineApi = replaceOnce(inlineApi, /^import createPlanesCore from "\.\/planes_core\.mjs";$/m, "", "planes.mjs");
inlineApi = replaceOnce(inlineApi, /^import \{ wasmBase64 \} from "\.\/planes_wasm\.mjs";$/m, "", "planes.mjs");
inlineApi = inlineApi.replace(/^export (async function|function|class|const) /gm, "$1 ");
let viewer = read(join(sourceDir, "viewer", "viewer.js"));
viewer = replaceOnce(viewer, /^import \{ createPlanes \} from "\.\/planes\.mjs";$/m, "", "viewer.js");
const script = [core, wasmModule.replace(/^export /, ""), inlineApi, viewer].join("\n");
const style = read(join(sourceDir, "viewer", "viewer.css"));
if (/<\/script/i.test(script) || /<\/style/i.test(style)) {
  throw new Error("an inline block would end early: it holds a closing tag");
}

const policy = [
  "default-src 'none'",
  `script-src ${sha256(script)} 'wasm-unsafe-eval'`,
  `style-src ${sha256(style)}`,
  "img-src 'none'",
  "connect-src 'none'",
  "base-uri 'none'",
  "form-action 'none'",
].join("; ");

let page = read(join(sourceDir, "viewer", "viewer.html"));
// Functions as replacements, so that "$" in the inserted text stays as it is. The version
// first, so that nothing inserted after it can hold its placeholder.
page = replaceOnce(page, /@VERSION@/, () => version, "viewer.html");
page = replaceOnce(page, /@CSP@/, () => policy, "viewer.html");
page = replaceOnce(page, /@STYLE@/, () => style, "viewer.html");
page = replaceOnce(page, /@SCRIPT@/, () => script, "viewer.html");
writeWhole(join(buildDir, "viewer.html"), page);

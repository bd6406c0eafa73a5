// SPDX-License-Identifier: MIT
// The viewer page: files in (file input, folder input, drag and drop), a list of thumbnails,
// the chosen picture at its natural size with its palette and facts. Everything a picture
// shows or a failure says comes from planes.mjs, that is from the plug-ins and the host library.
import { createPlanes } from "./planes.mjs";

const $ = (id) => document.getElementById(id);
const planesReady = createPlanes();

const shown = { items: [], selected: -1, zoom: "1", picture: null };

// Files as planes.mjs takes them, in the order of their folder and name, and those that could
// not be read with the reason. No plug-in reads past the largest file of its format, so no more
// of a file is read.
async function readFiles(planes, found) {
  const unreadable = [];
  const files = await Promise.all(
    found.map(async ({ file, folder }) => {
      try {
        const bytes = new Uint8Array(await file.slice(0, planes.largestFile).arrayBuffer());
        return { name: file.name, folder, size: file.size, bytes };
      } catch (error) {
        unreadable.push({ name: file.name, folder, reason: `could not be read (${error.message})` });
        return null;
      }
    }),
  );
  const order = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
  const sorted = files
    .filter(Boolean)
    .sort((a, b) => order.compare(a.folder, b.folder) || order.compare(a.name, b.name));
  return { files: sorted, unreadable };
}

function folderOf(path) {
  const slash = path.lastIndexOf("/");
  return slash <= 0 ? "" : path.slice(0, slash).replace(/^\//, "");
}

// The files of a drop, folders walked through.
async function droppedFiles(items) {
  const entries = [...items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
  const found = [];
  async function walk(entry) {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      found.push({ file, folder: folderOf(entry.fullPath) });
    } else if (entry.isDirectory) {
      const reader = entry.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (!batch.length) break;
        for (const child of batch) await walk(child);
      }
    }
  }
  for (const entry of entries) await walk(entry);
  return found;
}

// Says, above the picture, why an opening or a drop shows nothing new: what came and why none
// of it is a picture. Cleared by the next opening that brings a picture.
function notice(text, others = []) {
  const box = $("notice");
  box.hidden = !text;
  box.replaceChildren(text);
  if (!others.length) return;
  const ul = document.createElement("ul");
  for (const other of others) {
    const li = document.createElement("li");
    const name = document.createElement("b");
    name.textContent = other.folder ? `${other.folder}/${other.name}` : other.name;
    li.append(name, `: ${other.reason}`);
    ul.append(li);
  }
  box.append(ul);
}

// how: "drop", "files" or "folder", for what a notice says came.
async function open(found, how) {
  if (!found.length) {
    if (how === "drop") notice("Nothing to show: the drop held no files (only text or a link?).");
    if (how === "folder") notice("Nothing to show: the folder holds no files.");
    return;
  }
  document.body.dataset.busy = "true";
  try {
    const planes = await planesReady;
    const { files, unreadable } = await readFiles(planes, found);
    const batch = planes.open(files);
    const first = shown.items.length;
    for (const entry of batch.pictures) addItem(planes, entry);
    const others = batch.others.concat(unreadable);
    addOthers(others);
    if (batch.pictures.length) {
      notice("");
    } else {
      const what = how === "drop" ? "dropped" : "opened";
      const count = others.length;
      notice(
        `Nothing to show: the ${count === 1 ? "file" : `${count} files`} ${what} ` +
          `${count === 1 ? "is not a picture this page shows" : "hold no picture this page shows"}.`,
        others,
      );
      $("others-box").open = true;
    }
    $("hint").hidden = shown.items.length > 0;
    const count = shown.items.length;
    $("count").textContent = count ? `${count} picture${count === 1 ? "" : "s"} · keys ↑ ↓ step` : "";
    if (shown.items.length > first) select(first);
  } finally {
    delete document.body.dataset.busy;
  }
}

function addItem(planes, entry) {
  const picture = planes.decode(entry);
  const index = shown.items.length;
  const li = document.createElement("li");
  // One stop in the Tab order for the whole list: the selected picture (the first until one is).
  li.tabIndex = index === 0 ? 0 : -1;
  li.setAttribute("role", "option");
  li.setAttribute("aria-selected", "false");
  const thumb = document.createElement("canvas");
  thumb.setAttribute("aria-hidden", "true");
  thumb.width = 320;
  thumb.height = 200;
  const label = document.createElement("div");
  label.className = "label";
  const file = document.createElement("span");
  file.className = "file";
  file.textContent = entry.name;
  const kind = document.createElement("span");
  kind.className = "kind";
  li.title = entry.folder ? `${entry.folder}/${entry.name}` : entry.name;
  if (picture.ok) {
    thumb.getContext("2d").drawImage(fullCanvas(picture), 0, 0, thumb.width, thumb.height);
    kind.textContent = `${picture.colors} colours`;
    li.setAttribute("aria-label", `${li.title}, ${picture.formatName}, ${picture.colors} colours`);
  } else {
    li.classList.add("failed");
    kind.textContent = "cannot show";
    li.setAttribute("aria-label", `${li.title}, cannot be shown: ${picture.reason}`);
    li.title += `\n${picture.reason}`;
    drawRefusal(thumb);
  }
  label.append(file, kind);
  li.append(thumb, label);
  li.addEventListener("click", () => select(index));
  li.addEventListener("keydown", (event) => {
    if (event.key !== "Enter" && event.key !== " ") return;
    event.preventDefault();
    select(index);
  });
  $("list").append(li);
  shown.items.push({ planes, entry, li });
}

// A thumbnail of a picture that cannot be shown: a cross on a pale ground.
function drawRefusal(canvas) {
  const context = canvas.getContext("2d");
  context.fillStyle = "#fbe9e7";
  context.fillRect(0, 0, canvas.width, canvas.height);
  context.strokeStyle = "#a3261b";
  context.lineWidth = 10;
  context.lineCap = "round";
  const x = canvas.width / 2, y = canvas.height / 2, r = 36;
  context.beginPath();
  context.moveTo(x - r, y - r);
  context.lineTo(x + r, y + r);
  context.moveTo(x + r, y - r);
  context.lineTo(x - r, y + r);
  context.stroke();
}

function addOthers(others) {
  for (const other of others) {
    const li = document.createElement("li");
    const name = document.createElement("b");
    name.textContent = other.folder ? `${other.folder}/${other.name}` : other.name;
    li.append(name, document.createTextNode(`: ${other.reason}`));
    $("others").append(li);
  }
  const count = $("others").children.length;
  $("others-box").hidden = count === 0;
  $("others-title").textContent = `${count} other file${count === 1 ? "" : "s"}, not shown`;
}

// A canvas holding a decoded picture at its natural size.
function fullCanvas(picture, canvas = document.createElement("canvas")) {
  canvas.width = picture.width;
  canvas.height = picture.height;
  canvas.getContext("2d").putImageData(new ImageData(picture.rgba, picture.width, picture.height), 0, 0);
  return canvas;
}

function select(index) {
  if (index < 0 || index >= shown.items.length) return;
  const item = shown.items[index];
  const before = shown.items[shown.selected]?.li;
  const listFocused = $("list").contains(document.activeElement);
  if (before) {
    before.classList.remove("selected");
    before.setAttribute("aria-selected", "false");
    before.tabIndex = -1;
  }
  shown.items[0].li.tabIndex = -1;
  shown.selected = index;
  item.li.classList.add("selected");
  item.li.setAttribute("aria-selected", "true");
  item.li.tabIndex = 0;
  // Focus follows the selection within the list, so that arrows, Enter and Tab go on from it.
  if (listFocused) item.li.focus();
  item.li.scrollIntoView({ block: "nearest" });
  // Decoded again, so that the time shown is this decode's.
  const picture = item.planes.decode(item.entry);
  shown.picture = picture.ok ? picture : null;
  $("empty").hidden = true;
  $("shown").hidden = false;
  $("name").textContent = item.entry.folder ? `${item.entry.folder}/${item.entry.name}` : item.entry.name;
  $("error").hidden = picture.ok;
  $("stage").hidden = !picture.ok;
  $("save").disabled = !picture.ok;
  document.querySelector(".details").hidden = !picture.ok;
  if (!picture.ok) {
    $("error").textContent = `${item.entry.name} cannot be shown: ${picture.reason}`;
    $("picture").setAttribute("aria-label", "No picture");
    return;
  }
  fullCanvas(picture, $("picture"));
  $("picture").setAttribute(
    "aria-label",
    `${item.entry.name}: ${picture.formatName}, ${picture.width} × ${picture.height}, ${picture.colors} colours` +
      (picture.comment ? `, comment “${picture.comment}”` : ""),
  );
  showFacts(item.entry, picture);
  showPalette(picture);
}

function showFacts(entry, picture) {
  const facts = [
    ["Format", picture.formatName],
    ["Size", `${picture.width} × ${picture.height}`],
    ["Colours", String(picture.colors)],
    ["Comment", picture.comment || "none"],
  ];
  if (entry.companions.length || entry.wanted.length) {
    const used = [picture.companions.palette, picture.companions.fourthPlane].filter(Boolean);
    facts.push(["Companions used", used.length ? used.join(", ") : "none"]);
    if (picture.notes.length) facts.push(["Not used", picture.notes.join("; ")]);
  }
  facts.push(["Decoded in", `${picture.milliseconds.toFixed(2)} ms`]);
  const dl = $("facts");
  dl.replaceChildren();
  for (const [term, value] of facts) {
    const dt = document.createElement("dt");
    dt.textContent = term;
    const dd = document.createElement("dd");
    dd.textContent = value;
    dl.append(dt, dd);
  }
}

function showPalette(picture) {
  const used = new Uint8Array(16);
  for (const index of picture.indices) used[index] = 1;
  const hex = (v) => v.toString(16).padStart(2, "0").toUpperCase();
  const ol = $("palette");
  ol.replaceChildren();
  picture.palette.forEach((c, i) => {
    const li = document.createElement("li");
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = `rgb(${c.red}, ${c.green}, ${c.blue})`;
    li.append(swatch, `${i}: ${hex(c.red)}${hex(c.green)}${hex(c.blue)}`);
    li.title = `index ${i}: red ${c.red}, green ${c.green}, blue ${c.blue}${used[i] ? "" : " (not in the picture)"}`;
    li.setAttribute("aria-label", `colour ${li.title}`);
    if (!used[i]) li.classList.add("unused");
    ol.append(li);
  });
}

function setZoom(zoom) {
  shown.zoom = zoom;
  $("stage").className = `stage zoom-${zoom}`;
  for (const button of document.querySelectorAll("[data-zoom]")) {
    button.setAttribute("aria-pressed", String(button.dataset.zoom === zoom));
  }
}

function save() {
  const item = shown.items[shown.selected];
  if (!item || !shown.picture) return;
  $("picture").toBlob((blob) => {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = `${item.entry.name.replace(/\.[^.]*$/, "")}.png`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }, "image/png");
}

$("files").addEventListener("change", (event) => {
  open([...event.target.files].map((file) => ({ file, folder: "" })), "files");
  event.target.value = "";
});
$("folder").addEventListener("change", (event) => {
  open(
    [...event.target.files].map((file) => ({ file, folder: folderOf(file.webkitRelativePath || file.name) })),
    "folder",
  );
  event.target.value = "";
});
for (const button of document.querySelectorAll("[data-zoom]")) {
  button.addEventListener("click", () => setZoom(button.dataset.zoom));
}
setZoom("1");
$("save").addEventListener("click", save);

document.addEventListener("keydown", (event) => {
  if (event.altKey || event.ctrlKey || event.metaKey || !shown.items.length) return;
  // Keys that the focused control takes for itself are left to it.
  if (event.target.closest?.("input, summary, .zoom")) return;
  const steps = { ArrowDown: 1, ArrowRight: 1, ArrowUp: -1, ArrowLeft: -1 };
  let next = null;
  if (event.key in steps) next = Math.max(0, Math.min(shown.items.length - 1, shown.selected + steps[event.key]));
  if (event.key === "Home") next = 0;
  if (event.key === "End") next = shown.items.length - 1;
  if (next === null) return;
  event.preventDefault();
  select(next);
});

let dragDepth = 0;
document.addEventListener("dragenter", (event) => {
  event.preventDefault();
  if (++dragDepth === 1) $("drop-overlay").hidden = false;
});
document.addEventListener("dragleave", () => {
  if (--dragDepth <= 0) {
    dragDepth = 0;
    $("drop-overlay").hidden = true;
  }
});
document.addEventListener("dragover", (event) => event.preventDefault());
document.addEventListener("drop", (event) => {
  event.preventDefault();
  dragDepth = 0;
  $("drop-overlay").hidden = true;
  // Both taken now: a drop's data is gone once this handler returns.
  const files = [...event.dataTransfer.files].map((file) => ({ file, folder: "" }));
  const items = event.dataTransfer.items;
  if (items && items.length && items[0].webkitGetAsEntry) {
    // Folders are walked through; where the entries cannot be read, the files as dropped.
    droppedFiles(items).then(
      (found) => open(found, "drop"),
      () => open(files, "drop"),
    );
  } else {
    open(files, "drop");
  }
});

// The formats, their extensions and companion files, in the words of the formats' descriptions:
// "Drop pictures anywhere on the page: .gra with its .rgb and .e1 files, .q. Folders too."
function describeFormats(formats) {
  const bold = (text) => Object.assign(document.createElement("b"), { textContent: text });
  // [a, b, c] -> [a, ", ", b, last, c]
  const list = (items, last) =>
    items.flatMap((item, i) => (i === 0 ? [] : [i + 1 === items.length ? last : ", "]).concat(item));
  const extensions = (format) => format.extensions.map((extension) => bold(`.${extension}`));
  const companions = (format) => format.companions.map((companion) => bold(`.${companion.suffix}`));
  const dropped = formats.map((format) =>
    format.companions.length
      ? [...extensions(format), " with its ", ...list(companions(format), " and "), " files"]
      : extensions(format),
  );
  $("hint").replaceChildren("Drop pictures anywhere on the page: ", ...list(dropped, ", ").flat(), ". Folders too.");
  const titles = formats.map((format) => format.shortTitle);
  $("drop-title").textContent = `Drop ${list(titles, " and ").join("")} pictures here`;
  const gives = { palette: "its own colours", fourthPlane: "all 16 of them" };
  for (const format of formats.filter((f) => f.companions.length)) {
    $("drop-more").append(
      ` A ${format.shortTitle} picture shows `,
      list(format.companions.map((companion) => gives[companion.role]), " and ").join(""),
      " when its ",
      ...list(companions(format), " and "),
      " files come along.",
    );
  }
}

planesReady.then(
  (planes) => {
    describeFormats(planes.formats);
    document.body.dataset.ready = "true";
  },
  (error) => {
    $("hint").textContent = `The decoders could not start: ${error}`;
  },
);

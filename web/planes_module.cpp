// SPDX-License-Identifier: MIT
// The web module: the host library's calls for a browser page, by way of embind. It knows no
// format of its own: the plug-ins, linked in through their native link, decode, and the host
// library recognises files and words every reason.
//
// The page holds every dropped file as bytes and hands them over as they are; nothing is written
// into a file system. A GRA picture's companions go with it as held files, which the plug-in
// takes by the same rule as files beside a picture on disk:
//
//   examine(name, bytes)             which plug-in takes the file, why none does, which
//                                    companion names its plug-in looks for beside it;
//   decode(name, bytes, companions)  the picture as the plug-in hands it over, or the reason it
//                                    cannot; companions: [{ name, bytes }] the page paired with
//                                    it, of which the plug-in reports those it took;
//   formats()                        what the page shows and needs of each format, from its
//                                    description: name, title, extensions, MIME type, largest
//                                    file and companion files.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <chrono>
#include <string>

#include "host/companions.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"

using emscripten::val;

namespace {

const host::PluginSet& plugins() {
  static const host::PluginSet set;
  return set;
}

// A JavaScript copy of bytes in the module's memory, which stays valid after the memory grows
// or the bytes are freed.
val copyOut(const std::uint8_t* data, std::size_t size) {
  return val::global("Uint8Array").new_(emscripten::typed_memory_view(size, data));
}

host::Bytes bytesOf(const val& array) {
  return emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
}

// A dropped file and the plug-in that takes it, as a host asks: IsSupported with the file's name
// and first bytes. reason says why there is none.
struct Opened {
  host::PictureFile file;
  const host::Plugin* plugin = nullptr;
  std::string reason;
};

Opened open(const std::string& name, const val& bytes) {
  Opened opened;
  opened.file.bytes = bytesOf(bytes);
  opened.plugin = plugins().recognise(name, opened.file.bytes);
  if (!opened.plugin) opened.reason = host::whyNotRecognised(plugins(), name, opened.file.bytes);
  return opened;
}

val examine(const std::string& name, const val& bytes) {
  const Opened opened = open(name, bytes);
  val out = val::object();
  out.set("plugin", opened.plugin ? opened.plugin->name : std::string());
  // A name with a format's extension is meant as a picture, whether or not it is one.
  out.set("claimed", opened.plugin || plugins().byFileName(name));
  out.set("reason", opened.reason);
  val names = val::array();
  if (opened.plugin) {
    const host::Companions wanted = host::companionNamesOf(opened.plugin->format, name);
    for (const std::string& wantedName : {wanted.palette, wanted.fourthPlane}) {
      if (!wantedName.empty()) names.call<void>("push", wantedName);
    }
  }
  out.set("companionNames", names);
  return out;
}

val decode(const std::string& name, const val& bytes, const val& companions) {
  Opened opened = open(name, bytes);
  val out = val::object();
  out.set("ok", false);
  out.set("reason", opened.reason);
  if (!opened.plugin) return out;
  out.set("plugin", opened.plugin->name);

  host::HeldFiles held;
  const auto count = companions["length"].as<std::size_t>();
  for (std::size_t i = 0; i < count; ++i) {
    const val companion = companions[i];
    held.push_back({companion["name"].as<std::string>(), bytesOf(companion["bytes"])});
  }
  opened.file.companions = std::move(held);

  host::Picture picture;
  const auto start = std::chrono::steady_clock::now();
  const host::Result result = host::decode(*opened.plugin, opened.file, picture);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (!result) {
    out.set("reason", result.reason);
    return out;
  }
  out.set("ok", true);
  out.set("formatName", picture.formatName);
  out.set("width", picture.width());
  out.set("height", picture.height());
  out.set("colors", picture.info.colors);
  std::uint8_t palette[3 * kPaletteEntries];
  for (int i = 0; i < kPaletteEntries; ++i) {
    palette[3 * i] = picture.palette[i].red;
    palette[3 * i + 1] = picture.palette[i].green;
    palette[3 * i + 2] = picture.palette[i].blue;
  }
  out.set("palette", copyOut(palette, sizeof palette));
  out.set("indices", copyOut(picture.indices.data(), picture.indices.size()));
  const host::Bytes rgba = picture.rgba();
  out.set("rgba", copyOut(rgba.data(), rgba.size()));
  const std::string& comment = picture.info.comment;
  out.set("comment",
          copyOut(reinterpret_cast<const std::uint8_t*>(comment.data()), comment.size()));
  out.set("commentText", host::commentText(picture.info));
  val notes = val::array();
  for (const host::IgnoredCompanion& ignored : picture.info.ignoredCompanions)
    notes.call<void>("push", host::describe(ignored));
  out.set("notes", notes);
  out.set("paletteFile", picture.info.companions.palette);
  out.set("fourthPlaneFile", picture.info.companions.fourthPlane);
  out.set("milliseconds", took.count());
  return out;
}

val formats() {
  static const char* const kRoles[] = {"palette", "fourthPlane"};
  val out = val::array();
  for (const FormatDescription* format : host::formatDescriptions()) {
    val entry = val::object();
    entry.set("name", std::string(format->name));
    entry.set("title", std::string(format->title));
    entry.set("shortTitle", std::string(format->shortTitle()));
    val extensions = val::array();
    for (std::string_view extension : format->extensions) {
      extensions.call<void>("push", std::string(extension));
    }
    entry.set("extensions", extensions);
    entry.set("mimeType", std::string(format->mimeType));
    entry.set("largestFile", static_cast<double>(format->largestFile));
    val companions = val::array();
    for (const CompanionFile& companion : format->companions) {
      val c = val::object();
      c.set("suffix", std::string(companion.suffix));
      c.set("size", static_cast<double>(companion.size));
      c.set("role", std::string(kRoles[static_cast<int>(companion.role)]));
      companions.call<void>("push", c);
    }
    entry.set("companions", companions);
    out.call<void>("push", entry);
  }
  return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(planes) {
  emscripten::function("examine", &examine);
  emscripten::function("decode", &decode);
  emscripten::function("formats", &formats);
}

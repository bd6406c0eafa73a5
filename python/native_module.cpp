// SPDX-License-Identifier: MIT
// planeplugins._native: the host library as Python sees it. Everything a Python host needs to
// know of the two formats comes from here (the plug-ins, the host library and the formats' own
// headers), so that the Python code repeats none of it: which formats there are and their
// extensions, MIME types and largest files; whether bytes are a picture of a format and why
// not; a picture's header; a whole decode, with the interpreter free while it runs.
#include <pybind11/pybind11.h>

#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"

namespace py = pybind11;

namespace {

// What a Python host needs of a format: Pillow's name for it, and its description (MIME type,
// and how far into a file the signature reaches, so that Pillow's first 16 bytes can rule a file
// out without claiming one they cannot tell).
struct FormatFacts {
  host::PictureFormat format;
  std::string id;  // Pillow's name of the format: the description's short title, "GRA"
  const FormatDescription* description;

  std::string mimeType() const { return std::string(description->mimeType); }
  std::size_t signatureEnd() const {
    return description->signature.offset + description->signature.bytes.size();
  }
  bool hasSignature(const std::uint8_t* bytes) const {
    const std::string_view signature = description->signature.bytes;
    return std::memcmp(bytes + description->signature.offset, signature.data(), signature.size()) ==
           0;
  }
};

const std::vector<FormatFacts>& allFacts() {
  static const std::vector<FormatFacts> facts = [] {
    std::vector<FormatFacts> list;
    for (host::PictureFormat format : {host::PictureFormat::Gra, host::PictureFormat::Q}) {
      const FormatDescription& description = host::descriptionOf(format);
      list.push_back({format, std::string(description.shortTitle()), &description});
    }
    return list;
  }();
  return facts;
}

const host::PluginSet& plugins() {
  static const host::PluginSet set;
  return set;
}

const FormatFacts& factsOf(const std::string& id) {
  for (const FormatFacts& facts : allFacts()) {
    if (id == facts.id) return facts;
  }
  throw py::value_error("no picture format named " + id);
}

const host::Plugin& pluginOf(const FormatFacts& facts) {
  return *plugins().byFormat(facts.format);
}

std::span<const std::uint8_t> spanOf(std::string_view bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// A failure the host library words: OSError's subclass planeplugins.PictureError. Made once,
// when the module is first imported, and kept for the process's life.
PyObject* pictureError = nullptr;

[[noreturn]] void fail(const std::string& reason) {
  PyErr_SetString(pictureError, reason.c_str());
  throw py::error_already_set();
}

py::dict companionsOf(const host::Companions& companions) {
  py::dict used;
  if (!companions.palette.empty()) used["palette"] = companions.palette;
  if (!companions.fourthPlane.empty()) used["fourth_plane"] = companions.fourthPlane;
  return used;
}

// The picture file a host call reads: by its path, so that the plug-in finds the companions
// beside it, when there is one; its bytes in memory otherwise, and also when the plug-in
// cannot open the path.
host::PictureFile pictureFile(std::string_view bytes, const py::object& path) {
  host::PictureFile file;
  if (!path.is_none()) file.path = path.cast<std::string>();
  file.bytes.assign(bytes.begin(), bytes.end());
  return file;
}

py::list formats() {
  py::list list;
  for (const FormatFacts& facts : allFacts()) {
    const host::Plugin& plugin = pluginOf(facts);
    py::dict format;
    format["id"] = facts.id;
    format["title"] = plugin.title();
    format["description"] = plugin.formatName();
    format["extensions"] = py::make_tuple("." + plugin.extension());
    format["mime_type"] = facts.mimeType();
    format["largest_file"] = host::largestFile(facts.format);
    list.append(format);
  }
  return list;
}

// Whether a file starting with prefix may be of the format: false only where the prefix
// reaches past the signature and the signature is not there.
bool mayBe(const std::string& id, py::bytes prefix) {
  const FormatFacts& facts = factsOf(id);
  const std::string_view bytes = prefix;
  if (bytes.size() < facts.signatureEnd()) return true;
  return facts.hasSignature(spanOf(bytes).data());
}

// What the first bytes of a file (up to RECOGNITION_BLOCK of them) show to the format's own
// checks: None when the plug-in takes them; else whether the signature is there (the file is
// meant to be of this format, and is damaged) and why the plug-in refuses it.
py::object examine(const std::string& id, py::bytes head) {
  const FormatFacts& facts = factsOf(id);
  const std::string_view bytes = head;
  const host::Plugin& plugin = pluginOf(facts);
  if (host::recognisesContent(plugin, spanOf(bytes))) return py::none();
  const bool signed_ =
      bytes.size() >= facts.signatureEnd() && facts.hasSignature(spanOf(bytes).data());
  return py::make_tuple(signed_, host::whyNotTaken(plugin, spanOf(bytes)));
}

// The format whose plug-in takes a file's first bytes, or None and why neither does.
py::tuple identify(py::bytes head) {
  const std::string_view bytes = head;
  const host::Plugin* plugin = plugins().recogniseContent(spanOf(bytes));
  for (const FormatFacts& facts : allFacts()) {
    if (plugin && plugin->format == facts.format) return py::make_tuple(facts.id, "");
  }
  return py::make_tuple(py::none(), host::whyNoneTakes(plugins(), spanOf(bytes)));
}

// What GetPictureInfo tells, and what the decoder reported using.
py::dict infoOf(const host::PictureInfo& info) {
  py::dict out;
  out["size"] = py::make_tuple(info.width, info.height);
  out["colors"] = info.colors;
  out["comment"] = py::bytes(info.comment);
  out["companions"] = companionsOf(info.companions);
  return out;
}

// GetPictureInfo: the header (and companions) only.
py::dict readInfo(const std::string& id, py::bytes head, const py::object& path) {
  const FormatFacts& facts = factsOf(id);
  const host::PictureFile file = pictureFile(head, path);
  host::PictureInfo info;
  host::Result result;
  {
    py::gil_scoped_release free;
    result = host::readInfo(pluginOf(facts), file, info);
  }
  if (!result) fail(result.reason);
  return infoOf(info);
}

// The whole picture: its colour indices (a byte a pixel, rows top first), its 16 colours (red,
// green, blue), comment, colour count and the companions it used.
py::dict decode(const std::string& id, py::bytes data, const py::object& path) {
  const FormatFacts& facts = factsOf(id);
  const host::PictureFile file = pictureFile(data, path);
  host::Picture picture;
  host::Result result;
  {
    py::gil_scoped_release free;
    result = host::decode(pluginOf(facts), file, picture);
  }
  if (!result) fail(result.reason);
  std::string palette;
  for (const RgbQuad& colour : picture.palette) {
    palette += static_cast<char>(colour.red);
    palette += static_cast<char>(colour.green);
    palette += static_cast<char>(colour.blue);
  }
  py::dict out = infoOf(picture.info);
  out["indices"] =
      py::bytes(reinterpret_cast<const char*>(picture.indices.data()), picture.indices.size());
  out["palette"] = py::bytes(palette);
  return out;
}

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "The GRA and Q plug-ins through the host library (use planeplugins instead).";
  pictureError = PyErr_NewException("planeplugins.PictureError", PyExc_OSError, nullptr);
  if (!pictureError) throw py::error_already_set();
  m.attr("PictureError") = py::handle(pictureError);
  m.attr("RECOGNITION_BLOCK") = kRecognitionBlockSize;
  m.attr("SIZE") = py::make_tuple(kPictureWidth, kPictureHeight);
  m.def("formats", &formats, "The formats: id, title, extensions, MIME type, largest file.");
  m.def("may_be", &mayBe, py::arg("format"), py::arg("prefix"));
  m.def("examine", &examine, py::arg("format"), py::arg("head"));
  m.def("identify", &identify, py::arg("head"));
  m.def("read_info", &readInfo, py::arg("format"), py::arg("head"), py::arg("path"));
  m.def("decode", &decode, py::arg("format"), py::arg("data"), py::arg("path"));
}

// SPDX-License-Identifier: MIT
#include "host/picture.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>

#include "framework/companion_rule.h"
#include "framework/little_endian.h"
#include "framework/platform.h"
#include "host/code_page_932.h"
#include "host/dll_reports.h"
#include "host/file_names.h"
#include "host/files.h"
#include "host/reasons.h"

namespace host {

namespace {

// The contents of a block the host has been handed, which is then freed.
Bytes takeBlock(BlockHandle handle) {
  Bytes bytes(GlobalSize(handle));
  if (const void* data = GlobalLock(handle)) {
    std::memcpy(bytes.data(), data, bytes.size());
    GlobalUnlock(handle);
  } else {
    bytes.clear();
  }
  GlobalFree(handle);
  return bytes;
}

// A comment block: up to its first 0 byte, trailing spaces dropped.
std::string takeText(BlockHandle handle) {
  const Bytes block = takeBlock(handle);
  std::string text(block.begin(), block.end());
  text.resize(strnlen(text.c_str(), text.size()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

int PLUGIN_CALL relayProgress(int done, int total, HostValue userData) {
  const auto& progress = *reinterpret_cast<const Progress*>(userData);
  return progress(done, total) ? 1 : 0;
}

// The source arguments of an export call: the file by name, or its bytes in memory.
struct Source {
  const char* memory;
  HostLength length;
  std::uint32_t flags;
  std::string name;  // the name a plug-in is given
  const char* pointer() const { return flags == kSourceIsFileName ? name.c_str() : memory; }
};
Source byName(const PictureFile& file) {
  Source source{nullptr, 0, kSourceIsFileName, file.path};
#ifdef _WIN32
  // A DLL reads its narrow names in the ANSI code page (see nameTheDllCannotOpen).
  ansiName(file.path, source.name);
#endif
  return source;
}
Source inMemory(const PictureFile& file) {
  // The interface takes a 32-bit length; no picture of either format comes near it.
  const auto length = static_cast<HostLength>(std::min<std::size_t>(file.bytes.size(), INT32_MAX));
  return {reinterpret_cast<const char*>(file.bytes.data()), length, kSourceIsMemory, ""};
}

// Whether the plug-in is a DLL that cannot be given the picture's name: one that the ANSI code
// page, in which the DLL's narrow interface reads names, cannot hold. Such a picture is decoded
// by the same decoder linked into the program, from memory, with its companion files read by
// the host and handed over (withCompanionsHeld).
bool nameTheDllCannotOpen([[maybe_unused]] const Plugin& plugin,
                          [[maybe_unused]] const PictureFile& file) {
#ifdef _WIN32
  std::string ansi;
  return plugin.dll && plugin.linkedPicture && !file.path.empty() && !file.companions &&
         !ansiName(file.path, ansi);
#else
  return false;
#endif
}

// Whether a call goes through the native link rather than the exports.
bool throughLink(const Plugin& plugin, const PictureFile& file) {
  return plugin.linkedPicture && (!plugin.dll || file.companions);
}

// The bytes to word a failure with: those the host holds, else as much of the file as the
// plug-in can have read.
Bytes bytesOf(const PictureFile& file, PictureFormat format) {
  if (!file.bytes.empty() || file.path.empty()) return file.bytes;
  Bytes bytes;
  InputFile in;
  if (in.open(file.path)) in.readUpTo(largestFile(format), bytes);
  return bytes;
}

Result failure(const Plugin& plugin, LoaderResult code, const PictureFile& file) {
  return {code, describeFailure(plugin, code, bytesOf(file, plugin.format))};
}

// The plug-in for a file's first bytes, or why there is none.
void choosePlugin(const PluginSet& plugins, const std::string& name, bool named,
                  const Plugin* chosen, OpenedPicture& opened) {
  const Bytes& bytes = opened.file.bytes;
  if (chosen) {
    if (recognisesContent(*chosen, bytes)) {
      opened.plugin = chosen;
    } else {
      opened.result = {LoaderResult::BadData, whyNotTaken(*chosen, bytes)};
    }
  } else if (named) {
    opened.plugin = plugins.recognise(name, bytes);
    if (!opened.plugin)
      opened.result = {LoaderResult::UnknownFormat, whyNotRecognised(plugins, name, bytes)};
  } else {
    opened.plugin = plugins.recogniseContent(bytes);
    if (!opened.plugin) opened.result = {LoaderResult::UnknownFormat, whyNoneTakes(plugins, bytes)};
  }
  if (!opened.plugin) {
    opened.looksLike = plugins.recogniseContent(bytes);
    if (opened.looksLike == chosen) opened.looksLike = nullptr;
  }
}

// Reads the recognition block, chooses, then reads on to the format's largest file.
OpenedPicture openFrom(const PluginSet& plugins, InputFile& in, const std::string& path,
                       const Plugin* chosen) {
  OpenedPicture opened;
  Bytes& bytes = opened.file.bytes;
  opened.result = in.readUpTo(kRecognitionBlockSize, bytes);
  if (!opened.result) return opened;
  const std::string name = nameOfPath(pathOf(path).filename());
  choosePlugin(plugins, name, !path.empty(), chosen, opened);
  if (!opened.plugin) return opened;
  opened.result = in.readUpTo(largestFile(opened.plugin->format), bytes);
  if (!opened.result) {
    opened.plugin = nullptr;
    return opened;
  }
  if (in.regular()) opened.file.path = path;
  return opened;
}

// A plug-in call's companions held in memory and its report, through the native link.
class LinkedExtras final : public LoaderReport {
 public:
  explicit LinkedExtras(const PictureFile& file) {
    if (!file.companions) return;
    for (const HeldFile& held : *file.companions) {
      items_.push_back(
          {held.name.c_str(), held.bytes.data(),
           static_cast<std::int32_t>(std::min<std::size_t>(held.bytes.size(), INT32_MAX))});
    }
    held_ = {items_.data(), static_cast<std::int32_t>(items_.size())};
    call_.companions = &held_;
  }
  LinkedExtras(const LinkedExtras&) = delete;
  LinkedExtras& operator=(const LinkedExtras&) = delete;

  const LinkedCall& call() { return call_; }

  // What the loader told, into info.
  void tell(PictureInfo& info) const {
    info.colors = colors_;
    info.companions = companions_;
  }

  void colors(int count) override { colors_ = count; }
  void companionTaken(const char* name, CompanionUse use) override {
    std::string& into =
        use == CompanionUse::Palette ? companions_.palette : companions_.fourthPlane;
    into = name;
    // A file by the name the plug-in opened it by, which finds it whatever the letter case: the
    // host names it as it lies on disk.
    if (!call_.companions) {
      if (std::string onDisk = fileToOpen(into); !onDisk.empty()) into = onDisk;
    }
  }

 private:
  std::vector<HeldCompanion> items_;
  HeldCompanions held_{};
  LinkedCall call_{nullptr, this};
  int colors_ = 0;
  Companions companions_;
};

bool sameExtension(const std::string& name, std::string_view suffix) {
  const std::size_t stem = companionStemLength(name.data(), name.size());
  if (stem == 0 || name.size() - stem != suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char c = name[stem + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// The companions the format names that lie beside the picture (or that the host holds) with a
// size other than the format's: those the plug-in passed over.
std::vector<IgnoredCompanion> ignoredCompanions(PictureFormat format, const PictureFile& file,
                                                bool byName) {
  std::vector<IgnoredCompanion> ignored;
  for (const CompanionFile& companion : descriptionOf(format).companions) {
    if (file.companions) {
      for (const HeldFile& held : *file.companions) {
        if (sameExtension(held.name, companion.suffix) && held.bytes.size() != companion.size)
          ignored.push_back({held.name, held.bytes.size(), &companion});
      }
    } else if (byName) {
      const std::string name =
          fileToOpen(companionName(file.path, std::string(companion.suffix).c_str()));
      std::error_code error;
      if (name.empty() || !std::filesystem::is_regular_file(name, error)) continue;
      const std::uintmax_t size = std::filesystem::file_size(name, error);
      if (!error && size != companion.size) ignored.push_back({name, size, &companion});
    }
  }
  return ignored;
}

// A plug-in DLL takes no held companions.
Result heldNotTaken(const Plugin& plugin) {
  return {LoaderResult::NotProvided,
          "the " + plugin.moduleName +
              " plug-in opens companion files by name only and cannot take them from memory"};
}

Result infoFrom(const Plugin& plugin, const PictureFile& file, const Source& source,
                PictureInfo& info) {
  PictureInfoRecord record{};
  LinkedExtras extras(file);
  LoaderResult r;
  if (throughLink(plugin, file)) {
    r = plugin.linkedPictureInfo(extras.call(), source.pointer(), source.length, source.flags,
                                 &record);
  } else if (file.companions) {
    return heldNotTaken(plugin);
  } else {
    r = plugin.getPictureInfo(source.pointer(), source.length, source.flags, &record);
  }
  if (r != LoaderResult::Ok) return failure(plugin, r, file);
  info = PictureInfo{};
  info.width = record.width;
  info.height = record.height;
  info.colorDepth = record.colorDepth;
  if (record.textHandle) info.comment = takeText(record.textHandle);
  if (throughLink(plugin, file)) {
    extras.tell(info);
  } else {
    reportForDll(plugin, file, source.flags == kSourceIsFileName, info);
  }
  info.ignoredCompanions =
      ignoredCompanions(plugin.format, file, source.flags == kSourceIsFileName);
  return {};
}

// The call sequence on one source: the information, then the picture.
Result decodeFrom(const Plugin& plugin, const PictureFile& file, const Source& source,
                  Picture& picture, const Progress& progress) {
  if (Result r = infoFrom(plugin, file, source, picture.info); !r) return r;
  BlockHandle info = 0, pixels = 0;
  const ProgressCallback relay = progress ? relayProgress : nullptr;
  const auto userData = reinterpret_cast<HostValue>(&progress);
  LinkedExtras extras(file);
  const LoaderResult r = throughLink(plugin, file)
                             ? plugin.linkedPicture(extras.call(), source.pointer(), source.length,
                                                    source.flags, &info, &pixels, relay, userData)
                             : plugin.getPicture(source.pointer(), source.length, source.flags,
                                                 &info, &pixels, relay, userData);
  if (r != LoaderResult::Ok) return failure(plugin, r, file);
  // What GetPicture took is what the picture shows.
  if (throughLink(plugin, file)) extras.tell(picture.info);
  picture.format = plugin.format;
  picture.formatName = plugin.formatName();
  picture.infoBlock = takeBlock(info);
  picture.pixelBlock = takeBlock(pixels);
  const Bytes& header = picture.infoBlock;
  const bool sane = header.size() >= kInfoBlockSize &&
                    readLe32(header.data() + 4) == kPictureWidth &&
                    readLe32(header.data() + 8) == kPictureHeight &&
                    picture.pixelBlock.size() >= static_cast<std::size_t>(kPixelBlockSize);
  if (!sane) {
    return {LoaderResult::BadData, "the plug-in handed over a bitmap of an unexpected shape"};
  }
  std::memcpy(picture.palette.data(), header.data() + kInfoHeaderSize, sizeof picture.palette);
  picture.indices.resize(static_cast<std::size_t>(kPictureWidth) * kPictureHeight);
  std::uint8_t* out = picture.indices.data();
  for (int y = 0; y < kPictureHeight; ++y) {
    const std::uint8_t* row = picture.packedRow(y);
    for (int x = 0; x < kPictureWidth; x += 2) {
      *out++ = row[x / 2] >> 4;
      *out++ = row[x / 2] & 15;
    }
  }
  return {};
}

}  // namespace

std::size_t largestFile(PictureFormat format) {
  return descriptionOf(format).largestFile;
}

OpenedPicture openPicture(const PluginSet& plugins, const std::string& path, const Plugin* chosen) {
  InputFile in;
  if (Result r = in.open(path); !r) {
    OpenedPicture opened;
    opened.result = r;
    return opened;
  }
  return openFrom(plugins, in, path, chosen);
}

OpenedPicture openStandardInput(const PluginSet& plugins, const Plugin* chosen) {
  InputFile in;
  in.openStandardInput();
  return openFrom(plugins, in, "", chosen);
}

const std::uint8_t* Picture::packedRow(int y) const {
  const std::size_t rowBytes = (static_cast<std::size_t>(width()) + 1) / 2;
  return pixelBlock.data() + static_cast<std::size_t>(height() - 1 - y) * rowBytes;
}

Bytes Picture::rgb() const {
  Bytes out(indices.size() * 3);
  std::uint8_t* to = out.data();
  for (std::uint8_t i : indices) {
    *to++ = palette[i].red;
    *to++ = palette[i].green;
    *to++ = palette[i].blue;
  }
  return out;
}

Bytes Picture::rgba() const {
  Bytes out(indices.size() * 4);
  std::uint8_t* to = out.data();
  for (std::uint8_t i : indices) {
    *to++ = palette[i].red;
    *to++ = palette[i].green;
    *to++ = palette[i].blue;
    *to++ = 255;
  }
  return out;
}

std::string commentText(const PictureInfo& info) {
  return showCodePage932(info.comment);
}

std::string describe(const IgnoredCompanion& ignored) {
  return printable(ignored.name) + " ignored: " + std::to_string(ignored.size) + " byte" +
         (ignored.size == 1 ? "" : "s") + ", a " + roleName(ignored.companion->role) + " is " +
         std::to_string(ignored.companion->size);
}

namespace {

// The picture with its bytes and the companion files its plug-in would open beside it, read
// as a plug-in reads them: the companion rule, the name found whatever its letter case, no more
// than one byte past the size the format asks for (the loader itself keeps the rule on size).
// Each companion is held under its path, which the report then names.
PictureFile withCompanionsHeld(const Plugin& plugin, const PictureFile& file) {
  PictureFile held{file.path, bytesOf(file, plugin.format), HeldFiles{}};
  for (const CompanionFile& companion : plugin.description->companions) {
    const std::string name = companionName(file.path, std::string(companion.suffix).c_str());
    const std::string onDisk = name.empty() ? "" : fileToOpen(name);
    if (onDisk.empty()) continue;
    InputFile in;
    Bytes bytes;
    if (in.open(onDisk) && in.readUpTo(companion.size + 1, bytes) && in.regular())
      held.companions->push_back({onDisk, std::move(bytes)});
  }
  return held;
}

}  // namespace

Result readInfo(const Plugin& plugin, const PictureFile& file, PictureInfo& info) {
  if (file.path.empty()) return infoFrom(plugin, file, inMemory(file), info);
  FolderListings listings;  // each companion looked for once, its folder read once
  if (nameTheDllCannotOpen(plugin, file)) {
    const PictureFile held = withCompanionsHeld(plugin, file);
    return infoFrom(plugin, held, inMemory(held), info);
  }
  Result r = infoFrom(plugin, file, byName(file), info);
  if (r.code == LoaderResult::OpenFailed && !file.bytes.empty()) {
    r = infoFrom(plugin, file, inMemory(file), info);
  }
  return r;
}

Result decode(const Plugin& plugin, const PictureFile& file, Picture& picture,
              const Progress& progress) {
  if (file.path.empty()) return decodeFrom(plugin, file, inMemory(file), picture, progress);
  FolderListings listings;  // GetPictureInfo and GetPicture read the folder once
  if (nameTheDllCannotOpen(plugin, file)) {
    const PictureFile held = withCompanionsHeld(plugin, file);
    return decodeFrom(plugin, held, inMemory(held), picture, progress);
  }
  Result r = decodeFrom(plugin, file, byName(file), picture, progress);
  if (r.code == LoaderResult::OpenFailed && !file.bytes.empty()) {
    r = decodeFrom(plugin, file, inMemory(file), picture, progress);
  }
  return r;
}

}  // namespace host

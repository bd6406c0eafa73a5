// SPDX-License-Identifier: MIT
#include "host/reasons.h"

#include "q/q_format.h"

namespace host {

namespace {

// "GRA or Q", ".gra nor .q": each plug-in's part, joined.
template <class Part>
std::string listOf(const PluginSet& plugins, const char* joiner, Part part) {
  std::string list;
  const auto& all = plugins.plugins();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i) list += i + 1 == all.size() ? joiner : ", ";
    list += part(all[i]);
  }
  return list;
}

}  // namespace

std::string describeResult(LoaderResult result) {
  if (const ResultCodeText* entry = resultCodeText(result)) {
    return std::string(entry->words) + " (" + entry->name + ")";
  }
  return "unknown result " + std::to_string(static_cast<int>(result));
}

std::string headerProblem(PictureFormat format, std::span<const std::uint8_t> file) {
  return descriptionOf(format).headerProblem(file.data(), file.size());
}

std::string whyNotTaken(const Plugin& plugin, std::span<const std::uint8_t> file) {
  std::string why = headerProblem(plugin.format, file);
  return "not a " + plugin.title() + ": " + (why.empty() ? "the plug-in does not take it" : why);
}

std::string whyNotRecognised(const PluginSet& plugins, const std::string& fileName,
                             std::span<const std::uint8_t> file) {
  const Plugin* claimed = plugins.byFileName(fileName);
  const Plugin* looksLike = plugins.recogniseContent(file);
  if (claimed) {
    std::string reason = whyNotTaken(*claimed, file);
    if (looksLike && looksLike != claimed) reason += "; it looks like a " + looksLike->title();
    return reason;
  }
  const auto formatName = [](const Plugin& p) { return p.title().substr(0, p.title().find(' ')); };
  const auto extension = [](const Plugin& p) { return std::string(".").append(p.extension()); };
  std::string reason = "not a " + listOf(plugins, " or ", formatName) +
                       " picture: the name ends in neither " + listOf(plugins, " nor ", extension);
  if (looksLike) reason += "; it looks like a " + looksLike->title();
  return reason;
}

std::string whyNoneTakes(const PluginSet& plugins, std::span<const std::uint8_t> file) {
  const auto formatName = [](const Plugin& p) { return p.title().substr(0, p.title().find(' ')); };
  std::string reason = "not a " + listOf(plugins, " or ", formatName) + " picture";
  const char* joiner = ": ";
  for (const Plugin& p : plugins.plugins()) {
    std::string why = headerProblem(p.format, file);
    if (why.empty()) why = "the plug-in does not take it";
    reason += joiner + why + " (" + formatName(p) + ")";
    joiner = "; ";
  }
  return reason;
}

// A backslash is escaped too, so that "\x" is unambiguous; except on Windows, where it separates
// the folders of every path shown.
#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
#else
constexpr bool kBackslashSeparates = false;
#endif

std::string printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  const auto escape = [&](unsigned char c) {
    shown += "\\x";
    shown += kHex[c >> 4];
    shown += kHex[c & 15];
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F || (c == '\\' && !kBackslashSeparates)) {
        escape(c);
      } else {
        shown += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // A whole UTF-8 sequence is kept, except the C1 controls U+0080 to U+009F; any other byte
    // from 0x80 up is escaped.
    const int length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    bool whole = length > 0 && i + length <= text.size();
    for (int k = 1; whole && k < length; ++k)
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (whole) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      // Overlong forms, surrogates and values past U+10FFFF are not whole characters either.
      if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) ||
          (c == 0xF0 && second < 0x90) || (c == 0xF4 && second >= 0x90) ||
          (c == 0xC2 && second < 0xA0))
        whole = false;
    }
    if (!whole) {
      escape(c);
      ++i;
      continue;
    }
    shown.append(text.substr(i, static_cast<std::size_t>(length)));
    i += static_cast<std::size_t>(length);
  }
  return shown;
}

std::string describeFailure(const Plugin& plugin, LoaderResult result,
                            std::span<const std::uint8_t> file) {
  // A reason read from the bytes is told in words alone, as a refusal at recognition is; the
  // code's name comes only where the code is all there is to tell.
  if (result != LoaderResult::BadData || file.empty()) return describeResult(result);
  if (std::string why = headerProblem(plugin.format, file); !why.empty()) {
    return "not a " + plugin.title() + ": " + why;
  }
  if (plugin.format == PictureFormat::Q) {
    if (std::string why = qformat::dataProblem(file.data(), file.size()); !why.empty()) {
      return why;
    }
    return describeResult(result);
  }
  // A GRA header that passes leaves only its coded line pairs to run short.
  return "the file ends after " + std::to_string(file.size()) +
         " bytes, before the picture's last line pair";
}

std::string cannotDecode(const Plugin& plugin, const std::string& reason) {
  const std::string notOne = "not a " + plugin.title();
  if (reason.compare(0, notOne.size(), notOne) == 0) return reason;
  return "cannot decode the " + plugin.title() + ": " + reason;
}

}  // namespace host

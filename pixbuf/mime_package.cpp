// SPDX-License-Identifier: MIT
// mime_package: writes the desktop's MIME package of both formats (planes.xml) and the
// templates of the entries that list the types (the thumbnailer's, the image viewers'), at
// build time, from the formats' descriptions: the types, globs and signatures the desktop
// learns are then those the plug-ins and modules use.
//
//   mime_package PLANES_XML TEMPLATE OUTPUT [TEMPLATE OUTPUT]...
//
// Each TEMPLATE is an entry with @MIME_TYPES@ where the types go; its OUTPUT is written with
// them filled in (other @NAMES@ are left for the install step). Every output is written whole
// or not at all.
#include <cstdint>
#include <cstdio>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/files.h"
#include "host/plugin_set.h"

namespace {

// Text for an XML attribute or element.
std::string xmlText(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Signature bytes as a shared-mime-info string value: printable ASCII as it is, other bytes and
// the backslash escaped.
std::string magicString(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return xmlText(out);
}

// The MIME package of the formats described.
std::string mimePackage(std::span<const FormatDescription* const> formats) {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!-- SPDX-License-Identifier: MIT -->\n"
         "<!-- The picture types of the import plug-ins, so that the desktop recognises them by\n"
         "     name and by contents and gdk-pixbuf hands them to their loader modules. Made by\n"
         "     mime_package from the formats' descriptions (gra/gra_format.h, q/q_format.h),\n"
         "     which say why each signature has the priority it has: from 80 on, contents decide\n"
         "     before names. -->\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const FormatDescription* format : formats) {
    xml << "  <mime-type type=\"" << xmlText(format->mimeType) << "\">\n"
        << "    <comment>" << xmlText(format->title) << "</comment>\n"
        << "    <generic-icon name=\"image-x-generic\"/>\n"
        << "    <magic priority=\"" << format->signature.magicPriority << "\">\n"
        << "      <match type=\"string\" offset=\"" << format->signature.offset << "\" value=\""
        << magicString(format->signature.bytes) << "\"/>\n"
        << "    </magic>\n";
    for (std::string_view extension : format->extensions) {
      xml << "    <glob pattern=\"*." << xmlText(extension) << "\"/>\n";
    }
    xml << "  </mime-type>\n";
  }
  xml << "</mime-info>\n";
  return xml.str();
}

// An entry's template with the formats' MIME types in place of @MIME_TYPES@; empty when the
// template lacks the placeholder.
std::string typedEntry(std::string entry, std::span<const FormatDescription* const> formats) {
  static constexpr std::string_view kPlaceholder = "@MIME_TYPES@";
  const std::size_t at = entry.find(kPlaceholder);
  if (at == std::string::npos) return "";
  std::string types;
  for (const FormatDescription* format : formats) types.append(format->mimeType).append(";");
  return entry.replace(at, kPlaceholder.size(), types);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: mime_package PLANES_XML TEMPLATE OUTPUT [TEMPLATE OUTPUT]...\n");
    return 2;
  }
  const auto fail = [](const char* file, const std::string& why) {
    std::fprintf(stderr, "mime_package: %s: %s\n", file, why.c_str());
    return 1;
  };
  const auto formats = host::formatDescriptions();
  std::vector<std::pair<const char*, std::string>> outputs{{argv[1], mimePackage(formats)}};
  for (int i = 2; i + 1 < argc; i += 2) {
    std::vector<std::uint8_t> template_;
    if (host::Result r = host::readFile(argv[i], template_); !r) return fail(argv[i], r.reason);
    std::string entry = typedEntry(std::string(template_.begin(), template_.end()), formats);
    if (entry.empty()) return fail(argv[i], "has no @MIME_TYPES@ to fill in");
    outputs.emplace_back(argv[i + 1], std::move(entry));
  }
  for (const auto& [path, text] : outputs) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (host::Result r = host::writeFileAtomically(path, bytes, true); !r) {
      return fail(path, r.reason);
    }
  }
  return 0;
}

// SPDX-License-Identifier: MIT
// planethumb: the thumbnailer of GRA and Q pictures on Linux desktops.
//
//   planethumb [-s SIZE] INPUT OUTPUT
//
// A file manager runs it through the thumbnailer entry planes.thumbnailer, whose Exec line is
// "planethumb -s %s %u %o": the thumbnail size, the picture's URI and the PNG to write. Unlike
// a gdk-pixbuf loader, which is fed the bytes without a name, it reads the picture by its path,
// so that a GRA picture's palette (.rgb) and fourth-plane (.e1) files beside it count.
//
// The thumbnail is an 8-bit RGB PNG whose larger side is SIZE, each pixel the mean of the area
// of the picture it covers (a box filter over exact areas). It is never larger than the
// picture: from SIZE 640 on it is the picture itself, pixel for pixel. As gdk-pixbuf's own
// thumbnailer does, it carries the picture's size in the text chunks Thumb::Image::Width and
// Thumb::Image::Height; the file manager adds the rest of what its thumbnail cache keeps.
//
// On failure the exit status is 1, standard error says which file and why, and no output file
// is left; 2 means wrong usage.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"
#include "planes_version.h"

namespace {

constexpr int kDefaultSize = 256;  // the freedesktop "large" thumbnail
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "usage: planethumb [-s SIZE] INPUT OUTPUT\n";
const char kHelp[] =
    "usage: planethumb [-s SIZE] INPUT OUTPUT\n"
    "\n"
    "Writes a thumbnail of a GRA or Q picture: an 8-bit RGB PNG whose larger side is SIZE\n"
    "pixels (256 when not given), each pixel the mean of the part of the picture it covers. A\n"
    "thumbnail is never larger than the picture: from SIZE 640 on it is the picture itself.\n"
    "\n"
    "INPUT is a path or a file:// URI. A GRA picture is read with its palette (.rgb) and\n"
    "fourth-plane (.e1) files when they lie beside it. OUTPUT appears only when complete and\n"
    "replaces a file of that name.\n"
    "\n"
    "Desktops run it through the thumbnailer entry planes.thumbnailer. Exit status: 0 written,\n"
    "1 the picture could not be thumbnailed (standard error says why), 2 wrong usage.\n"
    "\n"
    "options:\n"
    "  -s, --size SIZE    the larger side of the thumbnail in pixels (default 256)\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n";

struct Options {
  int size = kDefaultSize;
  std::string input;
  std::string output;
};

bool parseSize(std::string_view text, int& size) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, size);
  return error == std::errc{} && stop == end && size > 0;
}

// Answers an exit status when the program is to stop here (help or a usage error), else -1.
int parseArguments(int argc, char** argv, Options& options) {
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (optionsEnded || a.empty() || a[0] != '-') {
      files.emplace_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "-h" || a == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--version") {
      std::puts("planethumb " PLANES_VERSION);
      return 0;
    } else if (a == "-s" || a == "--size" || a.starts_with("--size=")) {
      std::string_view value;
      if (a.starts_with("--size=")) {
        value = a.substr(7);
      } else if (i + 1 < argc) {
        value = argv[++i];
      }
      if (!parseSize(value, options.size)) {
        std::fprintf(stderr,
                     "planethumb: SIZE must be a whole number of pixels above 0, not \"%.*s\"\n%s",
                     static_cast<int>(value.size()), value.data(), kUsage);
        return kExitUsage;
      }
    } else {
      std::fprintf(stderr, "planethumb: unknown option %s\n%s", argv[i], kUsage);
      return kExitUsage;
    }
  }
  if (files.size() != 2) {
    std::fprintf(stderr, "planethumb: give one INPUT and one OUTPUT\n%s", kUsage);
    return kExitUsage;
  }
  options.input = files[0];
  options.output = files[1];
  return -1;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
           return std::tolower(static_cast<unsigned char>(c)) == lower;
         });
}

// The local path an INPUT names: a path as it stands, or the path of a file:// URI
// (percent-encoded bytes decoded, "localhost" or no host). Answers an error message, empty on
// success.
std::string localPathOf(const std::string& input, std::string& path) {
  if (!startsWithNoCase(input, "file:")) {
    const std::size_t colon = input.find("://");
    const bool otherScheme =
        colon != std::string::npos && colon > 0 &&
        std::all_of(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    if (otherScheme) return "not a local file: only paths and file:// URIs can be read";
    path = input;
    return "";
  }
  std::string_view rest = std::string_view(input).substr(5);
  rest = rest.substr(0, rest.find_first_of("?#"));  // a query or fragment is not part of the path
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    if (slash == std::string_view::npos || (!host.empty() && host != "localhost")) {
      return "not a local file: the URI names the host \"" + std::string(host) + "\"";
    }
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with("/")) return "not a file URI with an absolute path";
  path.clear();
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    const int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
    const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
    if (low < 0 || (high == 0 && low == 0)) {
      return "not a valid file URI: a '%' not followed by two hex digits of a byte above 0";
    }
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return "";
}

// The thumbnail's size: the larger side size, the other in proportion (at least 1 pixel); the
// picture's own size when size reaches it.
void thumbnailSize(int width, int height, int size, int& toWidth, int& toHeight) {
  toWidth = width;
  toHeight = height;
  if (size >= std::max(width, height)) return;
  const auto proportion = [size](int side, int larger) {
    return std::max(1, static_cast<int>((static_cast<long>(side) * size + larger / 2) / larger));
  };
  if (width >= height) {
    toWidth = size;
    toHeight = proportion(height, width);
  } else {
    toWidth = proportion(width, height);
    toHeight = size;
  }
}

// The source pixels one target pixel covers along an axis, and how much of each. Measured in
// units where a source pixel is `to` units long, target pixel t covers [t * from, (t + 1) *
// from), so the weights of one target pixel add up to `from`.
struct Span {
  int first = 0;
  std::vector<int> weights;
};

std::vector<Span> spansOf(int from, int to) {
  std::vector<Span> spans(static_cast<std::size_t>(to));
  for (int t = 0; t < to; ++t) {
    const long begin = static_cast<long>(t) * from, end = begin + from;
    Span& span = spans[static_cast<std::size_t>(t)];
    span.first = static_cast<int>(begin / to);
    for (long s = span.first; s * to < end; ++s) {
      span.weights.push_back(
          static_cast<int>(std::min(end, (s + 1) * to) - std::max(begin, s * to)));
    }
  }
  return spans;
}

// A smaller copy of RGB pixels: each target pixel the mean of the source area it covers, parts
// of source pixels at its edges counted by the part inside, rounded to the nearest value.
host::RgbImage scaleDown(const host::Bytes& rgb, int width, int height, int toWidth, int toHeight) {
  host::RgbImage image{toWidth, toHeight, {}};
  if (toWidth == width && toHeight == height) {
    image.rgb = rgb;
    return image;
  }
  const std::vector<Span> columns = spansOf(width, toWidth), rows = spansOf(height, toHeight);
  const std::uint64_t area = static_cast<std::uint64_t>(width) * height;  // all weights of one
  image.rgb.resize(static_cast<std::size_t>(toWidth) * toHeight * 3);
  std::uint8_t* out = image.rgb.data();
  for (const Span& row : rows) {
    for (const Span& column : columns) {
      std::uint64_t sum[3] = {0, 0, 0};
      for (std::size_t dy = 0; dy < row.weights.size(); ++dy) {
        const std::uint8_t* line =
            rgb.data() + ((static_cast<std::size_t>(row.first) + dy) * width + column.first) * 3;
        for (std::size_t dx = 0; dx < column.weights.size(); ++dx) {
          const std::uint64_t weight =
              static_cast<std::uint64_t>(row.weights[dy]) * column.weights[dx];
          for (int c = 0; c < 3; ++c) sum[c] += line[dx * 3 + c] * weight;
        }
      }
      for (int c = 0; c < 3; ++c) *out++ = static_cast<std::uint8_t>((sum[c] + area / 2) / area);
    }
  }
  return image;
}

// Reads, recognises and decodes the picture at path.
host::Result decodePicture(const std::string& path, host::Picture& picture) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0)
    return {LoaderResult::OpenFailed, "cannot open (" + std::string(strerror(errno)) + ")"};
  if (!S_ISREG(status.st_mode)) return {LoaderResult::OpenFailed, "not a regular file"};

  // Read as every host reads a picture: up to the largest file of its format, no further.
  static const host::PluginSet plugins;
  host::OpenedPicture opened = host::openPicture(plugins, path);
  // A desktop also recognises a picture by its contents alone, under any name.
  if (!opened.plugin && opened.looksLike)
    opened = host::openPicture(plugins, path, opened.looksLike);
  if (!opened.plugin) return opened.result;
  host::Result r = host::decode(*opened.plugin, opened.file, picture);
  if (!r) r.reason = host::cannotDecode(*opened.plugin, r.reason);
  return r;
}

// Writes the thumbnail to path, replacing a regular file there but never one of the files it
// was made from. An interrupt removes the write's temporary file (see main).
host::Result writeThumbnail(const std::string& path, const std::vector<std::string>& inputs,
                            const host::Bytes& png) {
  if (host::Result problem = host::outputProblem(path, true); !problem) return problem;
  const host::FileId existing = host::fileIdOf(path);
  for (const std::string& name : inputs) {
    if (existing.exists && !name.empty() && host::fileIdOf(name) == existing) {
      return {LoaderResult::OpenFailed, "is " + name + ", which the thumbnail is made from"};
    }
  }
  return host::writeFileAtomically(path, png, true);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int status = parseArguments(argc, argv, options); status >= 0) return status;
  // An interrupt removes the temporary file of a write in progress and ends the program by it.
  host::cleanUpOnInterrupt([](int) {});
  const auto fail = [](const std::string& file, const std::string& why) {
    std::fprintf(stderr, "planethumb: %s: %s\n", file.c_str(), why.c_str());
    return kExitFailed;
  };

  std::string path;
  if (std::string error = localPathOf(options.input, path); !error.empty()) {
    return fail(options.input, error);
  }
  host::Picture picture;
  if (host::Result r = decodePicture(path, picture); !r) return fail(path, r.reason);

  int width = 0, height = 0;
  thumbnailSize(picture.width(), picture.height(), options.size, width, height);
  const host::RgbImage thumbnail =
      scaleDown(picture.rgb(), picture.width(), picture.height(), width, height);
  host::Bytes png;
  const std::vector<host::PngText> texts{
      {"Thumb::Image::Width", std::to_string(picture.width())},
      {"Thumb::Image::Height", std::to_string(picture.height())}};
  if (host::Result r = host::encodeRgbPng(thumbnail, texts, png); !r) {
    return fail(options.output, r.reason);
  }
  const std::vector<std::string> inputs{path, picture.info.companions.palette,
                                        picture.info.companions.fourthPlane};
  if (host::Result r = writeThumbnail(options.output, inputs, png); !r) {
    return fail(options.output, r.reason);
  }
  return 0;
}

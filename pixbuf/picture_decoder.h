// The host side of the gdk-pixbuf modules: a picture recognised, measured and decoded through
// its plug-in's exports, and handed on as RGB pixels. This header knows neither gdk-pixbuf nor
// the platform layer (glib and the platform layer both claim the names TRUE and FALSE).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pixbuf_module {

using Bytes = std::vector<std::uint8_t>;

enum class Format { Gra, Q };

// The largest file a module takes. A Q picture states its length in 24 bits, and the GRA
// decoder reads no more than a 4080-byte header and 200 line pairs of a flag byte and three
// chunks of at most 256 bytes: no picture of either format is longer.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 24;

// "GRA picture" or "Q picture", for messages.
const char* titleOf(Format format);

// What a step came to: Ok, or a kind of failure and its cause in words.
struct Outcome {
  enum class Kind { Ok, NotThisFormat, Corrupt, NoMemory, Failed };
  Kind kind = Kind::Ok;
  std::string message;
  bool ok() const { return kind == Kind::Ok; }
};

// What the first bytes of a file tell, asked with GetPictureInfo and IsSupported.
struct HeaderProbe {
  enum class State {
    Incomplete,  // the header has not all arrived (or cannot be read): ask again with more
    Foreign,     // the header is complete and is not of this format; why says so
    Ready,       // a picture of this format, width x height
  };
  State state = State::Incomplete;
  int width = 0;
  int height = 0;
  std::string why;
};
HeaderProbe probeHeader(Format format, const Bytes& file);

// A decoded picture: 3 bytes (red, green, blue) a pixel, rows top first, no padding.
struct RgbPicture {
  int width = 0;
  int height = 0;
  Bytes rgb;
};

// Recognises and decodes a whole file. With a file name the plug-in reads the picture by name
// (so a GRA picture's companion files beside it count); without one, or when the name can no
// longer be opened, it reads the bytes in memory.
Outcome decodePicture(Format format, const Bytes& file, const std::string& fileName,
                      RgbPicture& picture);

// The name a file is known by when the descriptor behind file still refers to it: a regular
// file whose path, read from /proc/self/fd, names the same device and inode. Empty otherwise
// (a pipe, a memory stream, a file deleted or replaced since it was opened).
std::string fileNameOf(std::FILE* file);

}  // namespace pixbuf_module

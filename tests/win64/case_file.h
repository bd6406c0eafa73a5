// SPDX-License-Identifier: MIT
// The differential run of the 64-bit DLLs against the native build, in two halves joined by a
// folder: the native program write_cases makes every call of every case through the native
// build and writes the inputs and what each call gave to a case file (and the pictures that
// are opened by name beside it); compare_cases.exe, a 64-bit Windows program run under wine64,
// makes the same calls through gradec.sph and qdec.sph and compares, byte for byte.
//
// The case file is a sequence of cases in a plain binary form (little-endian integers, byte
// strings behind their 32-bit length), after a signature line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tests/emulated/host_calls.h"

namespace cases {

// The progress function of a picture call: none, or one that answers 0 to every call, non-zero
// to every call, or non-zero to call number k (from 0) only.
enum class Progress : std::int32_t { None = -1, GoOn = -2, StopAlways = -3 };
// The progress function given by a number: a Progress value or a call to cancel at (0 and up).
ProgressScript progressScript(std::int32_t progress);

enum class CallKind : std::uint8_t {
  Picture,            // GetPicture
  Preview,            // GetPreview
  Info,               // GetPictureInfo
  Supported,          // IsSupported with the file's first bytes in a 16 KiB block
  SupportedByHandle,  // IsSupported with a file handle of the host, opened on the picture
};

// One call and what the native build answered.
struct Call {
  CallKind kind = CallKind::Picture;
  std::int32_t progress = static_cast<std::int32_t>(Progress::None);  // picture calls
  std::uint64_t userData = 0;                                         // picture calls
  std::string name;  // the file name IsSupported is given
  PictureOutcome picture;
  PictureInfoOutcome info;
  std::int32_t supported = 0;
  std::int64_t position = 0;  // the host file's position after SupportedByHandle
};

enum class Plugin : std::uint8_t { Gradec, Qdec };

struct Case {
  std::string label;
  Plugin plugin = Plugin::Gradec;
  // The source: the file in memory, or by name a file in the case folder (with its companions
  // beside it, already written there).
  bool byName = false;
  std::string fileName;  // by name: relative to the case folder
  Bytes file;
  std::vector<Call> calls;

  PictureSource source(const std::string& folder) const;
};

class Writer {
 public:
  explicit Writer(std::ostream& out);
  void write(const Case& c);

 private:
  std::ostream& out_;
};

class Reader {
 public:
  explicit Reader(std::istream& in);
  bool good() const { return good_; }  // the signature was there and nothing was cut short
  // The next case; false at the end of the file or when it is damaged (then good() is false).
  bool next(Case& c);

 private:
  std::istream& in_;
  bool good_ = true;
};

}  // namespace cases

// SPDX-License-Identifier: MIT
#include "tests/win64/case_file.h"

#include <istream>
#include <ostream>

namespace cases {

namespace {

constexpr char kSignature[] = "plane plug-in cases 2\n";

// The encoding: fixed-width little-endian integers, byte strings behind their length.
class Out {
 public:
  explicit Out(std::ostream& out) : out_(out) {}
  void integer(std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out_.put(static_cast<char>(value >> (8 * i)));
  }
  void u8(std::uint8_t v) { integer(v, 1); }
  void i32(std::int32_t v) { integer(static_cast<std::uint32_t>(v), 4); }
  void u64(std::uint64_t v) { integer(v, 8); }
  void bytes(const std::uint8_t* data, std::size_t size) {
    integer(size, 4);
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  void bytes(const Bytes& b) { bytes(b.data(), b.size()); }
  void text(const std::string& s) {
    bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  }

 private:
  std::ostream& out_;
};

// Reads what Out wrote; after the first short read every value is 0 and ok() is false.
class In {
 public:
  explicit In(std::istream& in) : in_(in) {}
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }
  std::uint64_t integer(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      const int c = in_.get();
      if (c == std::char_traits<char>::eof()) {
        ok_ = false;
        return 0;
      }
      value |= static_cast<std::uint64_t>(c & 0xFF) << (8 * i);
    }
    return value;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(integer(1)); }
  std::int32_t i32() { return static_cast<std::int32_t>(static_cast<std::uint32_t>(integer(4))); }
  std::uint64_t u64() { return integer(8); }
  bool flag() { return u8() != 0; }
  Bytes bytes() {
    const auto size = static_cast<std::size_t>(integer(4));
    // No case holds more than a few hundred kilobytes: a larger size is a damaged file.
    if (!ok_ || size > kLargestString) {
      ok_ = false;
      return {};
    }
    Bytes b(size);
    in_.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::size_t>(in_.gcount()) != size) ok_ = false;
    return b;
  }
  std::string text() {
    const Bytes b = bytes();
    return std::string(b.begin(), b.end());
  }

 private:
  static constexpr std::size_t kLargestString = 16 << 20;
  std::istream& in_;
  bool ok_ = true;
};

void writeOutcome(Out& out, const PictureOutcome& o) {
  out.i32(static_cast<std::int32_t>(o.result));
  out.bytes(o.info);
  out.bytes(o.pixels);
  out.text(o.contractFailures);
  out.integer(o.progress.size(), 4);
  for (const ProgressCall& p : o.progress) {
    out.i32(p.done);
    out.i32(p.total);
    out.u64(p.userData);
  }
}

PictureOutcome readPictureOutcome(In& in) {
  PictureOutcome o;
  o.result = static_cast<LoaderResult>(in.i32());
  o.info = in.bytes();
  o.pixels = in.bytes();
  o.contractFailures = in.text();
  const auto count = in.integer(4);
  for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
    ProgressCall p;
    p.done = in.i32();
    p.total = in.i32();
    p.userData = in.u64();
    o.progress.push_back(p);
  }
  return o;
}

void writeOutcome(Out& out, const PictureInfoOutcome& o) {
  out.i32(static_cast<std::int32_t>(o.result));
  out.bytes(o.fields.data(), o.fields.size());
  out.u8(static_cast<std::uint8_t>(o.text));
  out.bytes(o.textBytes);
  out.text(o.contractFailures);
}

PictureInfoOutcome readInfoOutcome(In& in) {
  PictureInfoOutcome o;
  o.result = static_cast<LoaderResult>(in.i32());
  const Bytes fields = in.bytes();
  if (fields.size() == o.fields.size()) {
    std::copy(fields.begin(), fields.end(), o.fields.begin());
  } else {
    in.fail();
  }
  o.text = static_cast<PictureInfoOutcome::Text>(in.u8());
  o.textBytes = in.bytes();
  o.contractFailures = in.text();
  return o;
}

}  // namespace

ProgressScript progressScript(std::int32_t progress) {
  switch (static_cast<Progress>(progress)) {
    case Progress::None:
      return {};
    case Progress::GoOn:
      return [](int, const ProgressCall&) { return 0; };
    case Progress::StopAlways:
      return [](int, const ProgressCall&) { return -1; };
  }
  return [progress](int index, const ProgressCall&) { return index == progress ? 1 : 0; };
}

PictureSource Case::source(const std::string& folder) const {
  return byName ? PictureSource::fileName(folder + "/" + fileName) : PictureSource::memory(file);
}

Writer::Writer(std::ostream& out) : out_(out) {
  out_ << kSignature;
}

void Writer::write(const Case& c) {
  Out out(out_);
  out.u8(1);  // a case follows
  out.text(c.label);
  out.u8(static_cast<std::uint8_t>(c.plugin));
  out.u8(c.byName);
  out.text(c.fileName);
  out.bytes(c.file);
  out.integer(c.calls.size(), 4);
  for (const Call& call : c.calls) {
    out.u8(static_cast<std::uint8_t>(call.kind));
    out.i32(call.progress);
    out.u64(call.userData);
    out.text(call.name);
    switch (call.kind) {
      case CallKind::Picture:
      case CallKind::Preview:
        writeOutcome(out, call.picture);
        break;
      case CallKind::Info:
        writeOutcome(out, call.info);
        break;
      case CallKind::Supported:
      case CallKind::SupportedByHandle:
        out.i32(call.supported);
        out.u64(static_cast<std::uint64_t>(call.position));
        break;
    }
  }
}

Reader::Reader(std::istream& in) : in_(in) {
  std::string line;
  std::getline(in_, line);
  good_ = line + "\n" == kSignature;
}

bool Reader::next(Case& c) {
  if (!good_) return false;
  In in(in_);
  const int marker = in_.get();
  if (marker == std::char_traits<char>::eof()) return false;  // the end
  c = Case{};
  c.label = in.text();
  c.plugin = static_cast<Plugin>(in.u8());
  c.byName = in.flag();
  c.fileName = in.text();
  c.file = in.bytes();
  const auto count = in.integer(4);
  for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
    Call call;
    call.kind = static_cast<CallKind>(in.u8());
    call.progress = in.i32();
    call.userData = in.u64();
    call.name = in.text();
    switch (call.kind) {
      case CallKind::Picture:
      case CallKind::Preview:
        call.picture = readPictureOutcome(in);
        break;
      case CallKind::Info:
        call.info = readInfoOutcome(in);
        break;
      case CallKind::Supported:
      case CallKind::SupportedByHandle:
        call.supported = in.i32();
        call.position = static_cast<std::int64_t>(in.u64());
        break;
      default:
        good_ = false;
        return false;
    }
    c.calls.push_back(std::move(call));
  }
  good_ = marker == 1 && in.ok();
  return good_;
}

}  // namespace cases

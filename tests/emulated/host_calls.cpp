// SPDX-License-Identifier: MIT
#include "tests/emulated/host_calls.h"

#include <sstream>

namespace {

std::string describe(const std::vector<ProgressCall>& calls) {
  std::ostringstream out;
  out << "[";
  for (const ProgressCall& c : calls)
    out << " (" << c.done << "," << c.total << "," << c.userData << ")";
  out << " ]";
  return out.str();
}

// Where two byte strings first differ.
std::string compareBytes(const char* what, const Bytes& emulated, const Bytes& native,
                         const Sides& sides) {
  if (emulated == native) return {};
  std::ostringstream out;
  out << what << ": ";
  if (emulated.size() != native.size())
    out << emulated.size() << " bytes " << sides.first << ", " << native.size() << " "
        << sides.second << "; ";
  for (std::size_t i = 0; i < std::min(emulated.size(), native.size()); ++i) {
    if (emulated[i] != native[i]) {
      out << "first difference at byte " << i << ": " << int{emulated[i]} << " " << sides.first
          << ", " << int{native[i]} << " " << sides.second;
      break;
    }
  }
  return out.str() + "\n";
}

}  // namespace

std::ostream& operator<<(std::ostream& out, LoaderResult result) {
  return out << resultName(result);
}

std::string describe(const PictureOutcome& o) {
  std::ostringstream out;
  out << resultName(o.result) << ", info " << o.info.size() << " bytes, pixels " << o.pixels.size()
      << " bytes, progress " << describe(o.progress);
  if (!o.contractFailures.empty()) out << ", host contract broken:\n" << o.contractFailures;
  return out.str();
}

std::string describe(const PictureInfoOutcome& o) {
  std::ostringstream out;
  out << resultName(o.result) << ", text "
      << (o.text == PictureInfoOutcome::Text::Untouched ? "untouched"
          : o.text == PictureInfoOutcome::Text::None    ? "none"
                                                        : "a block")
      << " of " << o.textBytes.size() << " bytes";
  if (!o.contractFailures.empty()) out << ", host contract broken:\n" << o.contractFailures;
  return out.str();
}

std::string difference(const PictureOutcome& emulated, const PictureOutcome& native,
                       const Sides& sides) {
  if (emulated == native) return {};
  std::string text = std::string(sides.first) + ": " + describe(emulated) + "\n" + sides.second +
                     ": " + describe(native) + "\n";
  text += compareBytes("information block", emulated.info, native.info, sides);
  text += compareBytes("pixel block", emulated.pixels, native.pixels, sides);
  return text;
}

std::string difference(const PictureInfoOutcome& emulated, const PictureInfoOutcome& native,
                       const Sides& sides) {
  if (emulated == native) return {};
  std::string text = std::string(sides.first) + ": " + describe(emulated) + "\n" + sides.second +
                     ": " + describe(native) + "\n";
  text += compareBytes("record", Bytes(emulated.fields.begin(), emulated.fields.end()),
                       Bytes(native.fields.begin(), native.fields.end()), sides);
  text += compareBytes("text block", emulated.textBytes, native.textBytes, sides);
  return text;
}

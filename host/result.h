// SPDX-License-Identifier: MIT
// What a call of the host library came to: Ok, or a result code and the reason in words. One
// shape for everything a host does, a plug-in's call and a file's reading or writing alike, so
// that a program reports any failure the same way and tells kinds apart by the code alone.
//
// The codes are the plug-ins' own (framework/host_interface.h). What the host adds of its own
// uses the nearest of them:
//   - a file that cannot be opened, read, created or written, or an output the host refuses to
//     replace: OpenFailed, as a plug-in says of a file it cannot open. The reason tells which
//     file operation failed and its cause; a program acts on all of them alike (report, count
//     the file as failed), so the code does not split them further;
//   - a write given up because the run is interrupted: Cancelled, as a decode a host stops;
//   - a file that no plug-in recognises: UnknownFormat; one whose bytes a chosen plug-in
//     refuses: BadData.
#pragma once

#include <string>

#include "framework/host_interface.h"

namespace host {

struct Result {
  LoaderResult code = LoaderResult::Ok;
  std::string reason;  // empty when Ok
  explicit operator bool() const { return code == LoaderResult::Ok; }
};

}  // namespace host

// SPDX-License-Identifier: MIT
// Why a file is refused, in words: every reason a host shows a user comes from here, and the
// formats' own header descriptions (gra/gra_format.h, q/q_format.h) supply what the bytes
// showed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "framework/host_interface.h"
#include "host/plugin_set.h"

namespace host {

// A result code in words, as far as the code alone tells, e.g. "out of memory (NoMemory)".
std::string describeResult(LoaderResult result);

// What a file's header shows that its format's plug-in refuses, e.g. "no \"WED\" signature at
// byte 13"; empty when the header passes the plug-in's recognition.
std::string headerProblem(PictureFormat format, std::span<const std::uint8_t> file);

// Why a plug-in chosen by the host does not take a file, e.g. "not a GRA picture: no \"WED\"
// signature at byte 13".
std::string whyNotTaken(const Plugin& plugin, std::span<const std::uint8_t> file);

// Why no plug-in recognised a file of this name and these bytes, e.g. "not a Q picture: the
// size field says 17466 bytes, header and chunks make 17465". A name with neither format's
// extension is said so, with what the contents look like when a plug-in takes them.
std::string whyNotRecognised(const PluginSet& plugins, const std::string& fileName,
                             std::span<const std::uint8_t> file);

// Why no plug-in takes a file's first bytes, whatever its name: each format's reason, e.g.
// "not a GRA or Q picture: no \"WED\" signature at byte 13 (GRA); only 20 bytes, ... (Q)".
std::string whyNoneTakes(const PluginSet& plugins, std::span<const std::uint8_t> file);

// Text from a file (a comment, a file name) as it can be shown on a terminal: control
// characters (bytes below 0x20, 0x7F, and the C1 controls U+0080 to U+009F), backslashes and
// bytes that are not part of a whole UTF-8 character are written as \xNN; everything else is
// kept, so the bytes can always be told back from what is shown. On Windows a backslash is
// kept: there it separates folders.
std::string printable(std::string_view text);

// Why a plug-in's call on a recognised file failed with result, in words that tell a short
// file from a failed check where the bytes (the whole file, when the host has it) tell them
// apart; describeResult otherwise.
std::string describeFailure(const Plugin& plugin, LoaderResult result,
                            std::span<const std::uint8_t> file);

// A failed decode as a program reports it: "cannot decode the Q picture: " and the reason,
// unless the reason says already that the file is not a picture of that format.
std::string cannotDecode(const Plugin& plugin, const std::string& reason);

}  // namespace host

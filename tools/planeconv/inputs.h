// SPDX-License-Identifier: MIT
// The files a command works on, found before any work starts: folders opened (with -r),
// companion files set aside, repeated files dropped, and for convert each output named and
// checked against every other output and every input.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/files.h"
#include "host/plugin_set.h"
#include "tools/planeconv/options.h"

struct Input {
  std::string path;    // as given or found in a folder; "-" for standard input
  std::string below;   // with -r: the path below the output folder that mirrors it
  std::string error;   // known before any work ("is a folder ...")
  std::string output;  // convert: where the picture goes
  host::FileId id;
  bool outputExists = false;  // convert without --force: left alone, its output already there
};

struct InputList {
  std::vector<Input> inputs;
  std::vector<std::string> notes;  // said unless --quiet: companions passed over, empty folders
  // Said always, and the command then ends with 1: a folder given without -r, a folder below
  // one that cannot be read. None of them is a picture, so none counts as one.
  std::vector<std::string> problems;
};

// Called as the inputs are found (total 0: not known yet) and their outputs checked, so that a
// terminal can show it on a large folder; step says which ("finding pictures", ...).
using StepProgress = std::function<void(const char* step, std::size_t done, std::size_t total)>;

// The inputs of the command line, in order: folders opened with -r (their pictures in byte
// order of their paths), reported as folders otherwise; companion files whose picture is an
// input passed over quietly, others noted as companions; a file given twice taken once. Links
// by a picture's name that lead to nothing are inputs that fail, with the reason.
InputList listInputs(const Options& options, const host::PluginSet& plugins,
                     const StepProgress& progress = {});

// Names each input's output (convert) with the extension of format ("png", "bmp"). Answers
// why the command line cannot be carried out without losing a file, empty when it can: two
// inputs that would be written to one output, or an output that is an input or a companion of
// one.
std::string nameOutputs(const Options& options, const host::PluginSet& plugins,
                        const std::string& format, InputList& list,
                        const StepProgress& progress = {});

// Before any picture is decoded: marks each input whose output is a regular file already
// there (outputExists) unless --force replaces them, and gives each whose output can never be
// written (a folder, a device, a link to nothing) its error. Answers how many were marked.
std::size_t findExistingOutputs(const Options& options, InputList& list,
                                const StepProgress& progress = {});

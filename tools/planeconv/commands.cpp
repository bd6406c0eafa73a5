// SPDX-License-Identifier: MIT
// info and convert.
#include "tools/planeconv/commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "host/companions.h"
#include "host/file_names.h"
#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"
#include "tools/planeconv/inputs.h"
#include "tools/planeconv/parallel.h"
#include "tools/planeconv/progress.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<host::PluginSet> loadPlugins(const Options& options) {
  auto plugins = std::make_unique<host::PluginSet>(options.pluginFolder);
  if (!plugins->ready()) {
    std::fprintf(stderr, "planeconv: %s\n", shown(plugins->error()).c_str());
    return nullptr;
  }
  return plugins;
}

std::string nameOf(const std::string& path) {
  return path == "-" ? "standard input" : shown(path);
}

// Opens an input as the command line asks (standard input for "-"); a refusal suggests --as
// where the contents look like a picture of the other format.
host::OpenedPicture openInput(const host::PluginSet& plugins, const Options& options,
                              const std::string& path) {
  const host::Plugin* chosen =
      options.forcedFormat.empty() ? nullptr : plugins.byName(options.forcedFormat);
  host::OpenedPicture opened = path == "-" ? host::openStandardInput(plugins, chosen)
                                           : host::openPicture(plugins, path, chosen);
  if (opened.looksLike)
    opened.result.reason += " (use --as " + opened.looksLike->name + " to read it as one)";
  return opened;
}

// On a terminal, unless quiet: the step planeconv is at before the first picture is converted
// (finding the pictures in folders, checking their outputs), redrawn at most every 100 ms on
// one line, which clear() takes away again.
class StepLine {
 public:
  explicit StepLine(const Options& options) : show_(options.terminal && !options.quiet) {}
  ~StepLine() { clear(); }
  StepLine(const StepLine&) = delete;
  StepLine& operator=(const StepLine&) = delete;

  StepProgress progress() {
    if (!show_) return {};
    return
        [this](const char* step, std::size_t done, std::size_t total) { draw(step, done, total); };
  }
  void clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }

 private:
  void draw(const char* step, std::size_t done, std::size_t total) {
    const auto now = std::chrono::steady_clock::now();
    // Each step is drawn as it starts, so that a long one shows from its first moment.
    const bool sameStep = step_ && std::strcmp(step, step_) == 0;
    if (sameStep && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    step_ = step;
    lastDrawn_ = now;
    drawn_ = true;
    char counts[64];
    if (total) {
      std::snprintf(counts, sizeof counts, ": %zu/%zu", done, total);
    } else {
      std::snprintf(counts, sizeof counts, ": %zu found", done);
    }
    std::string line = std::string(step) + counts;
    const std::size_t room = static_cast<std::size_t>(std::max(terminalColumns() - 1, 0));
    if (line.size() > room) line.resize(room);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
  }

  const bool show_;
  bool drawn_ = false;
  const char* step_ = nullptr;  // the step drawn last (the callers' literals)
  std::chrono::steady_clock::time_point lastDrawn_{};
};

// Folders, companions and repeated files, as the command line gives them; notes unless quiet.
InputList inputsOf(const Options& options, const host::PluginSet& plugins,
                   StepLine* step = nullptr) {
  InputList list = listInputs(options, plugins, step ? step->progress() : StepProgress{});
  if (step) step->clear();
  if (!options.quiet) {
    for (const std::string& note : list.notes) std::fprintf(stderr, "%s\n", note.c_str());
  }
  for (const std::string& problem : list.problems) std::fprintf(stderr, "%s\n", problem.c_str());
  return list;
}

bool readsStandardInputTwice(const Options& options) {
  return std::count(options.files.begin(), options.files.end(), "-") > 1;
}

// What convertOne answers for a picture given up without a word, since the reason was told
// already (a full disk).
constexpr const char* kNotTried = "\x01not tried";

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifndef _WIN32
    case SIGHUP:
      return "SIGHUP";
#endif
  }
  return "a signal";
}

}  // namespace

int runInfo(const Options& options) {
  if (options.files.empty()) {
    std::fprintf(stderr, "planeconv info: no files given (see 'planeconv info --help')\n");
    return 2;
  }
  if (readsStandardInputTwice(options)) {
    std::fprintf(stderr, "planeconv info: standard input (-) can be read only once\n");
    return 2;
  }
  std::unique_ptr<host::PluginSet> plugins = loadPlugins(options);
  if (!plugins) return 1;
  host::FolderListings listings;  // each folder read once for the companions of all its pictures
  const InputList list = inputsOf(options, *plugins);
  int failed = static_cast<int>(list.problems.size());
  for (const Input& input : list.inputs) {
    std::string error = input.error;
    host::OpenedPicture opened;
    host::Picture picture;  // decoded whole: a picture that does not decode is reported so
    const host::PictureInfo& info = picture.info;
    if (error.empty()) {
      opened = openInput(*plugins, options, input.path);
      error = opened.result.reason;
    }
    if (error.empty()) {
      if (host::Result r = host::decode(*opened.plugin, opened.file, picture); !r) error = r.reason;
    }
    if (!error.empty()) {
      std::fprintf(stderr, "%s: %s\n", nameOf(input.path).c_str(), error.c_str());
      ++failed;
      continue;
    }
    std::printf("%s\n", nameOf(input.path).c_str());
    std::printf("  format:    %s (%s)\n", opened.plugin->formatName().c_str(),
                opened.plugin->moduleName.c_str());
    std::printf("  size:      %d x %d, %d bits per pixel\n", info.width, info.height,
                info.colorDepth);
    if (opened.plugin->format == host::PictureFormat::Q) {
      std::printf("  colours:   %d\n", info.colors);
      if (!info.comment.empty()) {
        std::printf("  comment:   \"%s\"\n", host::commentText(info).c_str());
      } else {
        std::printf("  comment:   none\n");
      }
    } else {
      const host::Companions& companions = info.companions;
      std::printf("  colours:   %d%s\n", info.colors,
                  companions.fourthPlane.empty() ? " (no fourth plane)" : "");
      std::printf("  palette:   %s\n",
                  companions.palette.empty() ? "default" : shown(companions.palette).c_str());
      std::printf("  4th plane: %s\n",
                  companions.fourthPlane.empty() ? "none" : shown(companions.fourthPlane).c_str());
    }
    for (const host::IgnoredCompanion& ignored : info.ignoredCompanions)
      std::printf("  note:      %s\n", host::describe(ignored).c_str());
  }
  return failed ? 1 : 0;
}

namespace {

// The threads to convert on: -j, but no more than the processors, since each picture keeps a
// processor busy from reading to writing and more threads only take turns (and memory).
unsigned workers(const Options& options) {
  const unsigned cores = coreCount();
  return options.threads > 0 ? std::min(static_cast<unsigned>(options.threads), cores) : cores;
}

// One conversion run: the inputs, what is done, the progress bar and the summary.
class ConvertRun {
 public:
  ConvertRun(const Options& options, const host::PluginSet& plugins, std::vector<Input> inputs,
             std::string format)
      : options_(options),
        plugins_(plugins),
        inputs_(std::move(inputs)),
        format_(std::move(format)),
        lineProgress_(inputs_.size()),
        showBar_(options.terminal && !options.quiet) {}

  int run();

 private:
  std::string convertOne(std::size_t index);
  void onProgress(std::size_t index, int done, int total);
  void report(const std::string& line);
  // Redraws the progress bar on a terminal, at most every 100 ms unless final.
  void drawBar(bool final);
  void clearBar();  // under outputLock_
  std::string formatTitle() const { return format_ == "bmp" ? "BMP" : "PNG"; }

  const Options& options_;
  const host::PluginSet& plugins_;
  const std::vector<Input> inputs_;
  const std::string format_;
  std::vector<std::atomic<int>> lineProgress_;  // lines done per file, of 400
  const bool showBar_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};
  std::atomic<std::size_t> converted_{0};
  std::atomic<std::size_t> failed_{0};
  // A write found the disk or the quota full: that was said once, and no more is tried.
  std::atomic<bool> storageFull_{false};
  std::atomic<long long> linesDone_{0};
  Lock outputLock_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
};

void ConvertRun::onProgress(std::size_t index, int done, int total) {
  if (total <= 0) return;
  int lines = static_cast<int>(static_cast<long long>(done) * kPictureHeight / total);
  int before = lineProgress_[index].exchange(lines);
  linesDone_ += lines - before;
  drawBar(false);
}

std::string ConvertRun::convertOne(std::size_t index) {
  const Input& input = inputs_[index];
  if (!input.error.empty()) return input.error;
  host::OpenedPicture opened = openInput(plugins_, options_, input.path);
  if (!opened.plugin) return opened.result.reason;
  host::Picture picture;
  const auto progress = [this, index](int done, int total) {
    onProgress(index, done, total);
    return host::interrupted();
  };
  if (host::Result r = host::decode(*opened.plugin, opened.file, picture, progress); !r) {
    return r.reason;
  }
  if (!options_.quiet) {
    for (const host::IgnoredCompanion& ignored : picture.info.ignoredCompanions)
      report(nameOf(input.path) + ": warning: " + host::describe(ignored));
  }
  std::vector<std::uint8_t> bytes;
  if (format_ == "bmp") {
    bytes = host::encodeBmp(picture);
  } else if (host::Result r = host::encodePng(picture, bytes); !r) {
    return r.reason;
  }
  if (input.output == "-") {
    if (host::Result r = host::writeToStandardOutput(bytes); !r) return r.reason;
    ++converted_;
    return "";
  }
  host::WriteOptions write;
  write.overwrite = options_.force;
  write.createFolders = true;
  write.onFinished = [this] { ++converted_; };
  if (host::Result r = host::writeFileAtomically(input.output, bytes, write); !r) {
    if (r.reason == host::kAlreadyExists) r.reason += " (use --force to replace it)";
    if (host::storageFull(r)) {
      // Every picture after would fail alike: one message, and the run stops.
      if (storageFull_.exchange(true)) return kNotTried;
      r.reason += "; stopping here";
    }
    return shown(input.output) + ": " + r.reason;
  }
  return "";
}

void ConvertRun::clearBar() {
  if (showBar_) std::fputs("\r\033[K", stderr);
}

void ConvertRun::report(const std::string& line) {
  Locked locked(outputLock_);
  clearBar();
  std::fprintf(stderr, "%s\n", line.c_str());
}

void ConvertRun::drawBar(bool final) {
  if (!showBar_) return;
  Locked locked(outputLock_);
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const std::size_t files = inputs_.size();
  const long long total = static_cast<long long>(files) * kPictureHeight;
  const double fraction = total ? static_cast<double>(linesDone_) / total : 1.0;
  // The width is asked every time, so that the bar follows a resized terminal.
  const std::string line = progressLine(terminalColumns(), finished_.load(), files, fraction);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  if (final) std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

int ConvertRun::run() {
  const std::size_t files = inputs_.size();
  host::cleanUpOnInterrupt([this, files](int signal) {
    outputLock_.lock();  // kept: nothing more is printed before the process ends
    clearBar();
    std::fprintf(stderr, "interrupted by %s: converted %zu of %zu picture%s\n", signalName(signal),
                 converted_.load(), files, files == 1 ? "" : "s");
  });
  const unsigned threads = static_cast<unsigned>(
      std::clamp<std::size_t>(workers(options_), 1, std::max<std::size_t>(files, 1)));
  runOnThreads(threads, [this, files] {
    for (std::size_t i; !host::interrupted() && !storageFull_ && (i = next_++) < files;) {
      std::string error;
      try {
        error = convertOne(i);
      } catch (const std::bad_alloc&) {
        error = "out of memory";
      } catch (const std::exception& e) {
        error = std::string("failed (") + e.what() + ")";
      }
      if (error == kNotTried) {
        // Not counted as failed: like the pictures not begun, it is among those not converted.
      } else if (!error.empty()) {
        ++failed_;
        report(nameOf(inputs_[i].path) + ": " + error);
      }
      ++finished_;
      drawBar(false);
    }
  });
  drawBar(true);
  // This run's summary is no longer the one to print on an interrupt (nor can it be: the run
  // ends with this function).
  host::cleanUpOnInterrupt({});

  if (!options_.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "converted %zu of %zu picture%s to %s in %.2f s%s\n", converted_.load(),
                 files, files == 1 ? "" : "s", formatTitle().c_str(), seconds,
                 (std::string(failed_ ? ", " + std::to_string(failed_.load()) + " failed" : "") +
                  (storageFull_ ? ", stopped: no room for more" : ""))
                     .c_str());
  }
  return failed_ || storageFull_ ? 1 : 0;
}

// The format to write: --format, or the extension of -o; empty with a message when they
// disagree or -o's extension is neither.
std::string outputFormat(const Options& options, std::string& error) {
  if (options.output.empty() || options.output == "-") {
    return options.format.empty() ? "png" : options.format;
  }
  std::string extension = host::nameOfPath(host::pathOf(options.output).extension());
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string named = extension == ".png" ? "png" : extension == ".bmp" ? "bmp" : "";
  if (!named.empty()) {
    if (!options.format.empty() && options.format != named) {
      error = "--format " + options.format + " does not match the name " + shown(options.output) +
              "; give the output the ." + options.format + " extension";
      return "";
    }
    return named;
  }
  if (options.format.empty() && !extension.empty()) {
    error = "cannot tell the format from the name " + shown(options.output) +
            ": name it .png or .bmp, or give --format png|bmp";
    return "";
  }
  return options.format.empty() ? "png" : options.format;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "planeconv convert: %s\n", message.c_str());
  return 2;
}

}  // namespace

int runConvert(const Options& options) {
  if (options.files.empty()) return usageError("no files given (see 'planeconv convert --help')");
  if (!options.output.empty() && !options.outputFolder.empty())
    return usageError("give -o or -d, not both");
  if (!options.output.empty() && options.files.size() != 1)
    return usageError("-o takes one input file; use -d DIR for several");
  if (readsStandardInputTwice(options))
    return usageError("standard input (-) can be read only once");
  if (std::count(options.files.begin(), options.files.end(), "-") && options.output.empty())
    return usageError(
        "a picture from standard input (-) needs -o OUT (or -o - for standard output)");
  if (options.output == "-" && options.outputTerminal)
    return usageError(
        "standard output is a terminal; -o - writes the picture's bytes to a pipe "
        "or a file");
  std::string error;
  const std::string format = outputFormat(options, error);
  if (!error.empty()) return usageError(error);

  std::unique_ptr<host::PluginSet> plugins = loadPlugins(options);
  if (!plugins) return 1;
  if (!options.quiet && static_cast<unsigned>(options.threads) > workers(options)) {
    std::fprintf(stderr,
                 "planeconv convert: -j %d is more than the %u processors can use; converting on "
                 "%u threads\n",
                 options.threads, coreCount(), workers(options));
  }
  host::FolderListings listings;  // each folder read once for the companions of all its pictures
  StepLine step(options);
  InputList list = inputsOf(options, *plugins, &step);
  if (!options.output.empty() && list.inputs.size() > 1) {
    return usageError("-o takes one picture; " + shown(options.files[0]) + " holds " +
                      std::to_string(list.inputs.size()) + " (use -d DIR)");
  }
  if (std::string problem = nameOutputs(options, *plugins, format, list, step.progress());
      !problem.empty()) {
    step.clear();
    return usageError(problem);
  }
  const int problems = list.problems.empty() ? 0 : 1;
  const std::size_t existing = findExistingOutputs(options, list, step.progress());
  step.clear();
  std::vector<Input> toConvert;
  const Input* left = nullptr;
  for (Input& input : list.inputs) {
    if (input.outputExists) {
      left = &input;
    } else {
      toConvert.push_back(std::move(input));
    }
  }
  if (existing && !options.quiet) {
    if (existing == 1) {
      std::fprintf(stderr, "left %s alone: %s already exists (use --force to replace it)\n",
                   nameOf(left->path).c_str(), shown(left->output).c_str());
    } else {
      std::fprintf(stderr,
                   "left %zu pictures alone: their outputs already exist (use --force to replace "
                   "them)\n",
                   existing);
    }
  }
  if (toConvert.empty()) return problems;
  ConvertRun run(options, *plugins, std::move(toConvert), format);
  return std::max(run.run(), problems);
}

// info and convert.
#include "tools/planeconv/commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/planeconv/image_files.h"
#include "tools/planeconv/parallel.h"
#include "framework/platform.h"
#include "tools/planeconv/picture.h"
#include "tools/planeconv/plugin_host.h"

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// A file read whole and the plug-in that is to read it.
struct Opened {
  const Plugin* plugin = nullptr;
  std::vector<std::uint8_t> bytes;
  std::string error;  // why the file cannot be read as a picture
};

Opened openPicture(const PluginSet& plugins, const std::string& path, const std::string& forced) {
  Opened opened;
  if (std::string e = readFile(path, opened.bytes); !e.empty()) {
    opened.error = e;
    return opened;
  }
  if (!forced.empty()) {
    opened.plugin = plugins.byName(forced);
    return opened;
  }
  opened.plugin = plugins.recognise(fs::path(path).filename().string(), opened.bytes);
  if (opened.plugin) return opened;
  const std::string ext = lowerExtension(path);
  if (ext == ".gra") {
    opened.error = whyNotRecognised(PictureFormat::Gra, opened.bytes);
  } else if (ext == ".q") {
    opened.error = whyNotRecognised(PictureFormat::Q, opened.bytes);
  } else {
    opened.error =
        "not a GRA or Q picture: the name ends in neither .gra nor .q (use --as gra|q to read "
        "it as one)";
  }
  return opened;
}

// The companion file the GRA plug-in uses beside a picture opened by name: the picture's
// 1- to 3-letter extension replaced, and exactly the expected size. Empty when there is none.
std::string companionOf(const std::string& path, const char* extension, std::uintmax_t size) {
  std::size_t end = path.size();
  std::size_t dot = std::string::npos;
  for (std::size_t back = 2; back <= 4 && back <= end && dot == std::string::npos; ++back) {
    if (path[end - back] == '.') dot = end - back;
  }
  if (dot == std::string::npos) return "";
  std::string companion = path.substr(0, dot + 1) + extension;
  std::error_code error;
  return fs::file_size(companion, error) == size && !error ? companion : "";
}

std::string commentText(HGLOBAL handle) {
  std::string text;
  if (const auto* block = static_cast<const char*>(GlobalLock(handle))) {
    text.assign(block, strnlen(block, 32));
    GlobalUnlock(handle);
  }
  GlobalFree(handle);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

PluginSet* loadPlugins(const Options& options) {
  auto* plugins = new PluginSet(options.pluginFolder);
  if (!plugins->ready()) {
    std::fprintf(stderr, "planeconv: %s\n", plugins->error().c_str());
    delete plugins;
    return nullptr;
  }
  return plugins;
}

}  // namespace

int runInfo(const Options& options) {
  if (options.files.empty()) {
    std::fprintf(stderr, "planeconv info: no files given (see 'planeconv info --help')\n");
    return 2;
  }
  std::unique_ptr<PluginSet> plugins(loadPlugins(options));
  if (!plugins) return 1;
  int failed = 0;
  for (const std::string& path : options.files) {
    Opened opened = openPicture(*plugins, path, options.forcedFormat);
    PictureInfoRecord info{};
    LoaderResult r = LoaderResult::Ok;
    if (opened.error.empty()) {
      r = opened.plugin->getPictureInfo(path.c_str(), 0, kSourceIsFileName, &info);
      if (r != LoaderResult::Ok) opened.error = describeResult(r);
    }
    if (!opened.error.empty()) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), opened.error.c_str());
      ++failed;
      continue;
    }
    std::printf("%s\n", path.c_str());
    std::printf("  format:    %s (%s)\n", opened.plugin->formatName().c_str(),
                opened.plugin->moduleName.c_str());
    std::printf("  size:      %d x %d, %d bits per pixel\n", info.width, info.height,
                info.colorDepth);
    if (opened.plugin->format == PictureFormat::Q) {
      const bool eight = opened.bytes.size() > 34 && opened.bytes[34] == 0;
      std::printf("  colours:   %d\n", eight ? 8 : 16);
      if (info.textHandle) {
        std::printf("  comment:   \"%s\"\n", commentText(info.textHandle).c_str());
      } else {
        std::printf("  comment:   none\n");
      }
    } else {
      std::string palette = companionOf(path, "rgb", 48);
      std::string plane = companionOf(path, "e1", 32000);
      std::printf("  colours:   %d%s\n", plane.empty() ? 8 : 16,
                  plane.empty() ? " (no fourth plane)" : "");
      std::printf("  palette:   %s\n", palette.empty() ? "default" : palette.c_str());
      std::printf("  4th plane: %s\n", plane.empty() ? "none" : plane.c_str());
    }
  }
  return failed ? 1 : 0;
}

namespace {

// Shared state of a conversion run: what is done, for the progress bar and the summary.
class ConvertRun {
 public:
  ConvertRun(const Options& options, const PluginSet& plugins)
      : options_(options), plugins_(plugins), lineProgress_(options.files.size()) {}

  int run();

 private:
  struct Job {
    ConvertRun* run;
    std::size_t index;
  };

  std::string outputPath(const std::string& input) const;
  std::string convertOne(std::size_t index);
  static void onProgress(int done, int total, void* context);
  void report(const std::string& line, FILE* to);
  // Redraws the progress bar on a terminal, at most every 100 ms unless final.
  void drawBar(bool final);

  const Options& options_;
  const PluginSet& plugins_;
  std::vector<std::atomic<int>> lineProgress_;  // lines done per file, of 400
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};
  std::atomic<std::size_t> failed_{0};
  std::atomic<long long> linesDone_{0};
  Lock outputLock_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
};

std::string ConvertRun::outputPath(const std::string& input) const {
  if (!options_.output.empty()) return options_.output;
  fs::path out = fs::path(input).filename().replace_extension(options_.format);
  if (!options_.outputFolder.empty()) return (fs::path(options_.outputFolder) / out).string();
  return (fs::path(input).parent_path() / out).string();
}

void ConvertRun::onProgress(int done, int total, void* context) {
  auto* job = static_cast<Job*>(context);
  if (total <= 0) return;
  int lines = static_cast<int>(static_cast<long long>(done) * kPictureHeight / total);
  int before = job->run->lineProgress_[job->index].exchange(lines);
  job->run->linesDone_ += lines - before;
  job->run->drawBar(false);
}

std::string ConvertRun::convertOne(std::size_t index) {
  const std::string& path = options_.files[index];
  Opened opened = openPicture(plugins_, path, options_.forcedFormat);
  if (!opened.error.empty()) return opened.error;
  DecodedPicture picture;
  Job job{this, index};
  LoaderResult r = decodeFile(*opened.plugin, path, picture, onProgress, &job);
  if (r != LoaderResult::Ok) return describeResult(r);
  std::vector<std::uint8_t> bytes;
  if (options_.format == "bmp") {
    bytes = encodeBmp(picture);
  } else if (std::string e = encodePng(picture, bytes); !e.empty()) {
    return e;
  }
  const std::string out = outputPath(path);
  if (std::string e = writeFileAtomically(out, bytes, options_.force); !e.empty())
    return out + ": " + e;
  return "";
}

void ConvertRun::report(const std::string& line, FILE* to) {
  Locked locked(outputLock_);
  if (options_.terminal) std::fputs("\r\033[K", stderr);
  std::fprintf(to, "%s\n", line.c_str());
}

void ConvertRun::drawBar(bool final) {
  if (!options_.terminal) return;
  Locked locked(outputLock_);
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const std::size_t files = options_.files.size();
  const long long total = static_cast<long long>(files) * kPictureHeight;
  const double fraction = total ? static_cast<double>(linesDone_) / total : 1.0;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth);
  std::fprintf(stderr, "\r\033[K[%s%s] %zu/%zu pictures %3d%%", std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), finished_.load(), files,
               static_cast<int>(fraction * 100));
  if (final) std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

int ConvertRun::run() {
  const std::size_t files = options_.files.size();
  unsigned threads = options_.threads > 0 ? static_cast<unsigned>(options_.threads) : coreCount();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, files));
  runOnThreads(threads, [this, files] {
    for (std::size_t i; (i = next_++) < files;) {
      std::string error = convertOne(i);
      if (!error.empty()) {
        ++failed_;
        report(options_.files[i] + ": " + error, stderr);
      }
      ++finished_;
      drawBar(false);
    }
  });
  drawBar(true);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::size_t converted = files - failed_;
  std::fprintf(stderr, "converted %zu of %zu picture%s to %s in %.2f s%s\n", converted, files,
               files == 1 ? "" : "s", options_.format == "bmp" ? "BMP" : "PNG", seconds,
               failed_ ? (", " + std::to_string(failed_.load()) + " failed").c_str() : "");
  return failed_ ? 1 : 0;
}

}  // namespace

int runConvert(const Options& options) {
  if (options.files.empty()) {
    std::fprintf(stderr, "planeconv convert: no files given (see 'planeconv convert --help')\n");
    return 2;
  }
  if (!options.output.empty() && options.files.size() != 1) {
    std::fprintf(stderr, "planeconv convert: -o takes one input file; use -d DIR for several\n");
    return 2;
  }
  if (!options.output.empty() && !options.outputFolder.empty()) {
    std::fprintf(stderr, "planeconv convert: give -o or -d, not both\n");
    return 2;
  }
  if (!options.outputFolder.empty()) {
    std::error_code error;
    fs::create_directories(options.outputFolder, error);
    if (error) {
      std::fprintf(stderr, "%s: cannot create the folder (%s)\n", options.outputFolder.c_str(),
                   error.message().c_str());
      return 1;
    }
  }
  std::unique_ptr<PluginSet> plugins(loadPlugins(options));
  if (!plugins) return 1;
  ConvertRun run(options, *plugins);
  return run.run();
}

// info and convert.
#include "tools/planeconv/commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"
#include "tools/planeconv/parallel.h"

namespace fs = std::filesystem;

namespace {

// A file read whole and the plug-in that is to read it.
struct Opened {
  const host::Plugin* plugin = nullptr;
  host::PictureFile file;
  std::string error;  // why the file cannot be read as a picture
};

Opened openPicture(const host::PluginSet& plugins, const std::string& path,
                   const std::string& forced) {
  Opened opened;
  opened.file.path = path;
  if (std::string e = host::readFile(path, opened.file.bytes); !e.empty()) {
    opened.error = e;
    return opened;
  }
  if (!forced.empty()) {
    opened.plugin = plugins.byName(forced);
    return opened;
  }
  const std::string name = fs::path(path).filename().string();
  opened.plugin = plugins.recognise(name, opened.file.bytes);
  if (!opened.plugin) {
    opened.error = host::whyNotRecognised(plugins, name, opened.file.bytes);
    if (!plugins.byFileName(name)) opened.error += " (use --as gra|q to read it as one)";
  }
  return opened;
}

std::unique_ptr<host::PluginSet> loadPlugins(const Options& options) {
  auto plugins = std::make_unique<host::PluginSet>(options.pluginFolder);
  if (!plugins->ready()) {
    std::fprintf(stderr, "planeconv: %s\n", plugins->error().c_str());
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
  std::unique_ptr<host::PluginSet> plugins = loadPlugins(options);
  if (!plugins) return 1;
  int failed = 0;
  for (const std::string& path : options.files) {
    Opened opened = openPicture(*plugins, path, options.forcedFormat);
    host::PictureInfo info;
    if (opened.error.empty()) {
      if (host::Result r = host::readInfo(*opened.plugin, opened.file, info); !r) {
        opened.error = r.reason;
      }
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
    if (opened.plugin->format == host::PictureFormat::Q) {
      std::printf("  colours:   %d\n", info.colors);
      if (!info.comment.empty()) {
        std::printf("  comment:   \"%s\"\n", info.comment.c_str());
      } else {
        std::printf("  comment:   none\n");
      }
    } else {
      const host::Companions& companions = info.companions;
      std::printf("  colours:   %d%s\n", info.colors,
                  companions.fourthPlane.empty() ? " (no fourth plane)" : "");
      std::printf("  palette:   %s\n",
                  companions.palette.empty() ? "default" : companions.palette.c_str());
      std::printf("  4th plane: %s\n",
                  companions.fourthPlane.empty() ? "none" : companions.fourthPlane.c_str());
    }
  }
  return failed ? 1 : 0;
}

namespace {

// Shared state of a conversion run: what is done, for the progress bar and the summary.
class ConvertRun {
 public:
  ConvertRun(const Options& options, const host::PluginSet& plugins)
      : options_(options), plugins_(plugins), lineProgress_(options.files.size()) {}

  int run();

 private:
  std::string outputPath(const std::string& input) const;
  std::string convertOne(std::size_t index);
  void onProgress(std::size_t index, int done, int total);
  void report(const std::string& line, FILE* to);
  // Redraws the progress bar on a terminal, at most every 100 ms unless final.
  void drawBar(bool final);

  const Options& options_;
  const host::PluginSet& plugins_;
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

void ConvertRun::onProgress(std::size_t index, int done, int total) {
  if (total <= 0) return;
  int lines = static_cast<int>(static_cast<long long>(done) * kPictureHeight / total);
  int before = lineProgress_[index].exchange(lines);
  linesDone_ += lines - before;
  drawBar(false);
}

std::string ConvertRun::convertOne(std::size_t index) {
  const std::string& path = options_.files[index];
  Opened opened = openPicture(plugins_, path, options_.forcedFormat);
  if (!opened.error.empty()) return opened.error;
  host::Picture picture;
  const auto progress = [this, index](int done, int total) {
    onProgress(index, done, total);
    return false;
  };
  if (host::Result r = host::decode(*opened.plugin, opened.file, picture, progress); !r) {
    return r.reason;
  }
  std::vector<std::uint8_t> bytes;
  if (options_.format == "bmp") {
    bytes = host::encodeBmp(picture);
  } else if (std::string e = host::encodePng(picture, bytes); !e.empty()) {
    return e;
  }
  const std::string out = outputPath(path);
  if (std::string e = host::writeFileAtomically(out, bytes, options_.force); !e.empty())
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
  std::unique_ptr<host::PluginSet> plugins = loadPlugins(options);
  if (!plugins) return 1;
  ConvertRun run(options, *plugins);
  return run.run();
}

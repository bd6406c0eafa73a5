// SPDX-License-Identifier: MIT
// decode_bench: how fast the plug-ins decode, against the floor and against libpng, in one run.
//
//   decode_bench [Google Benchmark flags]        (make bench builds and runs it)
//
// For every picture (the samples, and busy and noisy pictures drawn and stored with the
// writers) it times:
//   GetPicture/KIND/NAME  the plug-in's GetPicture as a host calls it: the file in memory, a
//                         progress function given, both blocks freed afterwards. KIND is gra
//                         (without the fourth plane), q16 or q8; gra+e1 decodes by name from a
//                         temporary folder (the files in the page cache), since the "e1" fourth
//                         plane comes only from a file beside a picture opened by name.
//   libpng/KIND/NAME      libpng reading the same picture stored as planeconv stores it, a 4-bit
//                         palette PNG, into the same bottom-up 4-bit rows of a movable block.
//   companions/gra+e1/NAME  opening and reading the companion files of a picture decoded by
//                         name, as the plug-in does (size taken, read whole, closed); and
//   file/gra+e1/NAME      the same for the picture file itself.
//   Floor                 allocating, locking and zero-filling a 128000-byte movable block and
//                         writing one pass of pixels over it, then freeing it: what any decoder
//                         of this output must do.
// All sides are checked to give the same pixels before anything is timed. The last lines are
// a table from the medians of CPU time of this run: pictures per second and the ratios
// decode/floor and libpng/decode.
//
//   decode_bench --write-pictures FOLDER         writes the pictures' files instead (for the
//                                                WebAssembly side of scripts/bench-web.sh)
//
//   decode_bench --export=FOLDER [flags]
//
// also writes to FOLDER what the Windows benchmark (dll_bench.exe, bench/dll_bench.cpp) needs
// to time the DLLs on the same pictures and hold them against this run: the pictures decoded
// from memory and the pixels each must give (listed in pictures.txt), and the medians of this
// run (native.txt), once it has run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_pictures.h"
#include "host/companions.h"
#include "host/files.h"

namespace {

void getPictureBench(benchmark::State& state, const BenchPicture* picture) {
  for (auto _ : state) {
    HGLOBAL info = 0, pixels = 0;
    if (decodePicture(*picture, info, pixels) != LoaderResult::Ok) {
      state.SkipWithError("GetPicture failed");
      break;
    }
    GlobalFree(info);
    GlobalFree(pixels);
  }
  state.counters["file_bytes"] = static_cast<double>(picture->file.size());
}

void libpngBench(benchmark::State& state, const BenchPicture* picture) {
  for (auto _ : state) {
    HGLOBAL pixels = decodePngToBlock(picture->png);
    if (!pixels) {
      state.SkipWithError("libpng failed");
      break;
    }
    GlobalFree(pixels);
  }
}

// What reading files costs, as the plug-in reads a picture's companions beside a picture opened
// by name: each file opened, its size taken, read whole and closed. Timed for the two
// companions, and for the picture file itself.
void readFilesBench(benchmark::State& state, std::vector<std::string> names) {
  std::vector<std::uint8_t> buffer(1 << 20);  // more than any picture or companion holds
  for (auto _ : state) {
    for (const std::string& name : names) {
      const HFILE file = _lopen(name.c_str(), OF_READ);
      const LONG size = _llseek(file, 0, FILE_END);
      _llseek(file, 0, FILE_BEGIN);
      if (file < 0 || size < 0 || size > static_cast<LONG>(buffer.size()) ||
          _lread(file, buffer.data(), static_cast<UINT>(size)) != static_cast<UINT>(size)) {
        state.SkipWithError(("cannot read " + name).c_str());
      }
      _lclose(file);
    }
  }
}

void floorBench(benchmark::State& state, const Bytes* pixels) {
  for (auto _ : state) GlobalFree(fillBlock(*pixels));
}

// The console output as usual, and the median CPU time of each benchmark kept in microseconds
// (the time of the only run when there are no repetitions).
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedCPUTime();
      } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
        medians_[name] = run.GetAdjustedCPUTime();
      }
    }
  }

  // The medians of this run, in microseconds, by benchmark name.
  const std::map<std::string, double>& medians() const { return medians_; }

  // The table of this run: a missing entry (filtered out or failed) shows as "-".
  void printRatios(const std::vector<BenchPicture>& pictures) const {
    auto median = [&](const std::string& name) {
      auto found = medians_.find(name);
      return found == medians_.end() ? 0.0 : found->second;
    };
    auto cell = [](double value, const char* format) {
      char text[32] = "-";
      if (value > 0) std::snprintf(text, sizeof text, format, value);
      return std::string(text);
    };
    const double floor = median("Floor");
    std::printf("\nMedians of CPU time in this run (microseconds; pictures/s = 1e6 / time):\n");
    std::printf("%-16s %10s %12s %10s %13s %14s\n", "picture", "decode", "pictures/s", "libpng",
                "decode/floor", "libpng/decode");
    std::printf("%-16s %10s %12s\n", "floor", cell(floor, "%.1f").c_str(),
                cell(floor > 0 ? 1e6 / floor : 0, "%.0f").c_str());
    for (const BenchPicture& p : pictures) {
      const double decode = median("GetPicture/" + p.label());
      const double png = median("libpng/" + p.label());
      std::printf("%-16s %10s %12s %10s %13s %14s\n", p.label().c_str(),
                  cell(decode, "%.1f").c_str(), cell(decode > 0 ? 1e6 / decode : 0, "%.0f").c_str(),
                  cell(png, "%.1f").c_str(),
                  cell(decode > 0 && floor > 0 ? decode / floor : 0, "%.2f").c_str(),
                  cell(decode > 0 && png > 0 ? png / decode : 0, "%.1f").c_str());
    }
    // A picture decoded by name against the same picture from memory, what reading its
    // companions costs on its own, and what reading the picture file itself does.
    std::printf("\n%-16s %8s %8s %11s %11s %11s %13s\n", "by name", "decode", "memory",
                "companions", "decode/sum", "file alone", "decode/(sum+file)");
    for (const BenchPicture& p : pictures) {
      if (p.path.empty()) continue;
      const double decode = median("GetPicture/" + p.label());
      const double memory = median("GetPicture/" + inMemoryLabel(p));
      const double companions = median("companions/" + p.label());
      const double file = median("file/" + p.label());
      const double sum = memory > 0 && companions > 0 ? memory + companions : 0;
      std::printf(
          "%-16s %8s %8s %11s %11s %11s %13s\n", p.label().c_str(), cell(decode, "%.1f").c_str(),
          cell(memory, "%.1f").c_str(), cell(companions, "%.1f").c_str(),
          cell(decode > 0 && sum > 0 ? decode / sum : 0, "%.2f").c_str(),
          cell(file, "%.1f").c_str(),
          cell(decode > 0 && sum > 0 && file > 0 ? decode / (sum + file) : 0, "%.2f").c_str());
    }
  }

  // The label of the same picture decoded from memory: gra+e1/NAME is gra/NAME.
  static std::string inMemoryLabel(const BenchPicture& p) {
    return p.kind.substr(0, p.kind.find('+')) + "/" + p.name;
  }

 private:
  std::map<std::string, double> medians_;
};

// The file name a picture is exported under: its label with a dash for the slash.
std::string exportName(const BenchPicture& picture) {
  return picture.kind + "-" + picture.name;
}

void writeText(const std::string& path, const std::string& text) {
  if (host::Result r = host::writeFileAtomically(path, Bytes(text.begin(), text.end()), true); !r)
    throw std::runtime_error(path + ": " + r.reason);
}

// The pictures decoded from memory, each with the pixels it must give, and pictures.txt, one
// line per picture: its label, its file and its pixel file.
void exportPictures(const std::string& folder, const std::vector<BenchPicture>& pictures) {
  std::filesystem::create_directories(folder);
  std::string index;
  for (const BenchPicture& p : pictures) {
    if (!p.path.empty()) continue;  // decoded by name, beside its companion files
    const std::string file = p.fileName(exportName(p));
    const std::string pixels = exportName(p) + ".pixels";
    for (const auto& [name, bytes] : {std::pair{file, &p.file}, std::pair{pixels, &p.expected}}) {
      if (host::Result r = host::writeFileAtomically(folder + "/" + name, *bytes, true); !r)
        throw std::runtime_error(folder + "/" + name + ": " + r.reason);
    }
    index += p.label() + " " + file + " " + pixels + "\n";
  }
  writeText(folder + "/pictures.txt", index);
}

// native.txt: one line per benchmark of this run, its name and its median in microseconds.
void exportMedians(const std::string& folder, const std::map<std::string, double>& medians) {
  std::string text;
  for (const auto& [name, median] : medians) {
    char line[160];
    std::snprintf(line, sizeof line, "%s %.3f\n", name.c_str(), median);
    text += line;
  }
  writeText(folder + "/native.txt", text);
}

}  // namespace

namespace {

// Writes every picture's file to folder as KIND_NAME.gra or .q, with the companions of those
// decoded by name beside them, for the WebAssembly benchmark to time the same files
// (scripts/bench-web.sh). Answers an error message, empty on success.
std::string writePictures(const std::vector<BenchPicture>& pictures, const std::string& folder) {
  for (const BenchPicture& p : pictures) {
    const std::string stem = folder + "/" + p.kind + "_" + p.name;
    const std::string path = p.fileName(stem);
    if (host::Result r = host::writeFileAtomically(path, p.file, true); !r)
      return path + ": " + r.reason;
    if (p.path.empty()) continue;
    for (const std::string& from : {p.companions.palette, p.companions.fourthPlane}) {
      if (from.empty()) continue;
      Bytes bytes;
      const std::string to = stem + from.substr(from.rfind('.'));
      host::Result r = host::readFile(from, bytes);
      if (r) r = host::writeFileAtomically(to, bytes, true);
      if (!r) return to + ": " + r.reason;
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  platform::fillNewBlocks(false);
  // decode_bench --write-pictures FOLDER: the pictures' files, nothing timed.
  if (argc == 3 && std::string(argv[1]) == "--write-pictures") {
    try {
      BenchPictures pictures(BENCH_SAMPLES_FOLDER);
      if (std::string e = writePictures(pictures.all(), argv[2]); !e.empty()) {
        std::fprintf(stderr, "decode_bench: %s\n", e.c_str());
        return 1;
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "decode_bench: %s\n", error.what());
      return 1;
    }
    return 0;
  }
  // Defaults for a shared, noisy machine: repetitions, reported as mean, median and spread.
  // Flags given on the command line come later and win.
  std::vector<std::string> defaults = {"--benchmark_repetitions=9",
                                       "--benchmark_report_aggregates_only=true",
                                       "--benchmark_min_time=0.1"};
  std::vector<char*> args{argv[0]};
  for (std::string& flag : defaults) args.push_back(flag.data());
  std::string exportFolder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--export=", 0) == 0) {
      exportFolder = arg.substr(9);
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  std::unique_ptr<BenchPictures> pictures;
  try {
    pictures = std::make_unique<BenchPictures>(BENCH_SAMPLES_FOLDER);
    if (!exportFolder.empty()) exportPictures(exportFolder, pictures->all());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "decode_bench: %s\n", error.what());
    return 1;
  }

  const auto& all = pictures->all();
  benchmark::RegisterBenchmark("Floor", floorBench, &all.front().expected)
      ->Unit(benchmark::kMicrosecond);
  for (const BenchPicture& p : all) {
    benchmark::RegisterBenchmark(("GetPicture/" + p.label()).c_str(), getPictureBench, &p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("libpng/" + p.label()).c_str(), libpngBench, &p)
        ->Unit(benchmark::kMicrosecond);
    if (!p.path.empty()) {
      benchmark::RegisterBenchmark(("companions/" + p.label()).c_str(), readFilesBench,
                                   std::vector{p.companions.palette, p.companions.fourthPlane})
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("file/" + p.label()).c_str(), readFilesBench,
                                   std::vector{p.path})
          ->Unit(benchmark::kMicrosecond);
    }
  }

  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(all);
  benchmark::Shutdown();
  if (!exportFolder.empty()) {
    try {
      exportMedians(exportFolder, reporter.medians());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "decode_bench: %s\n", error.what());
      return 1;
    }
    std::printf("\nThe pictures and these medians are in %s, for dll_bench.exe.\n",
                exportFolder.c_str());
  }
  return 0;
}

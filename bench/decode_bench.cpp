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
//   Floor                 allocating, locking and zero-filling a 128000-byte movable block and
//                         writing one pass of pixels over it, then freeing it: what any decoder
//                         of this output must do.
// All sides are checked to give the same pixels before anything is timed. The last lines are
// a table from the medians of CPU time of this run: pictures per second and the ratios
// decode/floor and libpng/decode.
//
//   decode_bench --write-pictures FOLDER         writes the pictures' files instead (for the
//                                                WebAssembly side of scripts/bench-web.sh)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
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
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

namespace {

// Writes every picture's file to folder as KIND_NAME.gra or .q, with the companions of those
// decoded by name beside them, for the WebAssembly benchmark to time the same files
// (scripts/bench-web.sh). Answers an error message, empty on success.
std::string writePictures(const std::vector<BenchPicture>& pictures, const std::string& folder) {
  for (const BenchPicture& p : pictures) {
    const bool gra = p.kind.rfind("gra", 0) == 0;
    const std::string stem = folder + "/" + p.kind + "_" + p.name;
    const std::string path = stem + (gra ? ".gra" : ".q");
    if (std::string e = host::writeFileAtomically(path, p.file, true); !e.empty())
      return path + ": " + e;
    if (p.path.empty()) continue;
    const host::Companions companions = host::companionsOf(host::PictureFormat::Gra, p.path);
    for (const std::string& from : {companions.palette, companions.fourthPlane}) {
      if (from.empty()) continue;
      Bytes bytes;
      const std::string to = stem + from.substr(from.rfind('.'));
      std::string e = host::readFile(from, bytes);
      if (e.empty()) e = host::writeFileAtomically(to, bytes, true);
      if (!e.empty()) return to + ": " + e;
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
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
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  std::unique_ptr<BenchPictures> pictures;
  try {
    pictures = std::make_unique<BenchPictures>(BENCH_SAMPLES_FOLDER);
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
  }

  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(all);
  benchmark::Shutdown();
  return 0;
}

// planeconv: views, converts and writes GRA and Q pictures through the two import plug-ins.
//
//   planeconv info FILE...
//   planeconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [-j N] [--force]
//   planeconv encode IN.png OUT.gra|OUT.q [--colors 8|16] [--comment TEXT] [--force]
//
// Pictures are read only through the plug-ins' exports, chosen as a host chooses them
// (IsSupported on the file's name and first bytes) unless --as names one.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "planes_version.h"
#include "tools/planeconv/commands.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr const char* kVersion = "planeconv " PLANES_VERSION;

constexpr const char* kUsage =
    "usage: planeconv COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Views, converts and writes GRA (.gra) and Q (.q) pictures.\n"
    "\n"
    "commands:\n"
    "  info FILE...              format, size, colours, comment and companion files\n"
    "  convert FILE...           write each picture as PNG (or BMP)\n"
    "  encode IN.png OUT         write a PNG as a GRA or Q picture\n"
    "\n"
    "Run 'planeconv COMMAND --help' for a command's options; 'planeconv --version'.\n";

constexpr const char* kCommonOptions =
    "  --as gra|q       read every file as this format, whatever its name\n"
#ifdef _WIN32
    "  --plugins DIR    load gradec.spi and qdec.spi from DIR (default: beside planeconv)\n"
#endif
    "  -h, --help       show this help\n";

constexpr const char* kInfoUsage =
    "usage: planeconv info [--as gra|q] FILE...\n"
    "\n"
    "Shows each picture's format, size and colours, the comment of a Q picture, and which\n"
    "companion files (.rgb palette, .e1 fourth plane) a GRA picture uses.\n"
    "\n"
    "options:\n";

constexpr const char* kConvertUsage =
    "usage: planeconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [-j N] [--force]\n"
    "\n"
    "Writes each picture as a 4-bit palette PNG (nothing is lost) or as a BMP holding the\n"
    "bitmap the plug-in hands over. Output goes beside each input with the new extension,\n"
    "into DIR with -d, or to OUT with -o (one input only). Existing files are kept unless\n"
    "--force is given; a failed conversion leaves no file behind.\n"
    "\n"
    "options:\n"
    "  -o OUT           output file (one input only)\n"
    "  -d DIR           output folder\n"
    "  --format FMT     png (default) or bmp\n"
    "  -j N             convert on N threads (default: the number of cores)\n"
    "  --force          replace existing output files\n";

constexpr const char* kEncodeUsage =
    "usage: planeconv encode IN.png OUT.gra|OUT.q [--colors 8|16] [--comment TEXT] [--force]\n"
    "\n"
    "Writes a 640 x 400 PNG of at most 16 colours (8 with --colors 8), after reduction to 4\n"
    "bits per channel, as a GRA or Q picture, chosen by OUT's extension. A GRA picture's\n"
    "palette goes into OUT.rgb and colours 8 to 15 into the fourth plane OUT.e1.\n"
    "\n"
    "options:\n"
    "  --colors N       8 or 16 (default 16)\n"
    "  --comment TEXT   the comment of a Q picture (up to 32 bytes)\n"
    "  --force          replace existing output files\n";

bool isHelp(const std::string& a) {
  return a == "-h" || a == "--help";
}

// Parses the options every command shares and the command's own; answers false with a message
// on a usage error.
bool parse(const std::vector<std::string>& args, Options& options, std::string& error) {
  auto value = [&](std::size_t& i, std::string& into) {
    if (i + 1 >= args.size()) {
      error = args[i] + " needs a value";
      return false;
    }
    into = args[++i];
    return true;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    if (isHelp(a)) {
      options.help = true;
    } else if (a == "--as") {
      if (!value(i, options.forcedFormat)) return false;
      if (options.forcedFormat != "gra" && options.forcedFormat != "q") {
        error = "--as takes gra or q, not '" + options.forcedFormat + "'";
        return false;
      }
    } else if (a == "--plugins") {
      if (!value(i, options.pluginFolder)) return false;
    } else if (a == "-o") {
      if (!value(i, options.output)) return false;
    } else if (a == "-d") {
      if (!value(i, options.outputFolder)) return false;
    } else if (a == "--format") {
      if (!value(i, options.format)) return false;
      if (options.format != "png" && options.format != "bmp") {
        error = "--format takes png or bmp, not '" + options.format + "'";
        return false;
      }
    } else if (a == "-j") {
      if (!value(i, v)) return false;
      options.threads = std::atoi(v.c_str());
      if (options.threads < 1) {
        error = "-j takes a number of threads of 1 or more, not '" + v + "'";
        return false;
      }
    } else if (a == "--force") {
      options.force = true;
    } else if (a == "--colors" || a == "--colours") {
      if (!value(i, v)) return false;
      options.colors = std::atoi(v.c_str());
      if (options.colors != 8 && options.colors != 16) {
        error = "--colors takes 8 or 16, not '" + v + "'";
        return false;
      }
    } else if (a == "--comment") {
      if (!value(i, options.comment)) return false;
      options.hasComment = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + a;
      return false;
    } else {
      options.files.push_back(a);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || isHelp(args[0])) {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    std::puts(kVersion);
    return 0;
  }
  const std::string command = args[0];
  const char* usage = command == "info"      ? kInfoUsage
                      : command == "convert" ? kConvertUsage
                      : command == "encode"  ? kEncodeUsage
                                             : nullptr;
  if (!usage) {
    std::fprintf(stderr, "planeconv: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return 2;
  }
  Options options;
  std::string error;
  if (!parse(std::vector<std::string>(args.begin() + 1, args.end()), options, error)) {
    std::fprintf(stderr, "planeconv %s: %s\n(see 'planeconv %s --help')\n", command.c_str(),
                 error.c_str(), command.c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s%s", usage,
                command == "encode" ? "  -h, --help       show this help\n" : kCommonOptions);
    return 0;
  }
  options.terminal = isatty(fileno(stderr)) != 0;
  if (command == "info") return runInfo(options);
  if (command == "convert") return runConvert(options);
  return runEncode(options);
}

// SPDX-License-Identifier: MIT
// planeconv: views, converts and writes GRA and Q pictures through the two import plug-ins.
//
//   planeconv info [-r] FILE...
//   planeconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [-j N] [--force] [-r]
//   planeconv encode IN.png OUT.gra|OUT.q [--colors 8|16] [--nearest] [--comment TEXT] [--force]
//
// Pictures are read only through the plug-ins' exports, chosen as a host chooses them
// (IsSupported on the file's name and first bytes) unless --as names one, and then only when
// that plug-in's own checks take them. Files are read and written through the host library:
// no more of a file is read than its format can describe, and outputs are written whole or
// not at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/console.h"
#include "host/plugin_set.h"
#include "host/wildcards.h"
#include "planes_version.h"
#include "tools/planeconv/commands.h"
#include "tools/planeconv/options.h"

#ifdef _WIN32
#include "host/file_names.h"
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

constexpr const char* kInfoUsage =
    "usage: planeconv info [--as gra|q] [-r] FILE...\n"
    "\n"
    "Shows each picture's format, size and colours, the comment of a Q picture, and which\n"
    "companion files (.rgb palette, .e1 fourth plane) a GRA picture uses. FILE - reads\n"
    "standard input.\n"
    "\n"
    "options:\n"
    "  --as gra|q         read every file as this format, whatever its name (the format's own\n"
    "                     checks still apply)\n"
    "  -r, --recursive    the pictures inside folders given\n"
#ifdef _WIN32
    "  --plugins DIR      load gradec.spi and qdec.spi from DIR (default: beside planeconv)\n"
#endif
    "  -h, --help         show this help\n";

constexpr const char* kConvertUsage =
    "usage: planeconv convert FILE... [-o OUT | -d DIR] [--format png|bmp] [-j N] [--force]\n"
    "\n"
    "Writes each picture as a 4-bit palette PNG (nothing is lost) or as a BMP holding the\n"
    "bitmap the plug-in hands over, in the format -o's name ends in (.png, .bmp) unless\n"
    "--format says. Output goes beside each input with the new extension, into DIR with -d\n"
    "(folders are created when a file is written), or to OUT with -o (one input; - is\n"
    "standard output). FILE - reads standard input. Existing files are left alone (and\n"
    "counted) unless --force is given; only regular files are ever replaced, never an input\n"
    "or its companion files; a failed or interrupted conversion leaves no file behind.\n"
    "\n"
    "options:\n"
    "  -o OUT             output file (one input only); - for standard output\n"
    "  -d DIR             output folder; with -r the folders below are mirrored in it\n"
    "  --format FMT       png or bmp (default: from -o's name, else png)\n"
    "  -j, --jobs N       convert on N threads, 1 to 1024 (default and most used: the\n"
    "                     number of processors)\n"
    "  --force            replace existing output files\n"
    "  --keep-extension   name outputs after the whole input name: card.gra -> card.gra.png\n"
    "  -r, --recursive    convert the pictures inside folders given\n"
    "  --as gra|q         read every file as this format, whatever its name (the format's own\n"
    "                     checks still apply)\n"
    "  -q, --quiet        print nothing but errors\n"
#ifdef _WIN32
    "  --plugins DIR      load gradec.spi and qdec.spi from DIR (default: beside planeconv)\n"
#endif
    "  -h, --help         show this help\n";

constexpr const char* kEncodeUsage =
    "usage: planeconv encode IN.png OUT.gra|OUT.q [--colors 8|16] [--nearest] [--comment TEXT]\n"
    "                        [--force]\n"
    "\n"
    "Writes a 640 x 400 PNG of at most 16 colours (8 with --colors 8), after reduction to 4\n"
    "bits per channel, as a GRA or Q picture, chosen by OUT's extension. A GRA picture's\n"
    "palette goes into OUT.rgb and colours 8 to 15 into the fourth plane OUT.e1; the files are\n"
    "written together or not at all, and an 8-colour GRA picture's old OUT.e1 is removed\n"
    "(with --force). A palette PNG keeps its colours' order where the format allows.\n"
    "\n"
    "options:\n"
    "  --colors N         8 or 16 (default 16); an 8-colour Q picture can use only its 8 fixed\n"
    "                     colours, which a refusal lists\n"
    "  --nearest          with --colors 8 and a Q picture: map every other colour to the\n"
    "                     nearest fixed one, and say how many pixels changed\n"
    "  --comment TEXT     the comment of a Q picture: written in the Japanese code page 932\n"
    "                     (Shift_JIS), up to 32 bytes (16 Japanese characters)\n"
    "  --force            replace existing output files\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -h, --help         show this help\n";

bool isHelp(const std::string& a) {
  return a == "-h" || a == "--help";
}

// An option: its names, whether it takes a value, and the commands that take it.
struct KnownOption {
  const char* shortName;  // "-j", or nullptr
  const char* longName;   // "--jobs", or nullptr
  bool takesValue;
  const char* commands;  // "ice": info, convert, encode
};
constexpr KnownOption kOptions[] = {
    {"-h", "--help", false, "ice"},     {nullptr, "--as", true, "ic"},
    {nullptr, "--plugins", true, "ic"}, {"-r", "--recursive", false, "ic"},
    {"-o", nullptr, true, "c"},         {"-d", nullptr, true, "c"},
    {nullptr, "--format", true, "c"},   {"-j", "--jobs", true, "c"},
    {nullptr, "--force", false, "ce"},  {nullptr, "--keep-extension", false, "c"},
    {"-q", "--quiet", false, "ce"},     {nullptr, "--colors", true, "e"},
    {nullptr, "--colours", true, "e"},  {nullptr, "--comment", true, "e"},
    {nullptr, "--nearest", false, "e"},
};

const KnownOption* findOption(const std::string& name) {
  for (const KnownOption& known : kOptions) {
    if ((known.shortName && name == known.shortName) || (known.longName && name == known.longName))
      return &known;
  }
  return nullptr;
}

// A whole number of threads, 1 to 1024, digits only.
bool parseJobs(const std::string& text, int& jobs) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  jobs = std::stoi(text);
  return jobs >= 1 && jobs <= 1024;
}

// Parses the command's options; answers false with a message on a usage error. "--" ends the
// options; "-" alone is a file (standard input).
bool parse(char command, const std::vector<std::string>& args, Options& options,
           std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      options.files.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value, --name value, -xvalue, -x value
    std::string name = a, value;
    bool attached = false;
    if (a[1] == '-') {
      if (const std::size_t equals = a.find('='); equals != std::string::npos) {
        name = a.substr(0, equals);
        value = a.substr(equals + 1);
        attached = true;
      }
    } else if (a.size() > 2) {
      name = a.substr(0, 2);
      value = a.substr(2);
      attached = true;
    }
    const KnownOption* known = findOption(name);
    if (!known || (attached && !known->takesValue && a[1] != '-')) {
      error = "unknown option " + a;
      return false;
    }
    if (!std::strchr(known->commands, command)) {
      error = "this command takes no " + name + " option";
      return false;
    }
    if (!known->takesValue && attached) {
      error = name + " takes no value";
      return false;
    }
    if (known->takesValue && !attached) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    const std::string key = known->longName ? known->longName : known->shortName;
    if (key == "--help") {
      options.help = true;
    } else if (key == "--as") {
      std::string names;  // "gra or q"
      bool named = false;
      for (const FormatDescription* format : host::formatDescriptions()) {
        names += (names.empty() ? "" : " or ") + std::string(format->name);
        named = named || value == format->name;
      }
      if (!named) {
        error = "--as takes " + names + ", not '" + value + "'";
        return false;
      }
      options.forcedFormat = value;
    } else if (key == "--plugins") {
      options.pluginFolder = value;
    } else if (key == "--recursive") {
      options.recursive = true;
    } else if (key == "-o") {
      if (value.empty()) {
        error = "-o needs a file name (- for standard output)";
        return false;
      }
      options.output = value;
    } else if (key == "-d") {
      if (value.empty()) {
        error = "-d needs a folder name";
        return false;
      }
      options.outputFolder = value;
    } else if (key == "--format") {
      if (value != "png" && value != "bmp") {
        error = "--format takes png or bmp, not '" + value + "'";
        return false;
      }
      options.format = value;
    } else if (key == "--jobs") {
      if (!parseJobs(value, options.threads)) {
        error = name + " takes a whole number of threads from 1 to 1024, not '" + value + "'";
        return false;
      }
    } else if (key == "--force") {
      options.force = true;
    } else if (key == "--keep-extension") {
      options.keepExtension = true;
    } else if (key == "--quiet") {
      options.quiet = true;
    } else if (key == "--colors" || key == "--colours") {
      if (value != "8" && value != "16") {
        error = name + " takes 8 or 16, not '" + value + "'";
        return false;
      }
      options.colors = value == "8" ? 8 : 16;
    } else if (key == "--nearest") {
      options.nearest = true;
    } else if (key == "--comment") {
      options.comment = value;
      options.hasComment = true;
    }
  }
  return true;
}

bool expandWildcards(Options& options);

int run(const std::vector<std::string>& args) {
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
    std::fprintf(stderr, "planeconv: unknown command '%s'\n\n%s", shown(command).c_str(), kUsage);
    return 2;
  }
  Options options;
  std::string error;
  if (!parse(command[0], std::vector<std::string>(args.begin() + 1, args.end()), options, error)) {
    std::fprintf(stderr, "planeconv %s: %s\n(see 'planeconv %s --help')\n", command.c_str(),
                 shown(error).c_str(), command.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(usage, stdout);
    return 0;
  }
  options.terminal = host::isTerminal(2);
  options.outputTerminal = host::isTerminal(1);
  if (command == "encode") return runEncode(options);
  // Windows' shell hands wildcards over as typed: they are expanded here, and a pattern that
  // matches nothing is an error of its own (the other files are still worked on).
  const bool unmatched = expandWildcards(options);
  if (unmatched && options.files.empty()) return 1;
  const int status = command == "info" ? runInfo(options) : runConvert(options);
  return unmatched && status == 0 ? 1 : status;
}

// Replaces each file argument that holds wildcards by the names it matches (Windows only: a
// POSIX shell has expanded them already, and there "*" may be part of a name). Answers whether
// any pattern matched nothing, each said.
bool expandWildcards([[maybe_unused]] Options& options) {
  bool unmatched = false;
#ifdef _WIN32
  std::vector<std::string> files;
  for (const std::string& file : options.files) {
    if (!host::hasWildcards(file)) {
      files.push_back(file);
      continue;
    }
    const std::vector<std::string> matched = host::expandWildcards(file);
    if (matched.empty()) {
      std::fprintf(stderr, "%s: no file matches this pattern\n", shown(file).c_str());
      unmatched = true;
    }
    files.insert(files.end(), matched.begin(), matched.end());
  }
  options.files = std::move(files);
#endif
  return unmatched;
}

int start(const std::vector<std::string>& args) {
  host::ConsoleText console;
  // No input, however odd, may end the program by an uncaught exception.
  try {
    return run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "planeconv: failed (%s)\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "planeconv: failed\n");
  }
  return 1;
}

}  // namespace

#ifdef _WIN32
// The arguments in UTF-16, as Windows holds them, so that any name the file system allows
// arrives whole; the host library takes them as UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(host::wideToUtf8(argv[i]));
  return start(args);
}
#else
int main(int argc, char** argv) {
  return start(std::vector<std::string>(argv + 1, argv + argc));
}
#endif

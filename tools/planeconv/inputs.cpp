// SPDX-License-Identifier: MIT
#include "tools/planeconv/inputs.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "host/companions.h"
#include "host/file_names.h"
#include "host/wildcards.h"

namespace fs = std::filesystem;

namespace {

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(host::pathOf(path), error);
}

// The pictures below folder (by the plug-ins' extensions), in byte order of their paths. The
// tree mirrored under -d starts with the folder's own name, as a recursive copy makes it.
void addFolder(const std::string& folder, const host::PluginSet& plugins, InputList& list) {
  fs::path top = host::pathOf(folder).lexically_normal();
  if (!top.has_filename()) top = top.parent_path();
  const fs::path name = top.filename();
  const fs::path mirrored = name == "." || name == ".." ? fs::path() : name;

  std::vector<std::string> found;
  std::error_code error;
  fs::recursive_directory_iterator it(host::pathOf(folder),
                                      fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code kindError;
    if (!it->is_regular_file(kindError)) continue;
    if (!plugins.byFileName(host::nameOfPath(it->path().filename()))) continue;
    found.push_back(host::nameOfPath(it->path()));
  }
  if (error) {
    list.inputs.push_back({folder, "", "cannot read the folder (" + error.message() + ")", "", {}});
    return;
  }
  if (found.empty()) {
    list.notes.push_back(shown(folder) + ": no GRA or Q pictures inside");
    return;
  }
  std::sort(found.begin(), found.end());
  for (const std::string& path : found) {
    const fs::path below =
        mirrored / host::pathOf(path).lexically_relative(host::pathOf(folder)).parent_path();
    list.inputs.push_back({path, host::nameOfPath(below.lexically_normal()), "", "", {}});
  }
}

// Whether two output names are one file's: the same absolute path, letter case aside where the
// file system ignores it.
std::string outputKey(const std::string& path) {
  std::error_code error;
  const std::string key =
      host::nameOfPath(fs::absolute(host::pathOf(path), error).lexically_normal());
#ifdef _WIN32
  return host::foldCase(key);
#else
  return key;
#endif
}

std::string collision(const Options& options, const std::string& format, const Input& first,
                      const Input& second) {
  std::string message = shown(first.path) + " and " + shown(second.path) +
                        " would both be written to " + shown(second.output);
  const fs::path a = host::pathOf(first.path), b = host::pathOf(second.path);
  if (!options.keepExtension && a.filename() != b.filename()) {
    message += " (--keep-extension names them " + shown(host::nameOfPath(a.filename())) + "." +
               format + " and " + shown(host::nameOfPath(b.filename())) + "." + format + ")";
  } else {
    message += " (convert them into separate folders)";
  }
  return message;
}

}  // namespace

InputList listInputs(const Options& options, const host::PluginSet& plugins) {
  InputList list;
  for (const std::string& argument : options.files) {
    if (argument == "-") {
      list.inputs.push_back({argument, "", "", "", {}});
    } else if (isFolder(argument)) {
      if (options.recursive) {
        addFolder(argument, plugins, list);
      } else {
        list.inputs.push_back(
            {argument, "", "is a folder (use -r to read the pictures inside)", "", {}});
      }
    } else {
      list.inputs.push_back({argument, "", "", "", {}});
    }
  }
  for (Input& input : list.inputs) {
    if (input.path != "-" && input.error.empty()) input.id = host::fileIdOf(input.path);
  }

  std::vector<Input> kept;
  for (const Input& input : list.inputs) {
    // A file given twice is taken once.
    const bool repeated = input.id.exists && std::any_of(kept.begin(), kept.end(),
                                                         [&](auto& k) { return k.id == input.id; });
    if (repeated) continue;
    // A companion file is read with its picture; without --as it is no input of its own.
    if (options.forcedFormat.empty() && input.id.exists) {
      const host::CompanionOwner owner = host::ownerOfCompanion(input.path);
      if (!owner.picture.empty()) {
        const host::FileId picture = host::fileIdOf(owner.picture);
        const bool pictureIsInput = std::any_of(list.inputs.begin(), list.inputs.end(),
                                                [&](auto& other) { return other.id == picture; });
        if (!pictureIsInput) {
          list.notes.push_back(shown(input.path) + ": the " + owner.role + " of " +
                               shown(owner.picture) + ", read with it; not a picture of its own");
        }
        continue;
      }
    }
    kept.push_back(input);
  }
  list.inputs = std::move(kept);
  return list;
}

std::string nameOutputs(const Options& options, const host::PluginSet& plugins,
                        const std::string& format, InputList& list) {
  for (Input& input : list.inputs) {
    if (!input.error.empty()) continue;
    if (!options.output.empty()) {
      input.output = options.output;
      continue;
    }
    const fs::path path = host::pathOf(input.path);
    const std::string name = host::nameOfPath(path.filename());
    const std::string base = options.keepExtension ? name : host::nameOfPath(path.stem());
    const fs::path folder = options.outputFolder.empty()
                                ? path.parent_path()
                                : host::pathOf(options.outputFolder) / host::pathOf(input.below);
    input.output =
        host::nameOfPath((folder / host::pathOf(base + "." + format)).lexically_normal());
  }

  // No two inputs to one output: by name, and by the file an existing name leads to.
  std::map<std::string, const Input*> byName;
  std::vector<std::pair<host::FileId, const Input*>> byFile;
  for (const Input& input : list.inputs) {
    if (input.output.empty() || input.output == "-") continue;
    const auto [at, added] = byName.emplace(outputKey(input.output), &input);
    if (!added) return collision(options, format, *at->second, input);
    const host::FileId id = host::fileIdOf(input.output);
    if (!id.exists) continue;
    for (const auto& [other, owner] : byFile) {
      if (other == id) return collision(options, format, *owner, input);
    }
    byFile.emplace_back(id, &input);
  }

  // No output over an input or a file an input's plug-in reads beside it.
  struct Protected {
    host::FileId id;
    std::string what;
  };
  std::vector<Protected> inputs;
  for (const Input& input : list.inputs) {
    if (!input.id.exists) continue;
    inputs.push_back({input.id, "the input " + shown(input.path)});
    const std::string name = host::nameOfPath(host::pathOf(input.path).filename());
    const host::Plugin* plugin = options.forcedFormat.empty()
                                     ? plugins.byFileName(name)
                                     : plugins.byName(options.forcedFormat);
    if (!plugin) continue;
    for (const std::string& companion : host::companionFiles(plugin->format, input.path))
      inputs.push_back({host::fileIdOf(companion), "a companion file of " + shown(input.path)});
  }
  for (const Input& input : list.inputs) {
    if (input.output.empty() || input.output == "-") continue;
    const host::FileId id = host::fileIdOf(input.output);
    if (!id.exists) continue;
    for (const Protected& p : inputs) {
      if (p.id == id) {
        return shown(input.output) + ": is " + p.what +
               "; planeconv never writes over its inputs, even with --force";
      }
    }
  }
  return "";
}

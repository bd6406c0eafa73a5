// SPDX-License-Identifier: MIT
#include "tools/planeconv/inputs.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "host/companions.h"

namespace fs = std::filesystem;

namespace {

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// Walks folder and the folders below it (links to folders are not followed), adding the path
// of every regular file whose name a plug-in takes to found, and every link by such a name
// that leads to nothing to dangling. A folder that cannot be read is told with its own path
// and cause, and the walk goes on with the rest; one that has vanished meanwhile (a process's
// folder in /proc) is passed over.
void walkFolder(const fs::path& folder, const host::PluginSet& plugins,
                std::vector<std::string>& found, std::vector<std::string>& dangling,
                std::vector<std::string>& problems) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  const auto unreadable = [&] {
    if (error != std::errc::no_such_file_or_directory)
      problems.push_back(shown(folder.string()) + ": cannot read the folder (" + error.message() +
                         ")");
  };
  if (error) return unreadable();
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    std::error_code kindError;
    const fs::file_status own = it->symlink_status(kindError);
    if (kindError) continue;  // gone since the folder was listed
    if (fs::is_directory(own)) {
      walkFolder(path, plugins, found, dangling, problems);
      continue;
    }
    if (!plugins.byFileName(path.filename().string())) continue;
    const fs::file_status followed = fs::status(path, kindError);
    if (fs::is_symlink(own) && followed.type() == fs::file_type::not_found) {
      dangling.push_back(path.string());
    } else if (fs::is_regular_file(followed)) {
      found.push_back(path.string());
    }
  }
  if (error) unreadable();
}

// The pictures below folder (by the plug-ins' extensions), in byte order of their paths. The
// tree mirrored under -d starts with the folder's own name, as a recursive copy makes it.
void addFolder(const std::string& folder, const host::PluginSet& plugins, InputList& list) {
  fs::path top = fs::path(folder).lexically_normal();
  if (!top.has_filename()) top = top.parent_path();
  const fs::path name = top.filename();
  const fs::path mirrored = name == "." || name == ".." ? fs::path() : name;

  std::vector<std::string> found, dangling;
  walkFolder(folder, plugins, found, dangling, list.problems);
  if (found.empty() && dangling.empty()) {
    list.notes.push_back(shown(folder) + ": no GRA or Q pictures inside");
    return;
  }
  std::vector<std::pair<std::string, std::string>> pictures;  // path, error
  for (const std::string& path : found) pictures.emplace_back(path, "");
  for (const std::string& path : dangling) {
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    pictures.emplace_back(path,
                          "is a link to " + shown(target.string()) + ", which does not exist");
  }
  std::sort(pictures.begin(), pictures.end());
  for (const auto& [path, error] : pictures) {
    const fs::path below = mirrored / fs::path(path).lexically_relative(folder).parent_path();
    list.inputs.push_back({path, below.lexically_normal().string(), error, "", {}});
  }
}

// Whether two output names are one file's: the same absolute path, letter case aside where the
// file system ignores it.
std::string outputKey(const std::string& path) {
  std::error_code error;
  std::string key = fs::absolute(path, error).lexically_normal().string();
#ifdef _WIN32
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
  return key;
}

std::string collision(const Options& options, const std::string& format, const Input& first,
                      const Input& second) {
  std::string message = shown(first.path) + " and " + shown(second.path) +
                        " would both be written to " + shown(second.output);
  const fs::path a(first.path), b(second.path);
  if (!options.keepExtension && a.filename() != b.filename()) {
    message += " (--keep-extension names them " + shown(a.filename().string()) + "." + format +
               " and " + shown(b.filename().string()) + "." + format + ")";
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
        list.problems.push_back(shown(argument) + ": is a folder; give -r for the pictures inside");
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
    const fs::path path(input.path);
    const std::string name = path.filename().string();
    const std::string base = options.keepExtension ? name : path.stem().string();
    const fs::path folder = options.outputFolder.empty()
                                ? path.parent_path()
                                : fs::path(options.outputFolder) / input.below;
    input.output = (folder / (base + "." + format)).lexically_normal().string();
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
    const std::string name = fs::path(input.path).filename().string();
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

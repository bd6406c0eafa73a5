// SPDX-License-Identifier: MIT
#include "tools/planeconv/inputs.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "host/companions.h"
#include "host/file_names.h"
#include "host/wildcards.h"

namespace fs = std::filesystem;

namespace {

struct FileIdHash {
  std::size_t operator()(const host::FileId& id) const {
    return std::hash<std::uint64_t>()(id.file * 31 + id.device);
  }
};

void tell(const StepProgress& progress, const char* step, std::size_t done, std::size_t total) {
  if (progress) progress(step, done, total);
}

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(host::pathOf(path), error);
}

// Walks folder and the folders below it (links to folders are not followed), adding the path
// of every regular file whose name a plug-in takes to found, and every link by such a name
// that leads to nothing to dangling. A folder that cannot be read is told with its own path
// and cause, and the walk goes on with the rest; one that has vanished meanwhile (a process's
// folder in /proc) is passed over.
void walkFolder(const fs::path& folder, const host::PluginSet& plugins,
                std::vector<std::string>& found, std::vector<std::string>& dangling,
                std::vector<std::string>& problems, const StepProgress& progress) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  const auto unreadable = [&] {
    if (error != std::errc::no_such_file_or_directory)
      problems.push_back(shown(host::nameOfPath(folder)) + ": cannot read the folder (" +
                         error.message() + ")");
  };
  if (error) return unreadable();
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    std::error_code kindError;
    const fs::file_status own = it->symlink_status(kindError);
    if (kindError) continue;  // gone since the folder was listed
    if (fs::is_directory(own)) {
      walkFolder(path, plugins, found, dangling, problems, progress);
      continue;
    }
    if (!plugins.byFileName(host::nameOfPath(path.filename()))) continue;
    const fs::file_status followed = fs::status(path, kindError);
    if (fs::is_symlink(own) && followed.type() == fs::file_type::not_found) {
      dangling.push_back(host::nameOfPath(path));
    } else if (fs::is_regular_file(followed)) {
      found.push_back(host::nameOfPath(path));
      tell(progress, "finding pictures", found.size(), 0);
    }
  }
  if (error) unreadable();
}

// The pictures below folder (by the plug-ins' extensions), in byte order of their paths. The
// tree mirrored under -d starts with the folder's own name, as a recursive copy makes it.
void addFolder(const std::string& folder, const host::PluginSet& plugins, InputList& list,
               const StepProgress& progress) {
  fs::path top = host::pathOf(folder).lexically_normal();
  if (!top.has_filename()) top = top.parent_path();
  const fs::path name = top.filename();
  const fs::path mirrored = name == "." || name == ".." ? fs::path() : name;

  std::vector<std::string> found, dangling;
  walkFolder(host::pathOf(folder), plugins, found, dangling, list.problems, progress);
  if (found.empty() && dangling.empty()) {
    list.notes.push_back(shown(folder) + ": no GRA or Q pictures inside");
    return;
  }
  std::vector<std::pair<std::string, std::string>> pictures;  // path, error
  for (const std::string& path : found) pictures.emplace_back(path, "");
  for (const std::string& path : dangling) {
    std::error_code error;
    const fs::path target = fs::read_symlink(host::pathOf(path), error);
    pictures.emplace_back(
        path, "is a link to " + shown(host::nameOfPath(target)) + ", which does not exist");
  }
  std::sort(pictures.begin(), pictures.end());
  for (const auto& [path, error] : pictures) {
    const fs::path below =
        mirrored / host::pathOf(path).lexically_relative(host::pathOf(folder)).parent_path();
    list.inputs.push_back({path, host::nameOfPath(below.lexically_normal()), error, "", {}});
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

InputList listInputs(const Options& options, const host::PluginSet& plugins,
                     const StepProgress& progress) {
  InputList list;
  tell(progress, "finding pictures", 0, 0);
  for (const std::string& argument : options.files) {
    if (argument == "-") {
      list.inputs.push_back({argument, "", "", "", {}});
    } else if (isFolder(argument)) {
      if (options.recursive) {
        addFolder(argument, plugins, list, progress);
      } else {
        list.problems.push_back(shown(argument) + ": is a folder; give -r for the pictures inside");
      }
    } else {
      list.inputs.push_back({argument, "", "", "", {}});
    }
  }
  std::unordered_set<host::FileId, FileIdHash> inputIds;
  for (std::size_t i = 0; i < list.inputs.size(); ++i) {
    Input& input = list.inputs[i];
    if (input.path != "-" && input.error.empty()) input.id = host::fileIdOf(input.path);
    if (input.id.exists) inputIds.insert(input.id);
    tell(progress, "reading the list of pictures", i + 1, list.inputs.size());
  }

  std::vector<Input> kept;
  std::unordered_set<host::FileId, FileIdHash> keptIds;
  for (const Input& input : list.inputs) {
    // A file given twice is taken once.
    if (input.id.exists && !keptIds.insert(input.id).second) continue;
    // A companion file is read with its picture; without --as it is no input of its own.
    if (options.forcedFormat.empty() && input.id.exists) {
      const host::CompanionOwner owner = host::ownerOfCompanion(input.path);
      if (!owner.picture.empty()) {
        if (!inputIds.contains(host::fileIdOf(owner.picture))) {
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
                        const std::string& format, InputList& list, const StepProgress& progress) {
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
  const std::size_t count = list.inputs.size();
  std::map<std::string, const Input*> byName;
  std::unordered_map<host::FileId, const Input*, FileIdHash> byFile;
  std::vector<host::FileId> outputIds(count);
  for (std::size_t i = 0; i < count; ++i) {
    const Input& input = list.inputs[i];
    tell(progress, "naming the outputs", i + 1, count);
    if (input.output.empty() || input.output == "-") continue;
    const auto [at, added] = byName.emplace(outputKey(input.output), &input);
    if (!added) return collision(options, format, *at->second, input);
    const host::FileId id = outputIds[i] = host::fileIdOf(input.output);
    if (!id.exists) continue;
    const auto [other, first] = byFile.emplace(id, &input);
    if (!first) return collision(options, format, *other->second, input);
  }

  // No output over an input or a file an input's plug-in reads beside it (the first that a
  // file is of them, when it is several).
  std::unordered_map<host::FileId, std::string, FileIdHash> inputs;
  for (std::size_t i = 0; i < count; ++i) {
    const Input& input = list.inputs[i];
    tell(progress, "checking the companion files", i + 1, count);
    if (!input.id.exists) continue;
    inputs.emplace(input.id, "the input " + shown(input.path));
    const std::string name = host::nameOfPath(host::pathOf(input.path).filename());
    const host::Plugin* plugin = options.forcedFormat.empty()
                                     ? plugins.byFileName(name)
                                     : plugins.byName(options.forcedFormat);
    if (!plugin) continue;
    for (const std::string& companion : host::companionFiles(plugin->format, input.path))
      inputs.emplace(host::fileIdOf(companion), "a companion file of " + shown(input.path));
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!outputIds[i].exists) continue;
    if (const auto p = inputs.find(outputIds[i]); p != inputs.end()) {
      return shown(list.inputs[i].output) + ": is " + p->second +
             "; planeconv never writes over its inputs, even with --force";
    }
  }
  return "";
}

std::size_t findExistingOutputs(const Options& options, InputList& list,
                                const StepProgress& progress) {
  std::size_t existing = 0;
  const std::size_t count = list.inputs.size();
  for (std::size_t i = 0; i < count; ++i) {
    Input& input = list.inputs[i];
    tell(progress, "looking for finished outputs", i + 1, count);
    if (!input.error.empty() || input.output.empty() || input.output == "-") continue;
    host::Result r = host::outputProblem(input.output, options.force);
    if (r) continue;
    if (r.reason == host::kAlreadyExists) {
      input.outputExists = true;
      ++existing;
    } else {
      input.error = shown(input.output) + ": " + r.reason;
    }
  }
  return existing;
}

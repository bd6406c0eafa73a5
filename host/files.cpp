// SPDX-License-Identifier: MIT
// The rules for reading and writing files, written once over the system's own calls
// (file_system.h).
#include "host/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "host/file_names.h"
#include "host/file_system.h"

namespace host {

namespace {

// A failure of the file system, or an output refused.
Result fileFailure(std::string reason) {
  return {LoaderResult::OpenFailed, std::move(reason)};
}
Result interruptedWrite() {
  return {LoaderResult::Cancelled, "interrupted"};
}
// The same reason, led by the path it concerns.
Result about(const std::string& path, Result result) {
  result.reason = path + ": " + result.reason;
  return result;
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of(os::kSeparators);
  if (separator == std::string::npos) return ".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

// An output path as it will be written: where links lead, and whether a file is there.
struct Target {
  std::string path;
  bool exists = false;
  Result problem;
};

Target resolve(const std::string& path, bool overwrite) {
  static const std::string kOnlyRegular = ", not a regular file: only regular files are replaced";
  const os::Examined examined = os::examine(path);
  if (examined.error) {
    // A missing folder on the way is created or reported when the file is written.
    if (examined.error == ENOENT || examined.error == ENOTDIR) return {path, false, {}};
    return {path, false, fileFailure("cannot be examined (" + os::cause(examined.error) + ")")};
  }
  if (examined.link) {
    if (examined.linkError == ENOENT)
      return {path, true, fileFailure("is a link to nothing" + kOnlyRegular)};
    if (examined.linkError) {
      return {
          path, true,
          fileFailure("is a link that cannot be followed (" + os::cause(examined.linkError) + ")")};
    }
    if (!examined.kind.empty())
      return {path, true, fileFailure("is a link to " + examined.kind + kOnlyRegular)};
  }
  if (!examined.kind.empty())
    return {path, true, fileFailure("is " + examined.kind + kOnlyRegular)};
  const std::string real = examined.link ? examined.real : path;
  if (!overwrite) return {real, true, fileFailure(kAlreadyExists)};
  return {real, true, {}};
}

// A temporary name beside target, unique in the process; the process id keeps two runs on one
// folder apart. The name is cut so that the suffix fits in a name's 255 bytes.
std::string temporaryName(const std::string& target, const char* kind) {
  static std::atomic<unsigned> made{0};
  const std::size_t separator = target.find_last_of(os::kSeparators);
  const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const std::string name = target.substr(nameStart, 200);
  return target.substr(0, nameStart) + name + kind + std::to_string(os::processId()) + "-" +
         std::to_string(made++);
}

Result createFolders(const std::string& target) {
  const std::string folder = folderOf(target);
  std::error_code error;
  std::filesystem::create_directories(pathOf(folder), error);
  if (error)
    return fileFailure("cannot create the folder " + folder + " (" + error.message() + ")");
  return {};
}

// Creates and registers a temporary file beside target; answers its descriptor or -1 and why.
int createTemporary(const std::string& target, std::string& temporary, Result& result) {
  WritesInProgress& writes = writesInProgress();
  os::Guard guard(writes.lock);
  if (writes.signal) {
    result = interruptedWrite();
    return -1;
  }
  temporary = temporaryName(target, ".part-");
  const int descriptor = os::createNew(temporary);
  if (descriptor < 0) {
    result =
        fileFailure("cannot create a file in " + folderOf(target) + " (" + os::cause(errno) + ")");
    return -1;
  }
  writes.temporaries.push_back(temporary);
  return descriptor;
}

void dropTemporary(const std::string& temporary) {
  WritesInProgress& writes = writesInProgress();
  os::Guard guard(writes.lock);
  writes.forget(temporary);
  os::removeFile(temporary);
}

// Writes everything; answers the cause of a failure, empty on success.
std::string writeAll(int descriptor, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const auto written = os::writeSome(descriptor, data, std::min<std::size_t>(size, 1u << 20));
    if (written < 0) {
      if (errno == EINTR) continue;
      return os::cause(errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return "";
}

// Writes bytes into a new temporary file beside target, named in temporary.
Result writeTemporary(const std::string& target, const std::vector<std::uint8_t>& bytes,
                      std::string& temporary) {
  Result result;
  const int descriptor = createTemporary(target, temporary, result);
  if (descriptor < 0) return result;
  std::string error = writeAll(descriptor, bytes.data(), bytes.size());
  if (os::closeFile(descriptor) != 0 && error.empty()) error = os::cause(errno);
  if (error.empty()) return {};
  dropTemporary(temporary);
  return fileFailure("cannot write (" + error + ")");
}

}  // namespace

InputFile::~InputFile() {
  if (owned_ && descriptor_ >= 0) os::closeFile(descriptor_);
}

Result InputFile::open(const std::string& path) {
  std::string error;
  descriptor_ = os::openForReading(path, regular_, error);
  owned_ = descriptor_ >= 0;
  if (!error.empty()) return fileFailure(error);
  return {};
}

void InputFile::openStandardInput() {
  descriptor_ = 0;
  owned_ = false;
  regular_ = false;  // whatever it is, it has no name to open again
  os::useBinaryMode(0);
}

Result InputFile::readUpTo(std::size_t total, std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kStep = 1 << 16;
  while (bytes.size() < total) {
    const std::size_t had = bytes.size();
    const std::size_t step = std::min(total - had, kStep);
    bytes.resize(had + step);
    const auto got = os::readSome(descriptor_, bytes.data() + had, step);
    if (got < 0) {
      const int error = errno;
      bytes.resize(had);
      if (error == EINTR) continue;
      return fileFailure(error == EISDIR ? "is a folder"
                                         : "cannot read (" + os::cause(error) + ")");
    }
    bytes.resize(had + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  return {};
}

Result readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  InputFile file;
  if (Result r = file.open(path); !r) return r;
  return file.readUpTo(SIZE_MAX, bytes);
}

FileId fileIdOf(const std::string& path) {
  return os::fileIdOf(path);
}

Result outputProblem(const std::string& path, bool overwrite) {
  return resolve(path, overwrite).problem;
}

Result writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           bool overwrite) {
  WriteOptions options;
  options.overwrite = overwrite;
  return writeFileAtomically(path, bytes, options);
}

Result writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           const WriteOptions& options) {
  const Target target = resolve(path, options.overwrite);
  if (!target.problem) return target.problem;
  if (options.createFolders) {
    if (Result r = createFolders(target.path); !r) return r;
  }
  std::string temporary;
  if (Result r = writeTemporary(target.path, bytes, temporary); !r) return r;

  WritesInProgress& writes = writesInProgress();
  os::Guard guard(writes.lock);
  writes.forget(temporary);
  Result result = writes.signal ? interruptedWrite() : resolve(path, options.overwrite).problem;
  if (result) {
    const std::string error = os::renameFile(temporary, target.path, options.overwrite);
    if (error == kAlreadyExists) {
      result = fileFailure(error);
    } else if (!error.empty()) {
      result = fileFailure("cannot be written (" + error + ")");
    }
  }
  if (!result) {
    os::removeFile(temporary);
    return result;
  }
  if (options.onFinished) options.onFinished();
  return {};
}

bool storageFull(const Result& result) {
  if (result) return false;
  std::vector<int> full{ENOSPC};
#ifdef EDQUOT
  full.push_back(EDQUOT);
#endif
  // Every write failure's reason carries the system's words for its cause.
  for (const int error : full) {
    if (result.reason.find(os::cause(error)) != std::string::npos) return true;
  }
  return false;
}

Result writeToStandardOutput(const std::vector<std::uint8_t>& bytes) {
  os::useBinaryMode(1);
  if (std::string error = writeAll(1, bytes.data(), bytes.size()); !error.empty())
    return fileFailure("cannot write to standard output (" + error + ")");
  return {};
}

Result writeFilesTogether(const std::vector<NewFile>& files, const std::vector<std::string>& remove,
                          const WriteOptions& options) {
  struct Step {
    std::string path;       // as given, for messages
    Target target;          // where it goes
    std::string temporary;  // the new contents; empty for a removal
    std::string backup;     // the old contents while the set is renamed
    bool placed = false;
  };
  std::vector<Step> steps;
  for (const NewFile& file : files) {
    Target target = resolve(file.path, options.overwrite);
    if (!target.problem) return about(file.path, target.problem);
    steps.push_back({file.path, target, "", "", false});
  }
  for (const std::string& path : remove) {
    Target target = resolve(path, options.overwrite);
    if (!target.problem) return about(path, target.problem);
    if (target.exists) steps.push_back({path, target, "", "", false});
  }

  const auto dropAll = [&] {
    for (Step& step : steps) {
      if (!step.temporary.empty()) dropTemporary(step.temporary);
    }
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    Step& step = steps[i];
    Result result;
    if (options.createFolders) result = createFolders(step.target.path);
    if (result) result = writeTemporary(step.target.path, files[i].bytes, step.temporary);
    if (!result) {
      step.temporary.clear();
      dropAll();
      return about(step.path, result);
    }
  }

  WritesInProgress& writes = writesInProgress();
  os::Guard guard(writes.lock);
  for (Step& step : steps) {
    if (!step.temporary.empty()) writes.forget(step.temporary);
  }
  // Undoes what the renames did so far and removes the new contents.
  const auto undo = [&](Result result) {
    for (Step& step : steps) {
      if (step.placed) os::removeFile(step.target.path);
      if (!step.backup.empty()) os::renameFile(step.backup, step.target.path, true);
      if (!step.temporary.empty() && !step.placed) os::removeFile(step.temporary);
    }
    return result;
  };
  if (writes.signal) return undo(interruptedWrite());
  for (Step& step : steps) {
    const Target now = resolve(step.path, options.overwrite);
    if (!now.problem) return undo(about(step.path, now.problem));
  }
  // The old files step aside first, so that every new file's rename finds its name free and
  // any failure can put them back.
  for (Step& step : steps) {
    if (!step.target.exists) continue;
    const std::string backup = temporaryName(step.target.path, ".old-");
    if (std::string error = os::renameFile(step.target.path, backup, false); !error.empty())
      return undo(fileFailure(step.path + ": cannot be replaced (" + error + ")"));
    step.backup = backup;
  }
  for (Step& step : steps) {
    if (step.temporary.empty()) continue;
    if (std::string error = os::renameFile(step.temporary, step.target.path, false); !error.empty())
      return undo(fileFailure(step.path + ": cannot be written (" + error + ")"));
    step.placed = true;
  }
  for (Step& step : steps) {
    if (!step.backup.empty()) os::removeFile(step.backup);
  }
  if (options.onFinished) options.onFinished();
  return {};
}

}  // namespace host

// SPDX-License-Identifier: MIT
// Files read and written as a host that users trust with their files must: no more of a file is
// read than the host asks for; an output appears only when complete, under a temporary name
// in its folder until then; only regular files are ever replaced; an interrupted run leaves no
// temporary file behind; and every failure is told by its first cause.
//
// Every call answers a host::Result (host/result.h): Ok, or OpenFailed with the cause in words
// for a file that cannot be opened, read, created or written or an output that is refused, and
// Cancelled for a write given up because the run is interrupted ("interrupted").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/result.h"

namespace host {

// The reason an output is refused when it exists and may not be replaced, so that a program
// can add how to replace it.
inline constexpr char kAlreadyExists[] = "already exists";

// Reads a whole file.
Result readFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// A file open for reading, named or standard input, read forward in as many steps as the
// reader wants: readUpTo never reads a byte past the total it is given.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path; a folder is refused ("is a folder").
  Result open(const std::string& path);
  // Standard input, in binary mode.
  void openStandardInput();
  // A regular file, which can be opened again by its name; not a pipe, a device or a terminal.
  bool regular() const { return regular_; }
  // Appends to bytes until it holds total bytes or the file ends.
  Result readUpTo(std::size_t total, std::vector<std::uint8_t>& bytes);

 private:
  int descriptor_ = -1;
  bool owned_ = false;
  bool regular_ = false;
};

// Which file a path names, links followed: two paths name the same file when their ids are
// equal (device and inode; on Windows the volume and the file index).
struct FileId {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};
FileId fileIdOf(const std::string& path);

struct WriteOptions {
  bool overwrite = false;      // replace an existing regular file
  bool createFolders = false;  // create the output's missing folders (only when writing)
  // Called once the output has its name, before anything can interrupt the run: so that a
  // count of finished outputs is exact when the run is interrupted.
  std::function<void()> onFinished;
};

// Why path cannot be written as an output, Ok when it can: it exists and is not a regular
// file (a folder, a device, a fifo, a socket, or a link to one of these or to nothing), or it
// is a regular file and overwrite is not set (kAlreadyExists). A link to a regular file is
// written through: the file it points to is replaced and the link stays.
Result outputProblem(const std::string& path, bool overwrite);

// Writes bytes to path through a temporary name in the same folder, so that path appears only
// when complete and never replaces anything outputProblem refuses. A failure is told by its
// first cause; on failure nothing new is left behind.
Result writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           const WriteOptions& options);
Result writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           bool overwrite);

// Whether a write failed because the disk or the user's quota is full, so that every further
// write to that place would fail alike.
bool storageFull(const Result& result);

// Writes bytes to standard output (in binary mode on Windows).
Result writeToStandardOutput(const std::vector<std::uint8_t>& bytes);

// Files that belong together, such as a picture and its companions: every file of the set is
// written and every file of remove that exists is removed, or, when anything fails, nothing
// changes: no new file stays and every existing file keeps its contents. The reason starts
// with the path it concerns ("x.e1: is a folder, ...").
struct NewFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
};
Result writeFilesTogether(const std::vector<NewFile>& files, const std::vector<std::string>& remove,
                          const WriteOptions& options);

// From this call on, an interrupt (natively SIGINT, SIGTERM and SIGHUP; on Windows Ctrl-C,
// Ctrl-Break and the console closing) removes the temporary files of every write in progress,
// lets no output be finished after that, calls report with the signal's number (for a
// summary), and ends the process by that signal (on Windows: exit code 128 + its number).
// Outputs finished before the interrupt stay.
void cleanUpOnInterrupt(std::function<void(int signal)> report);
// Whether an interrupt has begun: no new work should start.
bool interrupted();

}  // namespace host

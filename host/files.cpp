// SPDX-License-Identifier: MIT
#include "host/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <mutex>
#include <thread>
#endif

namespace host {

namespace {

#ifdef _WIN32
// This MinGW's standard library has no threads: the system's own lock.
class Mutex {
 public:
  Mutex() { InitializeCriticalSection(&section_); }
  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};
using Stat = struct _stat64;
int statOf(const std::string& path, Stat& st) {
  return _stat64(path.c_str(), &st);
}
// Windows follows links itself and has no lstat: a link is taken for what it points to.
int linkStatOf(const std::string& path, Stat& st) {
  return _stat64(path.c_str(), &st);
}
constexpr int kBinary = _O_BINARY;
constexpr int kCloseOnExec = 0;
constexpr char kSeparators[] = "/\\";
unsigned long processId() {
  return GetCurrentProcessId();
}
#else
using Mutex = std::mutex;
using Stat = struct stat;
int statOf(const std::string& path, Stat& st) {
  return ::stat(path.c_str(), &st);
}
int linkStatOf(const std::string& path, Stat& st) {
  return ::lstat(path.c_str(), &st);
}
constexpr int kBinary = 0;
constexpr int kCloseOnExec = O_CLOEXEC;
constexpr char kSeparators[] = "/";
unsigned long processId() {
  return static_cast<unsigned long>(::getpid());
}
#endif

class Guard {
 public:
  explicit Guard(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~Guard() { mutex_.unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  Mutex& mutex_;
};

std::string cause(int error) {
  return std::strerror(error);
}

#ifdef _WIN32
std::string systemMessage(DWORD error) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                    text[length - 1] == ' ' || text[length - 1] == '.'))
    --length;
  return length ? std::string(text, length) : "error " + std::to_string(error);
}
#endif

// The kind of a file that is not a regular file, for messages.
std::string kindOf(const Stat& st) {
  const auto mode = st.st_mode;
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a device";
#ifndef _WIN32
  if (S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a fifo";
  if (S_ISSOCK(mode)) return "a socket";
#endif
  return "a special file";
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of(kSeparators);
  if (separator == std::string::npos) return ".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

// Everything a write in progress shares with the interrupt: the temporary files to remove, and
// whether the run is interrupted. A write finishes (renames) only under the lock, so an
// interrupt, which takes the lock for good, sees each output either finished or still a
// temporary file. Never destroyed: the interrupt may come while the process ends.
struct Registry {
  Mutex lock;
  std::vector<std::string> temporaries;
  std::atomic<int> signal{0};
  std::function<void(int)> report;
};
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

void forget(Registry& r, const std::string& temporary) {
  for (std::size_t i = 0; i < r.temporaries.size(); ++i) {
    if (r.temporaries[i] == temporary) {
      r.temporaries.erase(r.temporaries.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// The removal an interrupt does: every temporary file, then the report. Under the lock.
void removeTemporaries(Registry& r) {
  for (const std::string& temporary : r.temporaries) std::remove(temporary.c_str());
  r.temporaries.clear();
}

// An output path as it will be written: where links lead, and whether a file is there.
struct Target {
  std::string path;
  bool exists = false;
  std::string error;
};

Target resolve(const std::string& path, bool overwrite) {
  static const std::string kOnlyRegular = ", not a regular file: only regular files are replaced";
  Stat st;
  if (linkStatOf(path, st) != 0) {
    // A missing folder on the way is created or reported when the file is written.
    if (errno == ENOENT || errno == ENOTDIR) return {path, false, ""};
    return {path, false, "cannot be examined (" + cause(errno) + ")"};
  }
  std::string real = path;
#ifndef _WIN32
  if (S_ISLNK(st.st_mode)) {
    Stat to;
    if (statOf(path, to) != 0) {
      return {path, true,
              errno == ENOENT ? "is a link to nothing" + kOnlyRegular
                              : "is a link that cannot be followed (" + cause(errno) + ")"};
    }
    if (!S_ISREG(to.st_mode)) return {path, true, "is a link to " + kindOf(to) + kOnlyRegular};
    char* followed = ::realpath(path.c_str(), nullptr);
    if (!followed) return {path, true, "is a link that cannot be followed (" + cause(errno) + ")"};
    real = followed;
    std::free(followed);
    st = to;
  }
#endif
  if (!S_ISREG(st.st_mode)) return {path, true, "is " + kindOf(st) + kOnlyRegular};
  if (!overwrite) return {real, true, "already exists"};
  return {real, true, ""};
}

// A temporary name beside target, unique in the process; the process id keeps two runs on one
// folder apart. The name is cut so that the suffix fits in a name's 255 bytes.
std::string temporaryName(const std::string& target, const char* kind) {
  static std::atomic<unsigned> made{0};
  const std::size_t separator = target.find_last_of(kSeparators);
  const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const std::string name = target.substr(nameStart, 200);
  return target.substr(0, nameStart) + name + kind + std::to_string(processId()) + "-" +
         std::to_string(made++);
}

std::string createFolders(const std::string& target) {
  const std::string folder = folderOf(target);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return "cannot create the folder " + folder + " (" + error.message() + ")";
  return "";
}

// Creates and registers a temporary file beside target; answers its descriptor or -1 and why.
int createTemporary(const std::string& target, std::string& temporary, std::string& error) {
  Registry& r = registry();
  Guard guard(r.lock);
  if (r.signal) {
    error = "interrupted";
    return -1;
  }
  temporary = temporaryName(target, ".part-");
  const int descriptor =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinary | kCloseOnExec, 0666);
  if (descriptor < 0) {
    error = "cannot create a file in " + folderOf(target) + " (" + cause(errno) + ")";
    return -1;
  }
  r.temporaries.push_back(temporary);
  return descriptor;
}

void dropTemporary(const std::string& temporary) {
  Registry& r = registry();
  Guard guard(r.lock);
  forget(r, temporary);
  std::remove(temporary.c_str());
}

// Writes everything; answers the cause of a failure, empty on success.
std::string writeAll(int descriptor, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const unsigned step = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 20));
    const auto written = ::write(descriptor, data, step);
    if (written < 0) {
      if (errno == EINTR) continue;
      return cause(errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return "";
}

// Writes bytes into a new temporary file beside target; answers its name, or an error.
std::string writeTemporary(const std::string& target, const std::vector<std::uint8_t>& bytes,
                           std::string& temporary) {
  std::string error;
  const int descriptor = createTemporary(target, temporary, error);
  if (descriptor < 0) return error;
  error = writeAll(descriptor, bytes.data(), bytes.size());
  if (::close(descriptor) != 0 && error.empty()) error = cause(errno);
  if (!error.empty()) error = "cannot write (" + error + ")";
  if (!error.empty()) dropTemporary(temporary);
  return error;
}

// Renames from to to; replace says whether an existing to may be replaced. Answers the
// error's cause, empty on success.
std::string renameFile(const std::string& from, const std::string& to, bool replace) {
#ifdef _WIN32
  if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return "";
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return "already exists";
  return systemMessage(error);
#else
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? "" : cause(errno);
  // link() refuses an existing name, so a file that appeared meanwhile is never replaced.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return "";
  }
  if (errno == EEXIST) return "already exists";
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK)
    return cause(errno);
  // A file system without hard links: look, then rename.
  Stat st;
  if (linkStatOf(to, st) == 0) return "already exists";
  return ::rename(from.c_str(), to.c_str()) == 0 ? "" : cause(errno);
#endif
}

}  // namespace

InputFile::~InputFile() {
  if (owned_ && descriptor_ >= 0) ::close(descriptor_);
}

std::string InputFile::open(const std::string& path) {
  Stat st;
#ifdef _WIN32
  // Windows does not open a folder as a file; say what it is rather than "Permission denied".
  if (statOf(path, st) == 0 && S_ISDIR(st.st_mode)) return "is a folder";
#endif
  descriptor_ = ::open(path.c_str(), O_RDONLY | kBinary | kCloseOnExec);
  if (descriptor_ < 0) return "cannot open (" + cause(errno) + ")";
  owned_ = true;
#ifdef _WIN32
  regular_ = statOf(path, st) == 0 && S_ISREG(st.st_mode);
#else
  if (::fstat(descriptor_, &st) != 0) return "cannot open (" + cause(errno) + ")";
  if (S_ISDIR(st.st_mode)) return "is a folder";
  regular_ = S_ISREG(st.st_mode);
#endif
  return "";
}

std::string InputFile::openStandardInput() {
  descriptor_ = 0;
  owned_ = false;
  regular_ = false;  // whatever it is, it has no name to open again
#ifdef _WIN32
  _setmode(0, _O_BINARY);
#endif
  return "";
}

std::string InputFile::readUpTo(std::size_t total, std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kStep = 1 << 16;
  while (bytes.size() < total) {
    const std::size_t had = bytes.size();
    const std::size_t step = std::min(total - had, kStep);
    bytes.resize(had + step);
    const auto got = ::read(descriptor_, bytes.data() + had, static_cast<unsigned>(step));
    if (got < 0) {
      const int error = errno;
      bytes.resize(had);
      if (error == EINTR) continue;
      return error == EISDIR ? "is a folder" : "cannot read (" + cause(error) + ")";
    }
    bytes.resize(had + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  return "";
}

std::string readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  InputFile file;
  if (std::string error = file.open(path); !error.empty()) return error;
  return file.readUpTo(SIZE_MAX, bytes);
}

FileId fileIdOf(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  if (!known) return {};
  return {true, information.dwVolumeSerialNumber,
          static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
#else
  Stat st;
  if (statOf(path, st) != 0) return {};
  return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
}

std::string outputProblem(const std::string& path, bool overwrite) {
  return resolve(path, overwrite).error;
}

std::string writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                bool overwrite) {
  WriteOptions options;
  options.overwrite = overwrite;
  return writeFileAtomically(path, bytes, options);
}

std::string writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                const WriteOptions& options) {
  const Target target = resolve(path, options.overwrite);
  if (!target.error.empty()) return target.error;
  if (options.createFolders) {
    if (std::string error = createFolders(target.path); !error.empty()) return error;
  }
  std::string temporary;
  if (std::string error = writeTemporary(target.path, bytes, temporary); !error.empty())
    return error;

  Registry& r = registry();
  Guard guard(r.lock);
  forget(r, temporary);
  std::string error = r.signal ? "interrupted" : resolve(path, options.overwrite).error;
  if (error.empty()) {
    error = renameFile(temporary, target.path, options.overwrite);
    if (!error.empty() && error != "already exists") error = "cannot be written (" + error + ")";
  }
  if (!error.empty()) {
    std::remove(temporary.c_str());
    return error;
  }
  if (options.onFinished) options.onFinished();
  return "";
}

std::string writeToStandardOutput(const std::vector<std::uint8_t>& bytes) {
#ifdef _WIN32
  _setmode(1, _O_BINARY);
#endif
  if (std::string error = writeAll(1, bytes.data(), bytes.size()); !error.empty())
    return "cannot write to standard output (" + error + ")";
  return "";
}

std::string writeFilesTogether(const std::vector<NewFile>& files,
                               const std::vector<std::string>& remove,
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
    if (!target.error.empty()) return file.path + ": " + target.error;
    steps.push_back({file.path, target, "", "", false});
  }
  for (const std::string& path : remove) {
    Target target = resolve(path, options.overwrite);
    if (!target.error.empty()) return path + ": " + target.error;
    if (target.exists) steps.push_back({path, target, "", "", false});
  }

  const auto dropAll = [&] {
    for (Step& step : steps) {
      if (!step.temporary.empty()) dropTemporary(step.temporary);
    }
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    Step& step = steps[i];
    std::string error;
    if (options.createFolders) error = createFolders(step.target.path);
    if (error.empty()) error = writeTemporary(step.target.path, files[i].bytes, step.temporary);
    if (!error.empty()) {
      step.temporary.clear();
      dropAll();
      return step.path + ": " + error;
    }
  }

  Registry& r = registry();
  Guard guard(r.lock);
  for (Step& step : steps) {
    if (!step.temporary.empty()) forget(r, step.temporary);
  }
  // Undoes what the renames did so far and removes the new contents.
  const auto undo = [&](const std::string& message) {
    for (Step& step : steps) {
      if (step.placed) std::remove(step.target.path.c_str());
      if (!step.backup.empty()) renameFile(step.backup, step.target.path, true);
      if (!step.temporary.empty() && !step.placed) std::remove(step.temporary.c_str());
    }
    return message;
  };
  if (r.signal) return undo("interrupted");
  for (Step& step : steps) {
    const Target now = resolve(step.path, options.overwrite);
    if (!now.error.empty()) return undo(step.path + ": " + now.error);
  }
  // The old files step aside first, so that every new file's rename finds its name free and
  // any failure can put them back.
  for (Step& step : steps) {
    if (!step.target.exists) continue;
    const std::string backup = temporaryName(step.target.path, ".old-");
    if (std::string error = renameFile(step.target.path, backup, false); !error.empty())
      return undo(step.path + ": cannot be replaced (" + error + ")");
    step.backup = backup;
  }
  for (Step& step : steps) {
    if (step.temporary.empty()) continue;
    if (std::string error = renameFile(step.temporary, step.target.path, false); !error.empty())
      return undo(step.path + ": cannot be written (" + error + ")");
    step.placed = true;
  }
  for (Step& step : steps) {
    if (!step.backup.empty()) std::remove(step.backup.c_str());
  }
  if (options.onFinished) options.onFinished();
  return "";
}

bool interrupted() {
  return registry().signal != 0;
}

namespace {

// What an interrupt does, on the thread that handles it: for good, no write finishes.
[[noreturn]] void endByInterrupt(int signal) {
  Registry& r = registry();
  r.lock.lock();  // never unlocked
  r.signal = signal;
  removeTemporaries(r);
  if (r.report) r.report(signal);
  std::fflush(stderr);
#ifdef _WIN32
  ExitProcess(static_cast<UINT>(128 + signal));
#else
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signal);
  std::_Exit(128 + signal);
#endif
}

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event) {
  endByInterrupt(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
}
#else
// The signal handler only passes the signal on to a thread of its own, which can take locks and
// remove files.
int wakePipe[2] = {-1, -1};

void onSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] auto written = ::write(wakePipe[1], &number, 1);
  errno = saved;
}

void watchForInterrupt() {
  unsigned char number = 0;
  for (;;) {
    const auto got = ::read(wakePipe[0], &number, 1);
    if (got == 1) break;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
  endByInterrupt(number);
}
#endif

}  // namespace

void cleanUpOnInterrupt(std::function<void(int signal)> report) {
  Registry& r = registry();
  {
    Guard guard(r.lock);
    r.report = std::move(report);
  }
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
#ifdef _WIN32
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
  if (::pipe(wakePipe) != 0) return;
  for (int end : wakePipe) ::fcntl(end, F_SETFD, FD_CLOEXEC);
  ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
  std::thread(watchForInterrupt).detach();
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

}  // namespace host

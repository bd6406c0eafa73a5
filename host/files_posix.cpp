// SPDX-License-Identifier: MIT
// The system's file calls on POSIX systems (and in the browser's file system), for
// host/files.cpp and host/interrupt.cpp.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/file_system.h"

namespace host::os {

namespace {

// The kind of a file that is not a regular file, for messages; empty for a regular file.
std::string kindOf(const struct stat& st) {
  const auto mode = st.st_mode;
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a fifo";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

}  // namespace

const char kSeparators[] = "/";

std::string cause(int error) {
  return std::strerror(error);
}

Examined examine(const std::string& path) {
  Examined examined;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    examined.error = errno;
    return examined;
  }
  if (!S_ISLNK(st.st_mode)) {
    examined.kind = kindOf(st);
    return examined;
  }
  examined.link = true;
  if (::stat(path.c_str(), &st) != 0) {
    examined.linkError = errno;
    return examined;
  }
  examined.kind = kindOf(st);
  if (!examined.kind.empty()) return examined;
  char* followed = ::realpath(path.c_str(), nullptr);
  if (!followed) {
    examined.linkError = errno;
    return examined;
  }
  examined.real = followed;
  std::free(followed);
  return examined;
}

int openForReading(const std::string& path, bool& regular, std::string& error) {
  regular = false;
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    error = "cannot open (" + cause(errno) + ")";
    return -1;
  }
  struct stat st;
  if (::fstat(descriptor, &st) != 0) {
    error = "cannot open (" + cause(errno) + ")";
  } else if (S_ISDIR(st.st_mode)) {
    error = "is a folder";
  }
  regular = error.empty() && S_ISREG(st.st_mode);
  return descriptor;
}

void useBinaryMode(int) {}

int createNew(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

long readSome(int descriptor, std::uint8_t* data, std::size_t size) {
  return static_cast<long>(::read(descriptor, data, size));
}

long writeSome(int descriptor, const std::uint8_t* data, std::size_t size) {
  return static_cast<long>(::write(descriptor, data, size));
}

int closeFile(int descriptor) {
  return ::close(descriptor);
}

int removeFile(const std::string& path) {
  return std::remove(path.c_str());
}

std::string renameFile(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? "" : cause(errno);
  // link() refuses an existing name, so a file that appeared meanwhile is never replaced.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return "";
  }
  if (errno == EEXIST) return kAlreadyExists;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK)
    return cause(errno);
  // A file system without hard links: look, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return kAlreadyExists;
  return ::rename(from.c_str(), to.c_str()) == 0 ? "" : cause(errno);
}

FileId fileIdOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

unsigned long processId() {
  return static_cast<unsigned long>(::getpid());
}

struct Lock::Held {
  std::mutex mutex;
};
Lock::Lock() : held_(new Held) {}
Lock::~Lock() {
  delete held_;
}
void Lock::lock() {
  held_->mutex.lock();
}
void Lock::unlock() {
  held_->mutex.unlock();
}

namespace {

// The signal handler only passes the signal on to a thread of its own, which can take locks and
// remove files.
int wakePipe[2] = {-1, -1};

void onSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] auto written = ::write(wakePipe[1], &number, 1);
  errno = saved;
}

void watch(void (*onInterrupt)(int)) {
  unsigned char number = 0;
  for (;;) {
    const auto got = ::read(wakePipe[0], &number, 1);
    if (got == 1) break;
    if (got < 0 && errno == EINTR) continue;
    return;
  }
  onInterrupt(number);
}

}  // namespace

void watchForInterrupts(void (*onInterrupt)(int signal)) {
  if (::pipe(wakePipe) != 0) return;
  for (int end : wakePipe) ::fcntl(end, F_SETFD, FD_CLOEXEC);
  ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
  std::thread(watch, onInterrupt).detach();
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void endBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signal);
  std::_Exit(128 + signal);
}

}  // namespace host::os

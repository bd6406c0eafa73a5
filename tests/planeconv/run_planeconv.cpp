// SPDX-License-Identifier: MIT
#include "tests/planeconv/run_planeconv.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host/files.h"

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(PLANECONV));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child: the dispositions and mask a program starts with from a shell, not the test's.
[[noreturn]] void execPlaneconv(std::vector<char*>& argv, const std::string& folder) {
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!folder.empty() && ::chdir(folder.c_str()) != 0) _exit(126);
  ::execv(PLANECONV, argv.data());
  _exit(127);
}

Outcome outcomeOf(int status) {
  Outcome outcome;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace

Outcome planeconv(const std::vector<std::string>& arguments, const RunSetup& setup) {
  std::signal(SIGPIPE, SIG_IGN);  // a planeconv that stops reading must not end the test
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
  std::vector<char*> argv = argvOf(arguments);
  const pid_t child = fork();
  if (child == 0) {
    int input = in[0];
    if (!setup.inputFile.empty()) input = ::open(setup.inputFile.c_str(), O_RDONLY);
    dup2(input, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execPlaneconv(argv, setup.folder);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  std::thread feeder([&] {
    std::size_t at = 0;
    while (at < setup.input.size()) {
      const ssize_t n = ::write(in[1], setup.input.data() + at, setup.input.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(in[1]);
  });
  std::string collected[2];
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        collected[i].append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  feeder.join();
  int status = 0;
  waitpid(child, &status, 0);
  Outcome outcome = outcomeOf(status);
  outcome.out = std::move(collected[0]);
  outcome.err = std::move(collected[1]);
  return outcome;
}

Terminal::Terminal(const std::vector<std::string>& arguments, int columns, int rows,
                   const std::string& folder) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  std::vector<char*> argv = argvOf(arguments);
  child_ = forkpty(&master_, nullptr, nullptr, &size);
  if (child_ == 0) execPlaneconv(argv, folder);
}

Terminal::~Terminal() {
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
}

bool Terminal::readSome(bool wait) {
  pollfd fd{master_, POLLIN, 0};
  if (::poll(&fd, 1, wait ? -1 : 0) <= 0) return false;
  char buffer[4096];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;  // EIO: the terminal's other side has closed
  shown_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool Terminal::readUntil(const std::string& text) {
  while (shown_.find(text) == std::string::npos) {
    if (!readSome(true)) return false;
  }
  return true;
}

std::string Terminal::readAvailable() {
  const std::size_t before = shown_.size();
  while (readSome(false)) {
  }
  return shown_.substr(before);
}

void Terminal::resize(int columns, int rows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ioctl(master_, TIOCSWINSZ, &size);
}

void Terminal::signal(int number) {
  ::kill(child_, number);
}

Outcome Terminal::finish() {
  while (readSome(true)) {
  }
  int status = 0;
  waitpid(child_, &status, 0);
  child_ = -1;
  Outcome outcome = outcomeOf(status);
  outcome.out = shown_;
  return outcome;
}

std::vector<std::string> drawnLines(const std::string& shown) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown.compare(i, 3, "\033[K") == 0) {
      i += 2;
    } else if (shown[i] == '\r' || shown[i] == '\n') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += shown[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void expectNoTemporaries(const std::string& folder) {
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    EXPECT_EQ(name.find(".part-"), std::string::npos) << it->path() << " was left behind";
    EXPECT_EQ(name.find(".old-"), std::string::npos) << it->path() << " was left behind";
  }
}

Bytes fileBytes(const std::string& path) {
  Bytes bytes;
  const host::Result r = host::readFile(path, bytes);
  EXPECT_TRUE(r) << path << ": " << r.reason;
  return bytes;
}

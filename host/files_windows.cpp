// SPDX-License-Identifier: MIT
// The system's file calls on Windows, for host/files.cpp and host/interrupt.cpp. Windows
// follows links itself and has no lstat: a link is taken for what it points to. Names come as
// UTF-8 and go to the system's wide calls as UTF-16 (host/file_names.h), so that every name the
// file system allows can be used, whatever the ANSI code page.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "host/console.h"
#include "host/file_names.h"
#include "host/file_system.h"

namespace host::os {

namespace {

// The kind of a file that is not a regular file, for messages; empty for a regular file.
std::string kindOf(const struct _stat64& st) {
  const auto mode = st.st_mode;
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a device";
  return "a special file";
}

// A system error in words, without the full stop and line end the system ends it with.
std::string systemMessage(DWORD error) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                    text[length - 1] == ' ' || text[length - 1] == '.'))
    --length;
  return length ? std::string(text, length) : "error " + std::to_string(error);
}

}  // namespace

const char kSeparators[] = "/\\";

std::string cause(int error) {
  return std::strerror(error);
}

Examined examine(const std::string& path) {
  Examined examined;
  struct _stat64 st;
  if (_wstat64(wideName(path).c_str(), &st) != 0) {
    examined.error = errno;
  } else {
    examined.kind = kindOf(st);
  }
  return examined;
}

int openForReading(const std::string& path, bool& regular, std::string& error) {
  regular = false;
  struct _stat64 st;
  // Windows does not open a folder as a file; say what it is rather than "Permission denied".
  if (_wstat64(wideName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = "is a folder";
    return -1;
  }
  const int descriptor = _wopen(wideName(path).c_str(), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    error = "cannot open (" + cause(errno) + ")";
    return -1;
  }
  regular = _wstat64(wideName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  return descriptor;
}

void useBinaryMode(int descriptor) {
  _setmode(descriptor, _O_BINARY);
}

int createNew(const std::string& path) {
  return _wopen(wideName(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

long readSome(int descriptor, std::uint8_t* data, std::size_t size) {
  return _read(descriptor, data, static_cast<unsigned>(size));
}

long writeSome(int descriptor, const std::uint8_t* data, std::size_t size) {
  return _write(descriptor, data, static_cast<unsigned>(size));
}

int closeFile(int descriptor) {
  return _close(descriptor);
}

int removeFile(const std::string& path) {
  return _wremove(wideName(path).c_str());
}

std::string renameFile(const std::string& from, const std::string& to, bool replace) {
  if (MoveFileExW(wideName(from).c_str(), wideName(to).c_str(),
                  replace ? MOVEFILE_REPLACE_EXISTING : 0))
    return "";
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return kAlreadyExists;
  return systemMessage(error);
}

FileId fileIdOf(const std::string& path) {
  HANDLE file =
      CreateFileW(wideName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  if (!known) return {};
  return {true, information.dwVolumeSerialNumber,
          static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
}

unsigned long processId() {
  return GetCurrentProcessId();
}

struct Lock::Held {
  CRITICAL_SECTION section;
};
Lock::Lock() : held_(new Held) {
  InitializeCriticalSection(&held_->section);
}
Lock::~Lock() {
  DeleteCriticalSection(&held_->section);
  delete held_;
}
void Lock::lock() {
  EnterCriticalSection(&held_->section);
}
void Lock::unlock() {
  LeaveCriticalSection(&held_->section);
}

namespace {

// The console's handler runs on a thread of its own, which can take locks and remove files.
void (*handleInterrupt)(int signal) = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  handleInterrupt(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
  return TRUE;
}

}  // namespace

void watchForInterrupts(void (*onInterrupt)(int signal)) {
  handleInterrupt = onInterrupt;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void endBySignal(int signal) {
  finishConsoleText();  // what the interrupt's report wrote reaches the console
  ExitProcess(static_cast<UINT>(128 + signal));
}

}  // namespace host::os

// SPDX-License-Identifier: MIT
// The console relay of host/console.h. Standard output and error, where they are the console,
// are pointed at one pipe; a thread reads it and writes the text to the console with
// WriteConsoleW, a UTF-8 character split between two writes joined again. One pipe for both
// keeps the order in which the program wrote them.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "host/console.h"
#include "host/file_names.h"

namespace host {

namespace {

struct Relay {
  bool terminal[3] = {false, false, false};  // by descriptor, as at the start
  bool known = false;
  bool running = false;
  HANDLE console = nullptr;
  HANDLE pipe = nullptr;  // the end the thread reads
  HANDLE thread = nullptr;
  int saved[3] = {-1, -1, -1};  // the console descriptors while the pipe stands in for them
};
Relay relay;

void learnTerminals() {
  if (relay.known) return;
  relay.known = true;
  for (int descriptor : {1, 2}) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    relay.terminal[descriptor] = handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
    if (relay.terminal[descriptor] && !relay.console) relay.console = handle;
  }
}

void show(const std::string& text) {
  if (text.empty()) return;
  const std::wstring wide = wideName(text);
  const wchar_t* at = wide.data();
  std::size_t left = wide.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 8192 ? left : 8192);
    if (!WriteConsoleW(relay.console, at, chunk, &written, nullptr) || written == 0) return;
    at += written;
    left -= written;
  }
}

// The length of text's prefix that ends with a whole UTF-8 character: a sequence begun in the
// last three bytes and not yet complete waits for the next read.
std::size_t wholePrefix(const std::string& text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto c = static_cast<unsigned char>(text[size - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? size - back : size;
  }
  return size;
}

DWORD WINAPI relayText(LPVOID) {
  std::string pending;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(relay.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    pending.append(buffer, got);
    const std::size_t whole = wholePrefix(pending);
    show(pending.substr(0, whole));
    pending.erase(0, whole);
  }
  show(pending);
  return 0;
}

}  // namespace

bool isTerminal(int descriptor) {
  learnTerminals();
  return descriptor >= 1 && descriptor <= 2 && relay.terminal[descriptor];
}

ConsoleText::ConsoleText() {
  learnTerminals();
  if (relay.running || !relay.console) return;
  // Escape sequences (the progress line's) are the console's to interpret where it can.
  DWORD mode = 0;
  if (GetConsoleMode(relay.console, &mode))
    SetConsoleMode(relay.console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&relay.pipe, &writeEnd, nullptr, 0)) return;
  const int writer = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_TEXT);
  if (writer < 0) {
    CloseHandle(writeEnd);
    CloseHandle(relay.pipe);
    return;
  }
  relay.thread = CreateThread(nullptr, 0, relayText, nullptr, 0, nullptr);
  if (!relay.thread) {
    _close(writer);
    CloseHandle(relay.pipe);
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  for (int descriptor : {1, 2}) {
    if (!relay.terminal[descriptor]) continue;
    relay.saved[descriptor] = _dup(descriptor);
    _dup2(writer, descriptor);
  }
  _close(writer);
  // Written as soon as written, so that nothing waits in a buffer and the order holds.
  if (relay.terminal[1]) std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (relay.terminal[2]) std::setvbuf(stderr, nullptr, _IONBF, 0);
  relay.running = true;
}

ConsoleText::~ConsoleText() {
  finishConsoleText();
}

void finishConsoleText() {
  if (!relay.running) return;
  relay.running = false;
  std::fflush(stdout);
  std::fflush(stderr);
  // The console's own descriptors back: the pipe's last writer closes, the thread reads to the
  // end and stops.
  for (int descriptor : {1, 2}) {
    if (relay.saved[descriptor] < 0) continue;
    _dup2(relay.saved[descriptor], descriptor);
    _close(relay.saved[descriptor]);
    relay.saved[descriptor] = -1;
  }
  WaitForSingleObject(relay.thread, 5000);
  CloseHandle(relay.thread);
  CloseHandle(relay.pipe);
}

}  // namespace host

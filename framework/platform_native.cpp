// SPDX-License-Identifier: MIT
// Native stand-in for the Windows calls the plug-ins use. See platform.h.
#ifndef _WIN32

#include "framework/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/native_names.h"

namespace {

// Handles carry a tag in their upper bits so that a stray small integer or a pointer is never
// mistaken for a live block.
constexpr std::uint32_t kHandleTag = 0x40000000;
constexpr std::uint32_t kSlotMask = 0x00FFFFFF;

struct Block {
  unsigned char* data = nullptr;
  std::size_t size = 0;
  int lockCount = 0;
  bool live = false;
};

struct State {
  std::mutex mutex;
  std::vector<Block> blocks;  // slot i has handle kHandleTag | (i + 1)
  std::vector<std::uint32_t> freeSlots;
  platform::Usage usage;
  platform::FaultPlan plan;
  platform::OperationCounts counts;
  bool fillNewBlocks = true;
};

constexpr unsigned char kNewBlockFill = 0xA5;

State& state() {
  static State s;
  return s;
}

// Counts one operation of a kind and says whether the fault plan makes it fail.
bool countAndCheckFault(int& counter, int failAt) {
  ++counter;
  return failAt > 0 && counter == failAt;
}

Block* findBlock(State& s, HGLOBAL handle) {
  if ((handle & ~kSlotMask) != kHandleTag) return nullptr;
  std::uint32_t slot = (handle & kSlotMask) - 1;
  if (slot >= s.blocks.size() || !s.blocks[slot].live) return nullptr;
  return &s.blocks[slot];
}

}  // namespace

HGLOBAL GlobalAlloc(UINT /*flags*/, SIZE_T bytes) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (countAndCheckFault(s.counts.allocations, s.plan.failAllocation)) return 0;
  // Zero-length blocks still get storage, so that a lock always yields a distinct address.
  auto* data = static_cast<unsigned char*>(std::malloc(bytes ? bytes : 1));
  if (!data) return 0;
  if (s.fillNewBlocks) std::memset(data, kNewBlockFill, bytes);
  std::uint32_t slot;
  if (!s.freeSlots.empty()) {
    slot = s.freeSlots.back();
    s.freeSlots.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(s.blocks.size());
    s.blocks.emplace_back();
  }
  s.blocks[slot] = Block{data, bytes, 0, true};
  ++s.usage.liveGlobalBlocks;
  return kHandleTag | (slot + 1);
}

LPVOID GlobalLock(HGLOBAL handle) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  Block* block = findBlock(s, handle);
  if (!block) return nullptr;
  if (countAndCheckFault(s.counts.locks, s.plan.failLock)) return nullptr;
  if (block->lockCount++ == 0) ++s.usage.lockedGlobalBlocks;
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  Block* block = findBlock(s, handle);
  if (!block || block->lockCount == 0) return FALSE;
  if (--block->lockCount == 0) --s.usage.lockedGlobalBlocks;
  return block->lockCount > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  Block* block = findBlock(s, handle);
  if (!block) return handle;  // failure: the handle is answered back
  if (block->lockCount > 0) --s.usage.lockedGlobalBlocks;
  std::free(block->data);
  *block = Block{};
  s.freeSlots.push_back((handle & kSlotMask) - 1);
  --s.usage.liveGlobalBlocks;
  return 0;
}

SIZE_T GlobalSize(HGLOBAL handle) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  Block* block = findBlock(s, handle);
  return block ? block->size : 0;
}

HANDLE GetProcessHeap() {
  static int heap;
  return &heap;
}

LPVOID HeapAlloc(HANDLE /*heap*/, DWORD /*flags*/, SIZE_T bytes) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (countAndCheckFault(s.counts.allocations, s.plan.failAllocation)) return nullptr;
  void* block = std::malloc(bytes ? bytes : 1);
  if (block) ++s.usage.liveHeapBlocks;
  return block;
}

BOOL HeapFree(HANDLE /*heap*/, DWORD /*flags*/, LPVOID block) {
  if (!block) return TRUE;
  State& s = state();
  std::free(block);
  std::lock_guard lock(s.mutex);
  --s.usage.liveHeapBlocks;
  return TRUE;
}

HFILE _lopen(LPCSTR path, int /*mode*/) {
  State& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (countAndCheckFault(s.counts.opens, s.plan.failOpen)) return HFILE_ERROR;
  }
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    const std::string other = platform::nameIgnoringCase(path);
    if (!other.empty()) fd = ::open(other.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return HFILE_ERROR;
  std::lock_guard lock(s.mutex);
  ++s.usage.openFiles;
  return fd;
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
  auto* out = static_cast<unsigned char*>(buffer);
  UINT total = 0;
  while (total < bytes) {
    ssize_t got = ::read(file, out + total, bytes - total);
    if (got < 0) return static_cast<UINT>(-1);
    if (got == 0) break;
    total += static_cast<UINT>(got);
  }
  return total;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
  int whence = origin == FILE_END ? SEEK_END : origin == FILE_CURRENT ? SEEK_CUR : SEEK_SET;
  off_t position = ::lseek(file, offset, whence);
  return position < 0 ? -1 : static_cast<LONG>(position);
}

HFILE _lclose(HFILE file) {
  if (::close(file) != 0) return HFILE_ERROR;
  State& s = state();
  std::lock_guard lock(s.mutex);
  --s.usage.openFiles;
  return 0;
}

// String tables. As on Windows, strings live in blocks of 16 named by (id / 16) + 1, and each
// block's resource data is 16 counted UTF-16 strings.
namespace {

const char* findString(HINSTANCE module, UINT id) {
  if (!module || id < module->firstStringId) return nullptr;
  UINT index = id - module->firstStringId;
  return index < module->stringCount ? module->strings[index] : nullptr;
}

NativeResource* findBlockResource(HMODULE module, unsigned block) {
  // One record per module and block, kept for the process; a deque never moves its elements.
  static std::mutex mutex;
  static std::deque<NativeResource> found;
  for (unsigned id = block * 16 - 16; id < block * 16; ++id) {
    if (!findString(module, id)) continue;
    std::lock_guard lock(mutex);
    for (NativeResource& r : found)
      if (r.module == module && r.block == block) return &r;
    return &found.emplace_back(NativeResource{module, block});
  }
  return nullptr;
}

}  // namespace

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  buffer[0] = '\0';  // as on Windows, a string that is not found leaves an empty buffer
  const char* text = findString(module, id);
  if (!text) return 0;
  std::size_t length = std::strlen(text);
  std::size_t copied = length < static_cast<std::size_t>(bufferMax - 1) ? length : bufferMax - 1;
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (!IS_INTRESOURCE(name) || type != RT_STRING) return nullptr;
  auto block = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(name));
  if (block == 0) return nullptr;
  return findBlockResource(module, block);
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  if (!resource || resource->module != module) return 0;
  DWORD bytes = 0;
  for (unsigned id = resource->block * 16 - 16; id < resource->block * 16; ++id) {
    const char* text = findString(module, id);
    bytes += 2 + 2 * static_cast<DWORD>(text ? std::strlen(text) : 0);
  }
  return bytes;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = std::getenv(name);
  if (!value) return 0;
  const DWORD length = static_cast<DWORD>(std::strlen(value));
  if (length >= size) return length + 1;
  std::memcpy(buffer, value, length + 1);
  return length;
}

namespace platform {

namespace {

char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string folded(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = foldAscii(c);
  return key;
}

// A folder's entries by their names with ASCII letters folded to lower case; several names
// under one key in byte order.
using Listing = std::unordered_map<std::string, std::vector<std::string>>;

Listing readFolder(const std::string& folder) {
  Listing listing;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return listing;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    listing[folded(name)].emplace_back(name);
  }
  ::closedir(dir);
  // Byte order: std::string compares as unsigned chars.
  for (auto& [key, names] : listing) std::sort(names.begin(), names.end());
  return listing;
}

struct Listings {
  std::mutex mutex;
  int keepers = 0;  // KeptListings alive
  std::unordered_map<std::string, Listing> kept;
  std::atomic<long> read{0};
};

Listings& listings() {
  static Listings l;
  return l;
}

// The names in folder that match name ignoring ASCII case, in byte order: from the kept
// listing while one is kept, else from a fresh reading.
std::vector<std::string> matchesIn(const std::string& folder, const std::string& name) {
  Listings& l = listings();
  const std::string key = folded(name);
  std::unique_lock lock(l.mutex);
  if (l.keepers == 0) {
    lock.unlock();
    ++l.read;
    Listing listing = readFolder(folder);
    auto found = listing.find(key);
    return found == listing.end() ? std::vector<std::string>{} : std::move(found->second);
  }
  auto at = l.kept.find(folder);
  if (at == l.kept.end()) {
    // Read under the lock: the other threads would only read the same folder meanwhile.
    ++l.read;
    at = l.kept.emplace(folder, readFolder(folder)).first;
  }
  auto found = at->second.find(key);
  return found == at->second.end() ? std::vector<std::string>{} : found->second;
}

}  // namespace

KeptListings::KeptListings() {
  Listings& l = listings();
  std::lock_guard lock(l.mutex);
  ++l.keepers;
}

KeptListings::~KeptListings() {
  Listings& l = listings();
  std::lock_guard lock(l.mutex);
  if (--l.keepers == 0) l.kept.clear();
}

long foldersRead() {
  return listings().read.load();
}

std::vector<std::string> namesIgnoringCase(const std::string& path) {
  std::vector<std::string> names;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return names;
  for (const std::string& other : matchesIn(folder, name))
    names.push_back(slash == std::string::npos ? other : folder + other);
  return names;
}

std::string nameIgnoringCase(const std::string& path) {
  std::vector<std::string> names = namesIgnoringCase(path);
  return names.empty() ? "" : names.front();
}

std::string nameToOpen(const std::string& path) {
  if (::access(path.c_str(), F_OK) == 0 || errno != ENOENT) return path;
  return nameIgnoringCase(path);
}

Usage usage() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.usage;
}

void fillNewBlocks(bool fill) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.fillNewBlocks = fill;
}

void setFaultPlan(const FaultPlan& plan) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.plan = plan;
  s.counts = {};
}

OperationCounts operationCounts() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.counts;
}

}  // namespace platform

#endif  // !_WIN32

// SPDX-License-Identifier: MIT
#include "tests/emulated/windows_services.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// The services' own part of the address space.
constexpr std::uint32_t kTebAddress = 0x00200000;
constexpr std::uint32_t kPebAddress = 0x00201000;
constexpr std::uint32_t kDescriptorTable = 0x00202000;
constexpr std::uint32_t kDataPage = 0x00203000;
constexpr std::uint32_t kCodePage = 0x00210000;
constexpr std::uint32_t kTrapPage = 0x00220000;
constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::uint32_t kSlotSize = 4;
// Handles that are no addresses of mapped memory, so that using one as a pointer faults.
constexpr std::uint32_t kBlockHandleBase = 0x00300000;
constexpr std::uint32_t kProcessHeapHandle = 0x00310000;
constexpr std::uint32_t kSystemModuleBase = 0x7C000000;
constexpr const char* kSystemModules[] = {"kernel32.dll", "user32.dll", "msvcrt.dll", "ntdll.dll"};

// Thread environment block fields.
constexpr std::uint32_t kTebExceptionList = 0x00;
constexpr std::uint32_t kTebStackBase = 0x04;
constexpr std::uint32_t kTebStackLimit = 0x08;
constexpr std::uint32_t kTebSelf = 0x18;
constexpr std::uint32_t kTebProcessId = 0x20;
constexpr std::uint32_t kTebThreadId = 0x24;
constexpr std::uint32_t kTebTlsPointer = 0x2C;
constexpr std::uint32_t kTebPeb = 0x30;
constexpr std::uint32_t kTebLastError = 0x34;
constexpr std::uint32_t kTebTlsSlots = 0xE10;
constexpr int kTlsSlotCount = 64;
constexpr std::uint32_t kThreadId = 0x1C;

// Windows values.
constexpr std::uint32_t kGmemMoveable = 0x0002;
constexpr std::uint32_t kGmemZeroInit = 0x0040;
constexpr std::uint32_t kHeapNoSerialize = 0x0001;
constexpr std::uint32_t kHeapZeroMemory = 0x0008;
constexpr std::uint32_t kHfileError = 0xFFFFFFFF;
constexpr std::uint32_t kTlsOutOfIndexes = 0xFFFFFFFF;
constexpr std::uint32_t kOfAccessMask = 0x3;  // OF_READ 0, OF_WRITE 1, OF_READWRITE 2
constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;
constexpr std::uint32_t kErrorEnvvarNotFound = 203;
constexpr std::uint32_t kErrorResourceNotFound = 1814;

// _initterm(begin, end) calls every non-null function pointer in [begin, end), so it runs as
// emulated code:
//   push esi; push edi; mov esi, [esp+12]; mov edi, [esp+16]
//   next: cmp esi, edi; jae done; mov eax, [esi]; test eax, eax; jz skip; call eax
//   skip: add esi, 4; jmp next
//   done: pop edi; pop esi; ret
constexpr std::uint8_t kInittermCode[] = {
    0x56, 0x57, 0x8B, 0x74, 0x24, 0x0C, 0x8B, 0x7C, 0x24, 0x10, 0x39, 0xFE, 0x73, 0x0D, 0x8B,
    0x06, 0x85, 0xC0, 0x74, 0x02, 0xFF, 0xD0, 0x83, 0xC6, 0x04, 0xEB, 0xEF, 0x5F, 0x5E, 0xC3};

constexpr std::uint8_t kHalt = 0xF4;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string withDllSuffix(std::string name) {
  name = lower(name);
  if (name.find('.') == std::string::npos) name += ".dll";
  return name;
}

}  // namespace

struct WindowsServices::Service {
  const char* dll;
  const char* name;
  int argumentCount;
  bool stdcall;  // else cdecl: the caller pops the arguments
  std::uint32_t (WindowsServices::*run)(const Arguments&);
};

const std::vector<WindowsServices::Service>& WindowsServices::serviceTable() {
  using S = WindowsServices;
  static const std::vector<Service> table = {
      {"kernel32.dll", "GlobalAlloc", 2, true, &S::globalAlloc},
      {"kernel32.dll", "GlobalLock", 1, true, &S::globalLock},
      {"kernel32.dll", "GlobalUnlock", 1, true, &S::globalUnlock},
      {"kernel32.dll", "GlobalFree", 1, true, &S::globalFree},
      {"kernel32.dll", "GlobalSize", 1, true, &S::globalSize},
      {"kernel32.dll", "GetProcessHeap", 0, true, &S::getProcessHeap},
      {"kernel32.dll", "HeapAlloc", 3, true, &S::heapAlloc},
      {"kernel32.dll", "HeapFree", 3, true, &S::heapFree},
      {"kernel32.dll", "_lopen", 2, true, &S::lopen},
      {"kernel32.dll", "_lread", 3, true, &S::lread},
      {"kernel32.dll", "_llseek", 3, true, &S::llseek},
      {"kernel32.dll", "_lclose", 1, true, &S::lclose},
      {"user32.dll", "LoadStringA", 4, true, &S::loadStringA},
      {"kernel32.dll", "FindResourceA", 3, true, &S::findResourceA},
      {"kernel32.dll", "SizeofResource", 2, true, &S::sizeofResource},
      {"kernel32.dll", "GetModuleHandleA", 1, true, &S::getModuleHandleA},
      {"kernel32.dll", "GetEnvironmentVariableA", 3, true, &S::getEnvironmentVariableA},
      {"kernel32.dll", "GetModuleHandleW", 1, true, &S::getModuleHandleW},
      {"kernel32.dll", "GetProcAddress", 2, true, &S::getProcAddress},
      {"kernel32.dll", "GetLastError", 0, true, &S::getLastError},
      {"kernel32.dll", "SetLastError", 1, true, &S::setLastErrorService},
      {"kernel32.dll", "GetCurrentThreadId", 0, true, &S::getCurrentThreadId},
      {"kernel32.dll", "InitializeCriticalSection", 1, true, &S::initializeCriticalSection},
      {"kernel32.dll", "EnterCriticalSection", 1, true, &S::enterCriticalSection},
      {"kernel32.dll", "LeaveCriticalSection", 1, true, &S::leaveCriticalSection},
      {"kernel32.dll", "DeleteCriticalSection", 1, true, &S::deleteCriticalSection},
      {"kernel32.dll", "TlsAlloc", 0, true, &S::tlsAlloc},
      {"kernel32.dll", "TlsFree", 1, true, &S::tlsFree},
      {"kernel32.dll", "TlsGetValue", 1, true, &S::tlsGetValue},
      {"kernel32.dll", "TlsSetValue", 2, true, &S::tlsSetValue},
      {"kernel32.dll", "Sleep", 1, true, &S::sleep},
      {"kernel32.dll", "VirtualQuery", 3, true, &S::virtualQuery},
      {"kernel32.dll", "VirtualProtect", 4, true, &S::virtualProtect},
      {"kernel32.dll", "CreateSemaphoreW", 4, true, &S::createSemaphoreW},
      {"kernel32.dll", "ReleaseSemaphore", 3, true, &S::releaseSemaphore},
      {"kernel32.dll", "WaitForSingleObject", 2, true, &S::waitForSingleObject},
      {"kernel32.dll", "CloseHandle", 1, true, &S::closeHandle},
      {"msvcrt.dll", "malloc", 1, false, &S::runtimeMalloc},
      {"msvcrt.dll", "calloc", 2, false, &S::runtimeCalloc},
      {"msvcrt.dll", "realloc", 2, false, &S::runtimeRealloc},
      {"msvcrt.dll", "free", 1, false, &S::runtimeFree},
      {"msvcrt.dll", "memcpy", 3, false, &S::runtimeMemcpy},
      {"msvcrt.dll", "memset", 3, false, &S::runtimeMemset},
      {"msvcrt.dll", "strlen", 1, false, &S::runtimeStrlen},
      {"msvcrt.dll", "strcmp", 2, false, &S::runtimeStrcmp},
      {"msvcrt.dll", "strncmp", 3, false, &S::runtimeStrncmp},
      {"msvcrt.dll", "strchr", 2, false, &S::runtimeStrchr},
      {"msvcrt.dll", "_errno", 0, false, &S::runtimeErrno},
      {"msvcrt.dll", "_lock", 1, false, &S::runtimeLock},
      {"msvcrt.dll", "_unlock", 1, false, &S::runtimeLock},
      {"msvcrt.dll", "abort", 0, false, &S::runtimeAbort},
      {"msvcrt.dll", "_amsg_exit", 1, false, &S::runtimeExitWithMessage},
  };
  return table;
}

WindowsServices::WindowsServices(Machine& machine, EmulatedHeap& heap, std::uint32_t stackLimit,
                                 std::uint32_t stackBase)
    : machine_(machine), heap_(heap), nextCode_(kCodePage), nextData_(kDataPage) {
  machine_.map(kTebAddress, kCodePage - kTebAddress, Machine::Access::ReadWrite);
  machine_.map(kCodePage, kPageSize, Machine::Access::ReadWrite);
  machine_.map(kTrapPage, kPageSize, Machine::Access::ReadWrite);
  machine_.write(kTrapPage, std::vector<std::uint8_t>(kPageSize, kHalt).data(), kPageSize);
  // The return address of host calls: a halt the run stops in front of.
  machine_.write(nextCode_++, &kHalt, 1);
  machine_.protect(kTrapPage, kPageSize, Machine::Access::Execute);

  machine_.write32(kTebAddress + kTebExceptionList, 0xFFFFFFFF);
  machine_.write32(kTebAddress + kTebStackBase, stackBase);
  machine_.write32(kTebAddress + kTebStackLimit, stackLimit);
  machine_.write32(kTebAddress + kTebSelf, kTebAddress);
  machine_.write32(kTebAddress + kTebProcessId, 0x10);
  machine_.write32(kTebAddress + kTebThreadId, kThreadId);
  machine_.write32(kTebAddress + kTebPeb, kPebAddress);
  machine_.setFsSegment(kTebAddress, kDescriptorTable);
  tlsSlotUsed_.assign(kTlsSlotCount, false);
}

void WindowsServices::setModule(const PeImage& image, const std::string& fileName) {
  moduleBase_ = image.base();
  resourceRva_ = image.resourceRva();
  moduleFileName_ = lower(fileName);
  for (const auto& [name, rva] : image.exports()) exports_[name] = image.base() + rva;
}

std::uint32_t WindowsServices::trapBegin() const {
  return kTrapPage;
}
std::uint32_t WindowsServices::trapEnd() const {
  return kTrapPage + kPageSize;
}
std::uint32_t WindowsServices::tebAddress() const {
  return kTebAddress;
}
std::uint32_t WindowsServices::returnAddress() const {
  return kCodePage;
}

std::uint32_t WindowsServices::addSlot(Slot slot) {
  if ((slots_.size() + 1) * kSlotSize > kPageSize) throw EmulationError("too many imports");
  slots_.push_back(std::move(slot));
  return kTrapPage + static_cast<std::uint32_t>(slots_.size() - 1) * kSlotSize;
}

std::uint32_t WindowsServices::bind(const std::string& dll, const std::string& name) {
  const std::string module = withDllSuffix(dll);
  const std::string key = module + "!" + name;
  if (auto it = bound_.find(key); it != bound_.end()) return it->second;

  std::uint32_t address = 0;
  if (key == "msvcrt.dll!_initterm") {
    address = nextCode_;
    machine_.protect(kCodePage, kPageSize, Machine::Access::ReadWrite);
    machine_.write(address, kInittermCode, sizeof kInittermCode);
    machine_.protect(kCodePage, kPageSize, Machine::Access::ReadExecute);
    nextCode_ += sizeof kInittermCode;
  } else if (key == "msvcrt.dll!__mb_cur_max") {
    address = nextData_;
    machine_.write32(address, 1);  // single-byte characters
    nextData_ += 4;
  } else if (key == "msvcrt.dll!_iob") {
    address = nextData_;  // stdin, stdout, stderr: 32 zero bytes each, never written through
    nextData_ += 3 * 32;
  } else {
    const Service* service = nullptr;
    for (const Service& s : serviceTable()) {
      if (s.dll == module && s.name == name) service = &s;
    }
    address = addSlot({module, name, service, nullptr, service ? service->argumentCount : 0});
  }
  bound_[key] = address;
  return address;
}

std::uint32_t WindowsServices::addHostFunction(const std::string& name, int argumentCount,
                                               HostFunction run) {
  return addSlot({"host", name, nullptr, std::move(run), argumentCount});
}

void WindowsServices::trap(std::uint32_t address) {
  const std::uint32_t index = (address - kTrapPage) / kSlotSize;
  if ((address - kTrapPage) % kSlotSize != 0 || index >= slots_.size())
    throw EmulationError("a jump to " + hexValue(address) + ", which is no function");
  const Slot& slot = slots_[index];
  const std::uint32_t esp = machine_.get(Machine::Register::Esp);
  const Arguments arguments(machine_, esp);
  std::uint32_t result;
  bool stdcall = true;
  if (slot.host) {
    result = slot.host(arguments);
  } else if (slot.service) {
    result = (this->*slot.service->run)(arguments);
    stdcall = slot.service->stdcall;
  } else {
    const std::uint32_t caller = machine_.read32(esp);
    throw EmulationError("the plug-in called " + slot.dll + "!" + slot.name +
                         ", which this emulation does not provide (from " + moduleFileName_ + "+" +
                         hexValue(caller - moduleBase_) + ")");
  }
  machine_.set(Machine::Register::Eax, result);
  machine_.set(Machine::Register::Eip, machine_.read32(esp));
  machine_.set(Machine::Register::Esp, esp + 4 + (stdcall ? 4 * slot.argumentCount : 0));
}

void WindowsServices::setLastError(std::uint32_t code) {
  machine_.write32(kTebAddress + kTebLastError, code);
}

// Thread-local storage.

void WindowsServices::setUpModuleTls(const PeImage::Tls& tls) {
  // Index 0 belongs to the program; the module gets index 1.
  const std::uint32_t index = 1;
  const std::uint32_t templateSize = tls.templateEnd - tls.templateStart;
  const std::uint32_t block =
      heap_.allocate(templateSize + tls.zeroFill, EmulatedHeap::Kind::System, true);
  std::vector<std::uint8_t> bytes(templateSize);
  machine_.read(tls.templateStart, bytes.data(), bytes.size());
  machine_.write(block, bytes.data(), bytes.size());
  const std::uint32_t pointers = nextData_;
  nextData_ += 8;
  machine_.write32(pointers, 0);
  machine_.write32(pointers + 4 * index, block);
  machine_.write32(kTebAddress + kTebTlsPointer, pointers);
  machine_.write32(tls.indexAddress, index);
}

std::uint32_t WindowsServices::tlsAlloc(const Arguments&) {
  auto it = std::find(tlsSlotUsed_.begin(), tlsSlotUsed_.end(), false);
  if (it == tlsSlotUsed_.end()) return kTlsOutOfIndexes;
  *it = true;
  const auto index = static_cast<std::uint32_t>(it - tlsSlotUsed_.begin());
  machine_.write32(kTebAddress + kTebTlsSlots + 4 * index, 0);
  return index;
}

std::uint32_t WindowsServices::tlsFree(const Arguments& a) {
  if (a[0] >= tlsSlotUsed_.size() || !tlsSlotUsed_[a[0]]) return 0;
  tlsSlotUsed_[a[0]] = false;
  return 1;
}

std::uint32_t WindowsServices::tlsGetValue(const Arguments& a) {
  if (a[0] >= tlsSlotUsed_.size()) {
    setLastError(87);  // ERROR_INVALID_PARAMETER
    return 0;
  }
  setLastError(0);
  return machine_.read32(kTebAddress + kTebTlsSlots + 4 * a[0]);
}

std::uint32_t WindowsServices::tlsSetValue(const Arguments& a) {
  if (a[0] >= tlsSlotUsed_.size()) return 0;
  machine_.write32(kTebAddress + kTebTlsSlots + 4 * a[0], a[1]);
  return 1;
}

// Global memory: movable blocks behind handles, with lock counts.

WindowsServices::GlobalBlock& WindowsServices::globalBlock(const char* function,
                                                           std::uint32_t handle) {
  const std::uint32_t slot = (handle - kBlockHandleBase) / 8 - 1;
  if (handle < kBlockHandleBase + 8 || handle % 8 != 0 || slot >= globalBlocks_.size() ||
      !globalSlotLive_[slot])
    throw EmulationError(std::string(function) + " of " + hexValue(handle) +
                         ", which is no live global memory block");
  return globalBlocks_[slot];
}

bool WindowsServices::isGlobalBlock(std::uint32_t handle) const {
  const std::uint32_t slot = (handle - kBlockHandleBase) / 8 - 1;
  return handle >= kBlockHandleBase + 8 && handle % 8 == 0 && slot < globalBlocks_.size() &&
         globalSlotLive_[slot];
}

std::uint32_t WindowsServices::globalAlloc(const Arguments& a) {
  const std::uint32_t flags = a[0];
  if (!(flags & kGmemMoveable) || (flags & ~(kGmemMoveable | kGmemZeroInit)))
    throw EmulationError("GlobalAlloc with flags " + hexValue(flags) +
                         ": only movable blocks are emulated");
  if (faultNow(allocations_, plan_.failAllocation)) {
    setLastError(8);  // ERROR_NOT_ENOUGH_MEMORY
    return 0;
  }
  const std::uint32_t address =
      heap_.allocate(a[1], EmulatedHeap::Kind::GlobalMemory, flags & kGmemZeroInit);
  if (!address) {
    setLastError(8);
    return 0;
  }
  auto free = std::find(globalSlotLive_.begin(), globalSlotLive_.end(), false);
  const auto slot = static_cast<std::uint32_t>(free - globalSlotLive_.begin());
  if (free == globalSlotLive_.end()) {
    globalBlocks_.push_back({});
    globalSlotLive_.push_back(false);
  }
  globalBlocks_[slot] = {address, a[1], 0};
  globalSlotLive_[slot] = true;
  return kBlockHandleBase + 8 * (slot + 1);
}

std::uint32_t WindowsServices::globalLock(const Arguments& a) {
  GlobalBlock& block = globalBlock("GlobalLock", a[0]);
  if (faultNow(locks_, plan_.failLock)) return 0;
  ++block.lockCount;
  return block.address;
}

std::uint32_t WindowsServices::globalUnlock(const Arguments& a) {
  GlobalBlock& block = globalBlock("GlobalUnlock", a[0]);
  if (block.lockCount == 0) {
    setLastError(158);  // ERROR_NOT_LOCKED
    return 0;
  }
  --block.lockCount;
  if (block.lockCount == 0) setLastError(0);
  return block.lockCount > 0 ? 1 : 0;
}

std::uint32_t WindowsServices::globalFree(const Arguments& a) {
  GlobalBlock& block = globalBlock("GlobalFree", a[0]);
  heap_.release(block.address, EmulatedHeap::Kind::GlobalMemory);
  globalSlotLive_[(a[0] - kBlockHandleBase) / 8 - 1] = false;
  return 0;
}

std::uint32_t WindowsServices::globalSize(const Arguments& a) {
  return globalBlock("GlobalSize", a[0]).size;
}

int WindowsServices::lockCount(std::uint32_t handle) const {
  return isGlobalBlock(handle) ? globalBlocks_[(handle - kBlockHandleBase) / 8 - 1].lockCount : 0;
}

std::vector<std::uint8_t> WindowsServices::globalBlockBytes(std::uint32_t handle) const {
  const GlobalBlock& block =
      const_cast<WindowsServices*>(this)->globalBlock("reading the block", handle);
  std::vector<std::uint8_t> bytes(block.size);
  machine_.read(block.address, bytes.data(), bytes.size());
  return bytes;
}

void WindowsServices::hostGlobalFree(std::uint32_t handle) {
  GlobalBlock& block = globalBlock("GlobalFree", handle);
  heap_.release(block.address, EmulatedHeap::Kind::GlobalMemory);
  globalSlotLive_[(handle - kBlockHandleBase) / 8 - 1] = false;
}

// The process heap.

std::uint32_t WindowsServices::getProcessHeap(const Arguments&) {
  return kProcessHeapHandle;
}

std::uint32_t WindowsServices::heapAlloc(const Arguments& a) {
  if (a[0] != kProcessHeapHandle)
    throw EmulationError("HeapAlloc on a heap other than the process heap");
  if (a[1] & ~(kHeapNoSerialize | kHeapZeroMemory))
    throw EmulationError("HeapAlloc with flags " + hexValue(a[1]) + " is not emulated");
  if (faultNow(allocations_, plan_.failAllocation)) return 0;
  return heap_.allocate(a[2], EmulatedHeap::Kind::ProcessHeap, a[1] & kHeapZeroMemory);
}

std::uint32_t WindowsServices::heapFree(const Arguments& a) {
  if (a[0] != kProcessHeapHandle)
    throw EmulationError("HeapFree on a heap other than the process heap");
  if (a[2] != 0) heap_.release(a[2], EmulatedHeap::Kind::ProcessHeap);
  return 1;
}

// Files, on the host's file system.

std::uint32_t WindowsServices::lopen(const Arguments& a) {
  const std::string path = machine_.readString(a[0]);
  if ((a[1] & kOfAccessMask) != 0)
    throw EmulationError("_lopen of \"" + path + "\" for writing is not emulated");
  if (faultNow(opens_, plan_.failOpen)) {
    setLastError(kErrorFileNotFound);
    return kHfileError;
  }
  return hostOpen(path);
}

std::uint32_t WindowsServices::hostOpen(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    setLastError(kErrorFileNotFound);
    return kHfileError;
  }
  while (files_.count(nextFileHandle_)) nextFileHandle_ += 4;
  const std::uint32_t handle = nextFileHandle_;
  files_[handle] = {descriptor, path};
  nextFileHandle_ += 4;
  return handle;
}

std::uint32_t WindowsServices::lread(const Arguments& a) {
  auto it = files_.find(a[0]);
  if (it == files_.end()) {
    setLastError(kErrorInvalidHandle);
    return kHfileError;
  }
  std::vector<std::uint8_t> buffer(std::min<std::uint32_t>(a[2], 0x1000000));
  std::size_t total = 0;
  while (total < buffer.size()) {
    const ssize_t got = ::read(it->second.descriptor, buffer.data() + total, buffer.size() - total);
    if (got < 0) return kHfileError;
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  machine_.write(a[1], buffer.data(), total);
  return static_cast<std::uint32_t>(total);
}

std::uint32_t WindowsServices::llseek(const Arguments& a) {
  auto it = files_.find(a[0]);
  if (it == files_.end()) {
    setLastError(kErrorInvalidHandle);
    return kHfileError;
  }
  const int origin = a.asSigned(2);
  const int whence = origin == 2 ? SEEK_END : origin == 1 ? SEEK_CUR : SEEK_SET;
  if (origin < 0 || origin > 2)
    throw EmulationError("_llseek with origin " + std::to_string(origin));
  const off_t position = ::lseek(it->second.descriptor, a.asSigned(1), whence);
  return position < 0 ? kHfileError : static_cast<std::uint32_t>(position);
}

std::uint32_t WindowsServices::lclose(const Arguments& a) {
  auto it = files_.find(a[0]);
  if (it == files_.end()) {
    setLastError(kErrorInvalidHandle);
    return kHfileError;
  }
  ::close(it->second.descriptor);
  files_.erase(it);
  return 0;
}

std::int64_t WindowsServices::filePosition(std::uint32_t handle) const {
  auto it = files_.find(handle);
  return it == files_.end() ? -1 : ::lseek(it->second.descriptor, 0, SEEK_CUR);
}

void WindowsServices::hostClose(std::uint32_t handle) {
  auto it = files_.find(handle);
  if (it == files_.end()) throw EmulationError("the host closed a file that is not open");
  ::close(it->second.descriptor);
  files_.erase(it);
}

// Resources, read from the module's resource section in emulated memory. A directory is a
// 16-byte header with the counts of named and numbered entries, then 8-byte entries: the name
// (or a string offset, high bit set) and the offset of the data entry (or, high bit set, of a
// subdirectory). A data entry holds the data's relative address and size.

std::uint32_t WindowsServices::resourceEntry(std::uint32_t directory, std::uint32_t id,
                                             bool anyId) const {
  const std::uint32_t root = moduleBase_ + resourceRva_;
  const std::uint32_t counts = machine_.read32(root + directory + 12);
  const std::uint32_t named = counts & 0xFFFF;
  const std::uint32_t numbered = counts >> 16;
  for (std::uint32_t i = named; i < named + numbered; ++i) {
    const std::uint32_t entry = root + directory + 16 + 8 * i;
    if (anyId || machine_.read32(entry) == id) return machine_.read32(entry + 4);
  }
  return 0xFFFFFFFF;
}

std::uint32_t WindowsServices::findResource(std::uint32_t type, std::uint32_t name,
                                            std::uint32_t language) const {
  if (!moduleBase_ || !resourceRva_) return 0;
  const std::uint32_t anyLanguage = 0xFFFFFFFF;
  std::uint32_t offset = 0;
  for (std::uint32_t id : {type, name, language}) {
    if (!(offset & 0x80000000) && offset != 0) return 0;  // a data entry where a directory belongs
    offset = resourceEntry(offset & 0x7FFFFFFF, id, id == anyLanguage);
    if (offset == 0xFFFFFFFF) return 0;
  }
  if (offset & 0x80000000) return 0;
  return moduleBase_ + resourceRva_ + offset;
}

std::uint32_t WindowsServices::stringResourceText(std::uint32_t id, std::u16string& text) const {
  const std::uint32_t entry = findResource(kRtString, id / 16 + 1, 0xFFFFFFFF);
  if (!entry) return 0;
  std::uint32_t at = moduleBase_ + machine_.read32(entry);
  const std::uint32_t end = at + machine_.read32(entry + 4);
  for (std::uint32_t skip = id % 16; skip > 0; --skip) {
    std::uint16_t length;
    machine_.read(at, &length, 2);
    at += 2 + 2u * length;
  }
  std::uint16_t length = 0;
  if (at + 2 <= end) machine_.read(at, &length, 2);
  if (at + 2 + 2u * length > end) throw EmulationError("a string resource runs past its block");
  text.resize(length);
  machine_.read(at + 2, text.data(), 2u * length);
  return 1;
}

std::uint32_t WindowsServices::loadStringA(const Arguments& a) {
  const std::uint32_t id = a[1] & 0xFFFF;
  const std::uint32_t buffer = a[2];
  const std::int32_t bufferMax = a.asSigned(3);
  if (bufferMax <= 0)
    throw EmulationError("LoadStringA without room in the buffer is not emulated");
  std::u16string text;
  if (a[0] != moduleBase_ || !stringResourceText(id, text)) text.clear();
  std::string ansi;
  for (char16_t c : text) {
    if (c >= 0x80) throw EmulationError("LoadStringA of text beyond ASCII is not emulated");
    ansi.push_back(static_cast<char>(c));
  }
  ansi.resize(std::min<std::size_t>(ansi.size(), static_cast<std::size_t>(bufferMax) - 1));
  machine_.write(buffer, ansi.c_str(), ansi.size() + 1);
  return static_cast<std::uint32_t>(ansi.size());
}

std::uint32_t WindowsServices::findResourceA(const Arguments& a) {
  auto resourceId = [&](std::uint32_t value) -> std::uint32_t {
    if (value < 0x10000) return value;
    const std::string text = machine_.readString(value);
    if (text.size() > 1 && text[0] == '#')
      return static_cast<std::uint32_t>(std::stoul(text.substr(1)));
    throw EmulationError("FindResourceA by the name \"" + text + "\" is not emulated");
  };
  if (a[0] != moduleBase_) throw EmulationError("FindResourceA on a module other than the plug-in");
  const std::uint32_t entry = findResource(resourceId(a[2]), resourceId(a[1]), 0xFFFFFFFF);
  if (!entry) setLastError(kErrorResourceNotFound);
  return entry;
}

std::uint32_t WindowsServices::sizeofResource(const Arguments& a) {
  if (a[0] != moduleBase_ || a[1] == 0) return 0;
  return machine_.read32(a[1] + 4);
}

// Modules.

std::uint32_t WindowsServices::moduleHandleFor(std::string name) const {
  name = withDllSuffix(name);
  if (name == moduleFileName_) return moduleBase_;
  for (std::uint32_t i = 0; i < std::size(kSystemModules); ++i) {
    if (name == kSystemModules[i]) return kSystemModuleBase + 0x10000 * i;
  }
  return 0;
}

std::string WindowsServices::moduleName(std::uint32_t handle) const {
  for (std::uint32_t i = 0; i < std::size(kSystemModules); ++i) {
    if (handle == kSystemModuleBase + 0x10000 * i) return kSystemModules[i];
  }
  return {};
}

// The emulated process has the environment of the test that runs it.
std::uint32_t WindowsServices::getEnvironmentVariableA(const Arguments& a) {
  const char* value = std::getenv(machine_.readString(a[0]).c_str());
  if (!value) {
    setLastError(kErrorEnvvarNotFound);
    return 0;
  }
  const auto length = static_cast<std::uint32_t>(std::strlen(value));
  if (length >= a[2]) return length + 1;
  machine_.write(a[1], value, length + 1);
  return length;
}

std::uint32_t WindowsServices::getModuleHandleA(const Arguments& a) {
  if (a[0] == 0) throw EmulationError("GetModuleHandleA(NULL): there is no program image here");
  const std::uint32_t handle = moduleHandleFor(machine_.readString(a[0]));
  if (!handle) setLastError(kErrorModNotFound);
  return handle;
}

std::uint32_t WindowsServices::getModuleHandleW(const Arguments& a) {
  if (a[0] == 0) throw EmulationError("GetModuleHandleW(NULL): there is no program image here");
  std::string name;
  for (std::uint32_t at = a[0];; at += 2) {
    std::uint16_t c;
    machine_.read(at, &c, 2);
    if (c == 0) break;
    name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  const std::uint32_t handle = moduleHandleFor(name);
  if (!handle) setLastError(kErrorModNotFound);
  return handle;
}

std::uint32_t WindowsServices::getProcAddress(const Arguments& a) {
  if (a[1] < 0x10000) throw EmulationError("GetProcAddress by ordinal is not emulated");
  const std::string name = machine_.readString(a[1]);
  if (a[0] == moduleBase_) {
    auto it = exports_.find(name);
    if (it != exports_.end()) return it->second;
    setLastError(kErrorProcNotFound);
    return 0;
  }
  const std::string dll = moduleName(a[0]);
  if (dll.empty()) {
    setLastError(kErrorModNotFound);
    return 0;
  }
  return bind(dll, name);
}

// Pages. Windows protections map onto the machine's; regions of the module are image memory.

namespace {

constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageReadOnly = 0x02;
constexpr std::uint32_t kPageReadWrite = 0x04;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageExecuteRead = 0x20;
constexpr std::uint32_t kPageExecuteReadWrite = 0x40;
constexpr std::uint32_t kMemCommit = 0x1000;
constexpr std::uint32_t kMemFree = 0x10000;
constexpr std::uint32_t kMemPrivate = 0x20000;
constexpr std::uint32_t kMemImage = 0x1000000;

std::uint32_t pageProtection(Machine::Access access) {
  switch (access) {
    case Machine::Access::None:
      return kPageNoAccess;
    case Machine::Access::Read:
      return kPageReadOnly;
    case Machine::Access::ReadWrite:
      return kPageReadWrite;
    case Machine::Access::ReadExecute:
      return kPageExecuteRead;
    case Machine::Access::ReadWriteExecute:
      return kPageExecuteReadWrite;
    case Machine::Access::Execute:
      return kPageExecute;
  }
  return kPageNoAccess;
}

Machine::Access machineAccess(std::uint32_t protection) {
  switch (protection & 0xFF) {
    case kPageNoAccess:
      return Machine::Access::None;
    case kPageReadOnly:
      return Machine::Access::Read;
    case kPageReadWrite:
      return Machine::Access::ReadWrite;
    case kPageExecute:
      return Machine::Access::Execute;
    case kPageExecuteRead:
      return Machine::Access::ReadExecute;
    case kPageExecuteReadWrite:
      return Machine::Access::ReadWriteExecute;
  }
  throw EmulationError("VirtualProtect to protection " + hexValue(protection) + " is not emulated");
}

}  // namespace

std::uint32_t WindowsServices::virtualQuery(const Arguments& a) {
  constexpr std::uint32_t kInformationSize = 28;
  if (a[2] < kInformationSize) return 0;
  const Machine::Region r = machine_.region(a[0]);
  const bool image =
      r.mapped && r.begin >= moduleBase_ && moduleBase_ != 0 && r.begin < moduleBase_ + 0x10000000;
  const std::uint32_t protection = r.mapped ? pageProtection(r.access) : kPageNoAccess;
  const std::uint32_t information[7] = {
      a[0] & ~(kPageSize - 1),                            // BaseAddress
      r.mapped ? (image ? moduleBase_ : r.begin) : 0,     // AllocationBase
      r.mapped ? protection : 0,                          // AllocationProtect
      r.end - (a[0] & ~(kPageSize - 1)),                  // RegionSize
      r.mapped ? kMemCommit : kMemFree,                   // State
      protection,                                         // Protect
      r.mapped ? (image ? kMemImage : kMemPrivate) : 0};  // Type
  for (int i = 0; i < 7; ++i) machine_.write32(a[1] + 4 * i, information[i]);
  return kInformationSize;
}

std::uint32_t WindowsServices::virtualProtect(const Arguments& a) {
  const std::uint32_t begin = a[0] & ~(kPageSize - 1);
  const std::uint32_t end = (a[0] + a[1] + kPageSize - 1) & ~(kPageSize - 1);
  const Machine::Region r = machine_.region(begin);
  if (!r.mapped || a[3] == 0) {
    setLastError(87);  // ERROR_INVALID_PARAMETER
    return 0;
  }
  machine_.protect(begin, end - begin, machineAccess(a[2]));
  machine_.write32(a[3], pageProtection(r.access));
  return 1;
}

// Threads and errors. There is one thread, so critical sections never wait.

std::uint32_t WindowsServices::getLastError(const Arguments&) {
  return machine_.read32(kTebAddress + kTebLastError);
}

std::uint32_t WindowsServices::setLastErrorService(const Arguments& a) {
  setLastError(a[0]);
  return 0;
}

std::uint32_t WindowsServices::getCurrentThreadId(const Arguments&) {
  return kThreadId;
}

std::uint32_t WindowsServices::initializeCriticalSection(const Arguments& a) {
  machine_.write(a[0], std::vector<std::uint8_t>(24, 0).data(), 24);
  criticalSections_[a[0]] = 0;
  return 0;
}

std::uint32_t WindowsServices::enterCriticalSection(const Arguments& a) {
  auto it = criticalSections_.find(a[0]);
  if (it == criticalSections_.end())
    throw EmulationError("EnterCriticalSection of an uninitialised critical section");
  ++it->second;
  return 0;
}

std::uint32_t WindowsServices::leaveCriticalSection(const Arguments& a) {
  auto it = criticalSections_.find(a[0]);
  if (it == criticalSections_.end() || it->second == 0)
    throw EmulationError("LeaveCriticalSection of a critical section that is not entered");
  --it->second;
  return 0;
}

std::uint32_t WindowsServices::deleteCriticalSection(const Arguments& a) {
  criticalSections_.erase(a[0]);
  return 0;
}

std::uint32_t WindowsServices::sleep(const Arguments&) {
  return 0;
}

std::uint32_t WindowsServices::createSemaphoreW(const Arguments& a) {
  if (a[3] != 0) throw EmulationError("CreateSemaphoreW of a named semaphore is not emulated");
  semaphores_[nextSemaphore_] = a.asSigned(1);
  return (nextSemaphore_ += 4) - 4;
}

std::uint32_t WindowsServices::releaseSemaphore(const Arguments& a) {
  auto it = semaphores_.find(a[0]);
  if (it == semaphores_.end()) return 0;
  if (a[2]) machine_.write32(a[2], static_cast<std::uint32_t>(it->second));
  it->second += a.asSigned(1);
  return 1;
}

std::uint32_t WindowsServices::waitForSingleObject(const Arguments& a) {
  auto it = semaphores_.find(a[0]);
  if (it == semaphores_.end())
    throw EmulationError("WaitForSingleObject on " + hexValue(a[0]) + ", which is no semaphore");
  if (it->second == 0)
    throw EmulationError(
        "WaitForSingleObject on a semaphore that nothing can release: the only "
        "thread would wait for ever");
  --it->second;
  return 0;  // WAIT_OBJECT_0
}

std::uint32_t WindowsServices::closeHandle(const Arguments& a) {
  if (semaphores_.erase(a[0])) return 1;
  if (files_.count(a[0])) return lclose(a) == 0 ? 1 : 0;
  setLastError(kErrorInvalidHandle);
  return 0;
}

// The C runtime.

std::uint32_t WindowsServices::runtimeMalloc(const Arguments& a) {
  return heap_.allocate(a[0], EmulatedHeap::Kind::Runtime, false);
}

std::uint32_t WindowsServices::runtimeCalloc(const Arguments& a) {
  const std::uint64_t size = std::uint64_t{a[0]} * a[1];
  if (size > 0xFFFFFFFF) return 0;
  return heap_.allocate(static_cast<std::uint32_t>(size), EmulatedHeap::Kind::Runtime, true);
}

std::uint32_t WindowsServices::runtimeRealloc(const Arguments& a) {
  if (a[0] == 0) return heap_.allocate(a[1], EmulatedHeap::Kind::Runtime, false);
  if (!heap_.isLive(a[0], EmulatedHeap::Kind::Runtime))
    throw EmulationError("realloc of " + hexValue(a[0]) + ", which is no live malloc block");
  const std::uint32_t moved = heap_.allocate(a[1], EmulatedHeap::Kind::Runtime, false);
  if (!moved) return 0;
  std::vector<std::uint8_t> bytes(std::min(a[1], heap_.sizeOf(a[0])));
  machine_.read(a[0], bytes.data(), bytes.size());
  machine_.write(moved, bytes.data(), bytes.size());
  heap_.release(a[0], EmulatedHeap::Kind::Runtime);
  return moved;
}

std::uint32_t WindowsServices::runtimeFree(const Arguments& a) {
  if (a[0] != 0) heap_.release(a[0], EmulatedHeap::Kind::Runtime);
  return 0;
}

std::uint32_t WindowsServices::runtimeMemcpy(const Arguments& a) {
  std::vector<std::uint8_t> bytes(a[2]);
  machine_.read(a[1], bytes.data(), bytes.size());
  machine_.write(a[0], bytes.data(), bytes.size());
  return a[0];
}

std::uint32_t WindowsServices::runtimeMemset(const Arguments& a) {
  const std::vector<std::uint8_t> bytes(a[2], static_cast<std::uint8_t>(a[1]));
  machine_.write(a[0], bytes.data(), bytes.size());
  return a[0];
}

std::uint32_t WindowsServices::runtimeStrlen(const Arguments& a) {
  return static_cast<std::uint32_t>(machine_.readString(a[0]).size());
}

std::uint32_t WindowsServices::runtimeStrcmp(const Arguments& a) {
  const int order =
      std::strcmp(machine_.readString(a[0]).c_str(), machine_.readString(a[1]).c_str());
  return static_cast<std::uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0);
}

std::uint32_t WindowsServices::runtimeStrncmp(const Arguments& a) {
  for (std::uint32_t i = 0; i < a[2]; ++i) {
    std::uint8_t left, right;
    machine_.read(a[0] + i, &left, 1);
    machine_.read(a[1] + i, &right, 1);
    if (left != right) return left < right ? 0xFFFFFFFF : 1;
    if (left == 0) break;
  }
  return 0;
}

std::uint32_t WindowsServices::runtimeStrchr(const Arguments& a) {
  const char wanted = static_cast<char>(a[1]);
  for (std::uint32_t at = a[0];; ++at) {
    char c;
    machine_.read(at, &c, 1);
    if (c == wanted) return at;
    if (c == '\0') return 0;
  }
}

std::uint32_t WindowsServices::runtimeErrno(const Arguments&) {
  static constexpr std::uint32_t kErrnoOffset = 0xFFC;  // the last word of the data page
  return kDataPage + kErrnoOffset;
}

std::uint32_t WindowsServices::runtimeLock(const Arguments&) {
  return 0;
}

std::uint32_t WindowsServices::runtimeAbort(const Arguments&) {
  throw EmulationError("the plug-in called abort()");
}

std::uint32_t WindowsServices::runtimeExitWithMessage(const Arguments& a) {
  throw EmulationError("the plug-in's runtime stopped with error " + std::to_string(a[0]));
}

Holdings WindowsServices::holdings() const {
  Holdings h;
  for (std::size_t i = 0; i < globalBlocks_.size(); ++i) {
    if (!globalSlotLive_[i]) continue;
    ++h.liveGlobalBlocks;
    h.lockedGlobalBlocks += globalBlocks_[i].lockCount > 0;
  }
  h.liveHeapBlocks = heap_.liveBlocks(EmulatedHeap::Kind::ProcessHeap);
  h.openFiles = static_cast<int>(files_.size());
  return h;
}

void WindowsServices::setFaultPlan(const FaultPlan& plan) {
  plan_ = plan;
  allocations_ = locks_ = opens_ = 0;
}

host_contract::TakenBlock EmulatedBlocks::take(std::uint32_t handle) const {
  host_contract::TakenBlock taken;
  taken.isBlock = services_.isGlobalBlock(handle);
  if (!taken.isBlock) return taken;
  taken.locked = services_.lockCount(handle) > 0;
  taken.bytes = services_.globalBlockBytes(handle);
  taken.size = taken.bytes.size();
  taken.read = true;
  services_.hostGlobalFree(handle);
  taken.freed = true;
  return taken;
}

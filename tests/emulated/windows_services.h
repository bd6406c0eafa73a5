// SPDX-License-Identifier: MIT
// The Windows services an emulated plug-in DLL imports, as native implementations.
//
// Every import is bound to a trap slot: a code address at which the machine stops and calls
// the service's implementation here, which reads the arguments from the emulated stack, works
// on emulated memory, sets EAX and returns to the caller, popping the arguments of a stdcall
// function. An import without an implementation is bound to a slot that fails the run, naming
// the function, when it is called. A few runtime imports are data (bound to emulated data) or
// call back into emulated code (bound to a few bytes of machine code).
//
// The state behind the services is what a host can inspect: movable global memory blocks with
// lock counts, the process heap, files opened with _lopen on the host's file system, TLS slots,
// and the module's own resource section for the string and resource calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/emulated/emulated_heap.h"
#include "tests/emulated/machine.h"
#include "tests/emulated/pe_image.h"
#include "tests/support/host_contract.h"

// What the services hold right now; heap blocks are those of the process heap.
using Holdings = host_contract::Holdings;

// When failAllocation is N > 0, the N-th allocation (GlobalAlloc or HeapAlloc) from the moment
// the plan is set fails; likewise for GlobalLock and _lopen. 0 fails nothing.
struct FaultPlan {
  int failAllocation = 0;
  int failLock = 0;
  int failOpen = 0;
};

class WindowsServices {
 public:
  // The 32-bit arguments of a call, read from the emulated stack above the return address.
  class Arguments {
   public:
    Arguments(const Machine& machine, std::uint32_t esp) : machine_(machine), esp_(esp) {}
    std::uint32_t operator[](int i) const { return machine_.read32(esp_ + 4 + 4 * i); }
    std::int32_t asSigned(int i) const { return static_cast<std::int32_t>((*this)[i]); }

   private:
    const Machine& machine_;
    std::uint32_t esp_;
  };
  using HostFunction = std::function<std::uint32_t(const Arguments&)>;

  // Maps the services' own pages and the thread environment block, for a thread whose stack
  // is [stackLimit, stackBase).
  WindowsServices(Machine& machine, EmulatedHeap& heap, std::uint32_t stackLimit,
                  std::uint32_t stackBase);

  // The module the services answer resource, module-handle and GetProcAddress calls for.
  void setModule(const PeImage& image, const std::string& fileName);

  // The address an import binds to.
  std::uint32_t bind(const std::string& dll, const std::string& name);
  // A stdcall function of the host that emulated code can call, such as a progress callback.
  std::uint32_t addHostFunction(const std::string& name, int argumentCount, HostFunction run);
  // Where emulated code returns to when a host call is done: the run stops there.
  std::uint32_t returnAddress() const;
  // Handles the machine's trap at address.
  void trap(std::uint32_t address);
  std::uint32_t trapBegin() const;
  std::uint32_t trapEnd() const;
  std::uint32_t tebAddress() const;

  // Static thread-local storage of the module: fills its index and gives this thread its copy
  // of the template.
  void setUpModuleTls(const PeImage::Tls& tls);

  // Global memory as the host uses it.
  bool isGlobalBlock(std::uint32_t handle) const;
  int lockCount(std::uint32_t handle) const;
  std::vector<std::uint8_t> globalBlockBytes(std::uint32_t handle) const;
  void hostGlobalFree(std::uint32_t handle);

  // Files as the host uses them (for IsSupported's handle form).
  std::uint32_t hostOpen(const std::string& path);
  std::int64_t filePosition(std::uint32_t handle) const;
  void hostClose(std::uint32_t handle);

  // A resource's data entry, looked up the way FindResourceEx does, or 0.
  std::uint32_t findResource(std::uint32_t type, std::uint32_t name, std::uint32_t language) const;

  Holdings holdings() const;
  void setFaultPlan(const FaultPlan& plan);

 private:
  struct Service;
  struct Slot {
    std::string dll;
    std::string name;
    const Service* service;  // null: not provided
    HostFunction host;       // or a host function of argumentCount arguments
    int argumentCount = 0;
  };
  struct GlobalBlock {
    std::uint32_t address;
    std::uint32_t size;
    int lockCount;
  };
  struct OpenFile {
    int descriptor;
    std::string path;
  };

  static const std::vector<Service>& serviceTable();
  std::uint32_t addSlot(Slot slot);
  std::uint32_t resourceEntry(std::uint32_t directory, std::uint32_t id, bool anyId) const;
  std::uint32_t stringResourceText(std::uint32_t id, std::u16string& text) const;
  GlobalBlock& globalBlock(const char* function, std::uint32_t handle);
  bool faultNow(int& counter, int failAt) { return ++counter == failAt && failAt > 0; }
  void setLastError(std::uint32_t code);
  std::uint32_t moduleHandleFor(std::string name) const;
  std::string moduleName(std::uint32_t handle) const;

  // The services, in the order of the service table.
  std::uint32_t globalAlloc(const Arguments& a);
  std::uint32_t globalLock(const Arguments& a);
  std::uint32_t globalUnlock(const Arguments& a);
  std::uint32_t globalFree(const Arguments& a);
  std::uint32_t globalSize(const Arguments& a);
  std::uint32_t getProcessHeap(const Arguments& a);
  std::uint32_t heapAlloc(const Arguments& a);
  std::uint32_t heapFree(const Arguments& a);
  std::uint32_t lopen(const Arguments& a);
  std::uint32_t lread(const Arguments& a);
  std::uint32_t llseek(const Arguments& a);
  std::uint32_t lclose(const Arguments& a);
  std::uint32_t loadStringA(const Arguments& a);
  std::uint32_t findResourceA(const Arguments& a);
  std::uint32_t sizeofResource(const Arguments& a);
  std::uint32_t getModuleHandleA(const Arguments& a);
  std::uint32_t getEnvironmentVariableA(const Arguments& a);
  std::uint32_t getModuleHandleW(const Arguments& a);
  std::uint32_t getProcAddress(const Arguments& a);
  std::uint32_t getLastError(const Arguments& a);
  std::uint32_t setLastErrorService(const Arguments& a);
  std::uint32_t getCurrentThreadId(const Arguments& a);
  std::uint32_t initializeCriticalSection(const Arguments& a);
  std::uint32_t enterCriticalSection(const Arguments& a);
  std::uint32_t leaveCriticalSection(const Arguments& a);
  std::uint32_t deleteCriticalSection(const Arguments& a);
  std::uint32_t tlsAlloc(const Arguments& a);
  std::uint32_t tlsFree(const Arguments& a);
  std::uint32_t tlsGetValue(const Arguments& a);
  std::uint32_t tlsSetValue(const Arguments& a);
  std::uint32_t sleep(const Arguments& a);
  std::uint32_t virtualQuery(const Arguments& a);
  std::uint32_t virtualProtect(const Arguments& a);
  std::uint32_t createSemaphoreW(const Arguments& a);
  std::uint32_t releaseSemaphore(const Arguments& a);
  std::uint32_t waitForSingleObject(const Arguments& a);
  std::uint32_t closeHandle(const Arguments& a);
  std::uint32_t runtimeMalloc(const Arguments& a);
  std::uint32_t runtimeCalloc(const Arguments& a);
  std::uint32_t runtimeRealloc(const Arguments& a);
  std::uint32_t runtimeFree(const Arguments& a);
  std::uint32_t runtimeMemcpy(const Arguments& a);
  std::uint32_t runtimeMemset(const Arguments& a);
  std::uint32_t runtimeStrlen(const Arguments& a);
  std::uint32_t runtimeStrcmp(const Arguments& a);
  std::uint32_t runtimeStrncmp(const Arguments& a);
  std::uint32_t runtimeStrchr(const Arguments& a);
  std::uint32_t runtimeErrno(const Arguments& a);
  std::uint32_t runtimeLock(const Arguments& a);
  std::uint32_t runtimeAbort(const Arguments& a);
  std::uint32_t runtimeExitWithMessage(const Arguments& a);

  Machine& machine_;
  EmulatedHeap& heap_;
  std::vector<Slot> slots_;
  std::map<std::string, std::uint32_t> bound_;  // "dll!name": address
  std::uint32_t nextCode_;                      // free bytes of the code page
  std::uint32_t nextData_;                      // free bytes of the data page

  std::uint32_t moduleBase_ = 0;
  std::uint32_t resourceRva_ = 0;
  std::string moduleFileName_;
  std::map<std::string, std::uint32_t> exports_;  // name: address

  std::vector<GlobalBlock> globalBlocks_;  // slot i has handle kBlockHandleBase + 8 (i + 1)
  std::vector<bool> globalSlotLive_;
  std::map<std::uint32_t, OpenFile> files_;
  std::uint32_t nextFileHandle_ = 0x20;
  std::map<std::uint32_t, int> criticalSections_;     // address: times entered
  std::map<std::uint32_t, std::int32_t> semaphores_;  // handle: count
  std::uint32_t nextSemaphore_ = 0x1000;
  std::vector<bool> tlsSlotUsed_;
  FaultPlan plan_;
  int allocations_ = 0;
  int locks_ = 0;
  int opens_ = 0;
};

// The emulated process's view of blocks and resources for the host contract
// (tests/support/host_contract.h): the services count what the DLL holds and know each global
// block's lock count.
class EmulatedBlocks {
 public:
  using Handle = std::uint32_t;

  explicit EmulatedBlocks(WindowsServices& services) : services_(services) {}

  std::optional<Holdings> holdings() const { return services_.holdings(); }
  host_contract::TakenBlock take(Handle handle) const;

 private:
  WindowsServices& services_;
};

// The plug-ins as a Windows host sees them: loaded with LoadLibrary from the folder of this
// program, their exports found by name with GetProcAddress and called with the WINAPI
// convention. Runs the shared host checks (host_checks.h) for both DLLs and exits 0 when all
// pass.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "framework/host_interface.h"
#include "tests/support/host_contract.h"
#include "tests/win32/host_checks.h"

namespace {

// Calls fn with the given 32-bit arguments pushed right to left and answers how many bytes of
// arguments the call left on the stack: 0 when the callee removed them (stdcall).
std::uint32_t stackLeftBy(void* fn, const std::uint32_t* args, std::uint32_t count) {
  std::uint32_t left;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "movl %[count], %%ecx\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "decl %%ecx\n\t"
      "pushl (%[args],%%ecx,4)\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%[fn]\n\t"
      "movl %%esi, %%eax\n\t"
      "subl %%esp, %%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "=&a"(left)
      : [fn] "b"(fn), [args] "D"(args), [count] "m"(count)
      : "ecx", "edx", "esi", "memory", "cc");
  return left;
}

std::uint32_t u32(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

HGLOBAL untouchedHandle() {
  return reinterpret_cast<HGLOBAL>(static_cast<std::uintptr_t>(kUntouchedHandle));
}

// The progress calls of the call in progress, answered with 0.
std::vector<ProgressCall>* progressCalls = nullptr;

int WINAPI recordProgress(int done, int total, HostValue userData) {
  progressCalls->push_back({done, total, static_cast<std::uint32_t>(userData)});
  return 0;
}

// Windows' view of blocks for the host contract (host_contract.h): a block's lock count comes
// from GlobalFlags. Windows keeps no count of the blocks and files a DLL holds that a host could
// ask for, so the contract's checks of what is held are left out here.
struct WindowsBlocks {
  using Handle = HGLOBAL;

  std::optional<host_contract::Holdings> holdings() const { return std::nullopt; }

  host_contract::TakenBlock take(Handle handle) const {
    host_contract::TakenBlock taken;
    const UINT flags = handle ? GlobalFlags(handle) : GMEM_INVALID_HANDLE;
    taken.isBlock = flags != GMEM_INVALID_HANDLE;
    if (!taken.isBlock) return taken;
    taken.locked = (flags & GMEM_LOCKCOUNT) != 0;
    taken.size = GlobalSize(handle);
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(handle));
    taken.read = data != nullptr;
    if (data) {
      taken.bytes.assign(data, data + taken.size);
      GlobalUnlock(handle);
    }
    taken.freed = GlobalFree(handle) == nullptr;
    return taken;
  }
};

// The host contract after a call, its failures collected into the outcome, which the host
// checks report.
host_contract::Checker<WindowsBlocks, host_contract::CollectedReport> contract(
    std::string& failures) {
  return {WindowsBlocks{}, host_contract::CollectedReport{&failures}};
}

class Win32Host {
 public:
  explicit Win32Host(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~Win32Host() {
    if (module_) FreeLibrary(module_);
  }
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  bool loaded() const { return module_ != nullptr; }
  bool exports(const char* name) { return entry(name) != nullptr; }

  // Calls with a missing file name and room for every output.
  int stackLeftByCallOf(const std::string& name) {
    char buffer[80];
    HGLOBAL info = nullptr, pixels = nullptr;
    PictureInfoRecord record;
    const char* missing = host_checks::kMissingPicture;
    const std::uint32_t pluginInfo[] = {0, u32(buffer), 80};
    const std::uint32_t supported[] = {u32("x.txt"), 0};
    const std::uint32_t pictureInfo[] = {u32(missing), 0, 0, u32(&record)};
    const std::uint32_t picture[] = {u32(missing), 0, 0, u32(&info), u32(&pixels), 0, 0};
    void* fn = entry(name.c_str());
    if (!fn) return -1;
    if (name == "GetPluginInfo") return static_cast<int>(stackLeftBy(fn, pluginInfo, 3));
    if (name == "IsSupported") return static_cast<int>(stackLeftBy(fn, supported, 2));
    if (name == "GetPictureInfo") return static_cast<int>(stackLeftBy(fn, pictureInfo, 4));
    return static_cast<int>(stackLeftBy(fn, picture, 7));
  }

  int getPluginInfo(int infoNumber, char* buffer, int bufferLength) {
    return get<GetPluginInfoFn>("GetPluginInfo")(infoNumber, buffer, bufferLength);
  }

  int isSupported(const std::string& fileName, const Bytes& firstBytes) {
    Bytes block(kRecognitionBlockSize, 0);
    std::copy_n(firstBytes.begin(), std::min(firstBytes.size(), block.size()), block.begin());
    return get<IsSupportedFn>("IsSupported")(fileName.c_str(),
                                             reinterpret_cast<HostValue>(block.data()));
  }

  PictureInfoOutcome getPictureInfo(const PictureSource& source) {
    PictureInfoRecord record;
    std::memset(&record, kRecordFill, sizeof record);
    PictureInfoOutcome outcome;
    outcome.result = get<GetPictureInfoFn>("GetPictureInfo")(sourcePointer(source), source.length,
                                                             source.flags, &record);
    std::memcpy(outcome.fields.data(), &record, outcome.fields.size());
    HGLOBAL untouched;
    std::memset(&untouched, kRecordFill, sizeof untouched);
    const HGLOBAL text = record.textHandle;
    outcome.text = text == untouched ? PictureInfoOutcome::Text::Untouched
                   : text == nullptr ? PictureInfoOutcome::Text::None
                                     : PictureInfoOutcome::Text::Block;
    outcome.textBytes =
        contract(outcome.contractFailures).afterPictureInfo(outcome.result, text, untouched);
    return outcome;
  }

  PictureOutcome getPicture(const PictureSource& source) {
    return pictureCall("GetPicture", source);
  }
  PictureOutcome getPreview(const PictureSource& source) {
    return pictureCall("GetPreview", source);
  }

  bool hasResource(std::uint32_t type, std::uint32_t name, std::uint32_t language) {
    return FindResourceExA(module_, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(name),
                           static_cast<WORD>(language)) != nullptr;
  }

 private:
  void* entry(const char* name) const {
    return module_ ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
  }
  template <class Fn>
  Fn get(const char* name) const {
    return reinterpret_cast<Fn>(entry(name));
  }
  static const char* sourcePointer(const PictureSource& source) {
    return source.isName ? source.name.c_str() : reinterpret_cast<const char*>(source.bytes.data());
  }

  PictureOutcome pictureCall(const char* name, const PictureSource& source) {
    PictureOutcome outcome;
    progressCalls = &outcome.progress;
    HGLOBAL info = untouchedHandle();
    HGLOBAL pixels = untouchedHandle();
    outcome.result = get<GetPictureFn>(name)(sourcePointer(source), source.length, source.flags,
                                             &info, &pixels, recordProgress, 0);
    progressCalls = nullptr;
    host_contract::HandedPicture handed =
        contract(outcome.contractFailures)
            .afterPicture(name, outcome.result, info, pixels, untouchedHandle());
    outcome.info = std::move(handed.info);
    outcome.pixels = std::move(handed.pixels);
    return outcome;
  }

  HMODULE module_;
};

// The folder of this program, where the build puts the DLLs too.
std::string programFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

}  // namespace

int main() {
  using Check = void (*)(Win32Host&, const PluginDll&);
  struct NamedCheck {
    const char* name;
    Check run;
  };
#define WIN32_HOST_CHECK(check) {#check, host_checks::check<Win32Host>},
  const NamedCheck checks[] = {HOST_CHECK_LIST(WIN32_HOST_CHECK)};
#undef WIN32_HOST_CHECK

  int failedChecks = 0;
  for (const PluginDll* dll : {&gradecDll(), &qdecDll()}) {
    const std::string path = programFolder() + dll->file;
    Win32Host host(path);
    if (!host.loaded()) {
      std::cout << "[  FAILED  ] cannot load " << path << " (error " << GetLastError() << ")\n";
      ++failedChecks;
      continue;
    }
    for (const NamedCheck& check : checks) {
      const int before = host_checks::failures;
      std::cout << "[ RUN      ] " << check.name << "/" << dll->file << "\n";
      check.run(host, *dll);
      const bool passed = host_checks::failures == before;
      failedChecks += passed ? 0 : 1;
      std::cout << (passed ? "[       OK ] " : "[  FAILED  ] ") << check.name << "/" << dll->file
                << "\n";
    }
  }
  std::cout << (failedChecks == 0 ? "All host checks passed\n"
                                  : std::to_string(failedChecks) + " host checks failed\n");
  return failedChecks == 0 ? 0 : 1;
}

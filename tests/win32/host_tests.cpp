// SPDX-License-Identifier: MIT
// The plug-ins as a Windows host sees them: loaded with LoadLibrary from the folder of this
// program, their exports found by name with GetProcAddress and called with the WINAPI
// convention. Runs the shared host checks (host_checks.h) for both DLLs, and in the 64-bit build
// the checks of the 64-bit interface too (tests/win64/wide_host_checks.h); exits 0 when all
// pass.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include "framework/host_interface.h"
#include "tests/win32/host_checks.h"
#include "tests/win32/windows_host.h"
#ifdef _WIN64
#include "tests/win64/wide_host_checks.h"
#endif

namespace {

#ifndef _WIN64
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
#endif

// The host of the shared checks. Its picture calls pass a progress function that answers 0.
class Win32Host : public WindowsHost {
 public:
  using WindowsHost::WindowsHost;

  PictureOutcome getPicture(const PictureSource& source) {
    return WindowsHost::getPicture(source, kGoOn);
  }
  PictureOutcome getPreview(const PictureSource& source) {
    return WindowsHost::getPreview(source, kGoOn);
  }

#ifdef _WIN64
  // x86-64 has one calling convention, in which the caller removes the arguments: main() leaves
  // out the check that would call this.
  int stackLeftByCallOf(const std::string&) {
    return -1;
  }
#else
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
#endif

 private:
  static inline const ProgressScript kGoOn = [](int, const ProgressCall&) { return 0; };
};

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
    const std::string path = windows_host::programFolder() + dll->file;
    Win32Host host(path);
    if (!host.loaded()) {
      std::cout << "[  FAILED  ] cannot load " << path << " (error " << GetLastError() << ")\n";
      ++failedChecks;
      continue;
    }
    for (const NamedCheck& check : checks) {
#ifdef _WIN64
      if (std::strcmp(check.name, "everyExportRemovesItsOwnArguments") == 0) continue;
#endif
      const int before = host_checks::failures;
      std::cout << "[ RUN      ] " << check.name << "/" << dll->file << "\n";
      check.run(host, *dll);
      const bool passed = host_checks::failures == before;
      failedChecks += passed ? 0 : 1;
      std::cout << (passed ? "[       OK ] " : "[  FAILED  ] ") << check.name << "/" << dll->file
                << "\n";
    }
  }
#ifdef _WIN64
  failedChecks += runWideHostChecks();
#endif
  std::cout << (failedChecks == 0 ? "All host checks passed\n"
                                  : std::to_string(failedChecks) + " host checks failed\n");
  return failedChecks == 0 ? 0 : 1;
}

// SPDX-License-Identifier: MIT
// EmulatedPlugin: a minimal Windows host for a plug-in DLL, running the real DLL file in an
// emulated 32-bit x86 process.
//
// Loading does what a Windows loader does for LoadLibrary: it maps the image's sections (at a
// base other than the preferred one, so that the base relocations must be right), binds every
// import to its emulated service (windows_services.h), gives the thread its TEB and the module
// its thread-local storage, and runs the TLS callbacks and the entry point for process attach.
// The host calls then find the exports by name and call them with the stdcall convention,
// placing their arguments in emulated memory and checking that each call returns with the stack
// and the callee-saved registers as a Windows caller expects them.
//
// Every failure to behave like a sound Windows DLL (a fault, a call of a service that is not
// emulated, an unbalanced stack, a write past a block) throws EmulationError. After each picture
// call the host checks the host contract (tests/support/host_contract.h) and notes what failed
// in the outcome.
//
//   EmulatedPlugin plugin("build/win32/bin/gradec.spi");
//   PictureOutcome picture = plugin.getPicture(PictureSource::fileName("pic.gra"));
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/emulated/host_calls.h"
#include "tests/emulated/windows_services.h"

class EmulatedPlugin {
 public:
  explicit EmulatedPlugin(const std::string& path);
  ~EmulatedPlugin();
  EmulatedPlugin(const EmulatedPlugin&) = delete;
  EmulatedPlugin& operator=(const EmulatedPlugin&) = delete;

  // The module.
  std::vector<std::string> exportNames() const;
  std::uint32_t exportAddress(const std::string& name) const;  // 0 when not exported
  std::uint32_t base() const;
  std::uint32_t preferredBase() const;
  int relocationsApplied() const;

  // Calls the code at address with 32-bit arguments pushed right to left.
  struct CallOutcome {
    std::uint32_t eax;
    std::int32_t bytesLeftOnStack;  // 0 when the callee removed its arguments
    bool calleeSavedRegistersKept;  // EBX, ESI, EDI, EBP as before, direction flag clear
  };
  CallOutcome call(std::uint32_t address, const std::vector<std::uint32_t>& arguments);
  // Bytes of the host in emulated memory, for call(); they last until the next host call.
  std::uint32_t placeHostData(const Bytes& bytes);
  std::uint32_t readWord(std::uint32_t address) const;
  // The address of a system function as GetProcAddress would give it to the module.
  std::uint32_t systemFunction(const std::string& dll, const std::string& name);

  // The host calls. buffer may be null; bufferLength bytes of it are passed in and copied back.
  int getPluginInfo(int infoNumber, char* buffer, int bufferLength);
  // IsSupported with the file's first bytes in a 16384-byte block (zero-padded or cut).
  int isSupported(const std::string& fileName, const Bytes& firstBytes);
  // IsSupported with a file handle of the host, or any other value as the source argument.
  int isSupportedWithValue(const std::string& fileName, std::uint32_t source);
  PictureInfoOutcome getPictureInfo(const PictureSource& source);
  PictureOutcome getPicture(const PictureSource& source, const ProgressScript& progress = {},
                            std::uint32_t userData = 0);
  PictureOutcome getPreview(const PictureSource& source, const ProgressScript& progress = {},
                            std::uint32_t userData = 0);
  // Runs the TLS callbacks and the entry point for process detach; answers the entry point's
  // answer.
  std::uint32_t detach();

  // The host's side of the emulated process.
  Holdings holdings() const;
  // How the host contract sees the process's blocks (tests/support/host_contract.h).
  EmulatedBlocks blocks();
  void setFaultPlan(const FaultPlan& plan);
  std::uint32_t openFile(const std::string& path);  // a handle as _lopen gives it, or -1
  std::int64_t filePosition(std::uint32_t handle) const;
  void closeFile(std::uint32_t handle);
  // Whether the module holds a resource of this type, numeric name and language.
  bool hasResource(std::uint32_t type, std::uint32_t name, std::uint32_t language) const;

 private:
  class Arena;
  std::uint32_t checkedCall(const std::string& what, std::uint32_t address,
                            const std::vector<std::uint32_t>& arguments);
  std::uint32_t callExport(const std::string& name, const std::vector<std::uint32_t>& arguments);
  PictureOutcome pictureCall(const char* exportName, const PictureSource& source,
                             const ProgressScript& progress, std::uint32_t userData);
  std::vector<std::uint32_t> sourceArguments(const PictureSource& source);
  // The host contract after a call, its failures collected into an outcome.
  host_contract::Checker<EmulatedBlocks, host_contract::CollectedReport> contract(
      std::string& failures);
  std::uint32_t runInitializers(std::uint32_t reason);

  std::string path_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<EmulatedHeap> heap_;
  std::unique_ptr<WindowsServices> services_;
  std::unique_ptr<PeImage> image_;
  std::unique_ptr<Arena> arena_;
  std::uint32_t progressAddress_ = 0;
  ProgressScript progressScript_;
  std::vector<ProgressCall> progressCalls_;
};

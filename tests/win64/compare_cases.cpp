// SPDX-License-Identifier: MIT
// The Windows half of the differential run of the 64-bit DLLs (see case_file.h): reads the
// cases that the native build answered and makes every call again through gradec.sph and
// qdec.sph, loaded from this program's folder; each answer must equal the native one byte for
// byte. After each case nothing may be left allocated on the process heap, and no file the
// case opened by name may still be open.
//
//   compare_cases.exe FOLDER    (FOLDER holds cases.bin and the pictures it names)
//
// Exits 0 when every case matched, 1 otherwise.
#include <fstream>
#include <iostream>
#include <memory>

#include "tests/win32/host_checks.h"
#include "tests/win32/windows_host.h"
#include "tests/win64/case_file.h"
#include "tests/win64/windows_holdings.h"

namespace {

using cases::Call;
using cases::CallKind;
using cases::Case;

const Sides kSides{"by the DLL", "natively"};

// The differences between the DLL's answer to one call and the native build's, in words.
std::string compareCall(WindowsHost& host, const Case& c, const Call& call,
                        const std::string& folder) {
  const PictureSource source = c.source(folder);
  switch (call.kind) {
    case CallKind::Picture:
      return difference(
          host.getPicture(source, cases::progressScript(call.progress), call.userData),
          call.picture, kSides);
    case CallKind::Preview:
      return difference(
          host.getPreview(source, cases::progressScript(call.progress), call.userData),
          call.picture, kSides);
    case CallKind::Info:
      return difference(host.getPictureInfo(source), call.info, kSides);
    case CallKind::Supported: {
      const int answer = host.isSupported(call.name, c.file);
      return answer == call.supported
                 ? std::string()
                 : "IsSupported(" + call.name + ") answered " + std::to_string(answer) +
                       ", natively " + std::to_string(call.supported) + "\n";
    }
    case CallKind::SupportedByHandle: {
      const HFILE file = _lopen(source.name.c_str(), OF_READ);
      if (file == HFILE_ERROR) return "cannot open " + source.name + "\n";
      const int answer = host.isSupportedWithValue(call.name, static_cast<HostValue>(file));
      const LONG position = _llseek(file, 0, FILE_CURRENT);
      _lclose(file);
      std::string text;
      if (answer != call.supported)
        text += "IsSupported through a file handle answered " + std::to_string(answer) +
                ", natively " + std::to_string(call.supported) + "\n";
      if (position != call.position)
        text += "the host's file was left at " + std::to_string(position) + ", natively at " +
                std::to_string(call.position) + "\n";
      return text;
    }
  }
  return "an unknown call\n";
}

// The picture and its companions of a case read by name: the files a plug-in may open.
std::vector<std::string> filesOf(const Case& c, const std::string& folder) {
  if (!c.byName) return {};
  const std::string path = folder + "/" + c.fileName;
  const std::string stem = path.substr(0, path.find_last_of('.'));
  return {path, stem + ".rgb", stem + ".e1"};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: compare_cases FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  std::ifstream in(folder + "/cases.bin", std::ios::binary);
  cases::Reader reader(in);
  if (!reader.good()) {
    std::cout << "cannot read the cases in " << folder << "/cases.bin\n";
    return 1;
  }

  std::unique_ptr<WindowsHost> hosts[2];
  for (const cases::Plugin plugin : {cases::Plugin::Gradec, cases::Plugin::Qdec}) {
    const PluginDll& dll = plugin == cases::Plugin::Gradec ? gradecDll() : qdecDll();
    const std::string path = windows_host::programFolder() + dll.file;
    auto& host = hosts[static_cast<int>(plugin)];
    host = std::make_unique<WindowsHost>(path);
    if (!host->loaded()) {
      std::cout << "cannot load " << path << " (error " << GetLastError() << ")\n";
      return 1;
    }
  }

  int passed = 0, failed = 0, calls = 0;
  Case c;
  while (reader.next(c)) {
    WindowsHost& host = *hosts[c.plugin == cases::Plugin::Gradec ? 0 : 1];
    const int heapBefore = busyHeapBlocks();
    std::string differences;
    for (std::size_t i = 0; i < c.calls.size(); ++i) {
      const std::string d = compareCall(host, c, c.calls[i], folder);
      if (!d.empty()) differences += "call " + std::to_string(i) + ": " + d;
      ++calls;
    }
    const int heapAfter = busyHeapBlocks();
    if (heapAfter != heapBefore)
      differences += std::to_string(heapAfter - heapBefore) + " blocks left on the process heap\n";
    for (const std::string& file : filesOf(c, folder))
      if (!fileIsFree(file)) differences += file + " was left open\n";
    if (differences.empty()) {
      ++passed;
    } else {
      ++failed;
      std::cout << "[  FAILED  ] " << c.label << "\n" << differences;
    }
  }
  if (!reader.good()) {
    std::cout << "the case file is damaged after " << passed + failed << " cases\n";
    ++failed;
  }
  std::cout << calls << " calls of " << passed + failed
            << " cases through the 64-bit DLLs against the native build\n";
  std::cout << "cases: " << passed << " passed, " << failed << " failed\n";
  return failed == 0 && passed > 0 ? 0 : 1;
}

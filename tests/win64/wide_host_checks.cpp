// SPDX-License-Identifier: MIT
#include "tests/win64/wide_host_checks.h"

#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <utility>

#include "tests/emulated/picture_inputs.h"
#include "tests/win32/host_checks.h"
#include "tests/win32/windows_host.h"
#include "tests/win64/windows_holdings.h"

static_assert(sizeof(void*) == 8 && sizeof(HostLength) == 8 && sizeof(HGLOBAL) == 8);

namespace {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr HostValue kWideUserData = 0xFEDCBA9876543210u;
constexpr std::size_t kRecordSize = 30;
constexpr std::size_t kTextHandleOffset = 22;

// Address room above 4 GiB that starts at a multiple of 4 GiB, so that a pointer to its start
// cut to 32 bits would be 0 (to IsSupported, a file handle). reserved bytes of room, of which the
// first committed bytes are usable and zero.
class HighMemory {
 public:
  HighMemory(std::uint64_t reserved, std::size_t committed) {
    for (std::uint64_t n = 2; n < 4096 && !base_; ++n) {
      base_ = static_cast<std::uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(n * kFourGiB),
                                                      reserved, MEM_RESERVE, PAGE_NOACCESS));
    }
    if (base_ && !VirtualAlloc(base_, committed, MEM_COMMIT, PAGE_READWRITE)) release();
  }
  ~HighMemory() { release(); }
  HighMemory(const HighMemory&) = delete;
  HighMemory& operator=(const HighMemory&) = delete;

  bool ready() const { return base_ != nullptr; }
  std::uint8_t* at(std::size_t offset) const { return base_ + offset; }
  template <class T>
  T* place(std::size_t offset, const void* bytes, std::size_t size) const {
    std::memcpy(at(offset), bytes, size);
    return reinterpret_cast<T*>(at(offset));
  }
  const char* placeText(std::size_t offset, const std::string& text) const {
    return place<const char>(offset, text.c_str(), text.size() + 1);
  }

 private:
  void release() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    base_ = nullptr;
  }
  std::uint8_t* base_ = nullptr;
};

// A folder of this run under the system's temporary folder, removed with the files written to it.
class TempFolder {
 public:
  TempFolder() {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp, length) + "planes-wide-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string write(const std::string& name, const Bytes& bytes) {
    const std::string file = path_ + "\\" + name;
    const HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok =
        handle != INVALID_HANDLE_VALUE &&
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    HOST_CHECK(ok) << "cannot write" << file;
    files_.push_back(file);
    return file;
  }
  std::string path(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// The pictures of one plug-in's checks, from the format writers.
struct Pictures {
  const char* extension;
  PictureCase plain;                       // decodes; GRA ones come with companion files
  std::optional<PictureCase> withComment;  // Q: a picture whose record carries a text block
};

Pictures picturesFor(const PluginDll& dll) {
  if (std::strcmp(dll.pattern, "*.gra") == 0) return {"gra", graWriterCases().at(0), std::nullopt};
  const std::vector<PictureCase> q = qWriterCases();
  return {"q", q.at(1), q.at(0)};
}

// The two sides of a comparison: a call with the arguments under test, and the same call as
// the shared host makes it.
const Sides kSides{"as checked", "as usual"};

const ProgressScript kGoOn = [](int, const ProgressCall&) { return 0; };

// GetPicture through the export itself, with every argument as given; outcome as the shared
// host records it.
PictureOutcome rawGetPicture(WindowsHost& host, const char* source, HostLength length,
                             std::uint32_t flags, HGLOBAL* infoCell, HGLOBAL* pixelsCell,
                             const ProgressScript& progress, HostValue userData) {
  PictureOutcome outcome;
  windows_host::progressState = {&progress, &outcome.progress};
  *infoCell = *pixelsCell = windows_host::untouchedHandle();
  outcome.result = host.getPictureFunction()(source, length, flags, infoCell, pixelsCell,
                                             windows_host::recordProgress, userData);
  windows_host::progressState = {};
  host_contract::HandedPicture handed =
      windows_host::contract(outcome.contractFailures)
          .afterPicture("GetPicture", outcome.result, *infoCell, *pixelsCell,
                        windows_host::untouchedHandle());
  outcome.info = std::move(handed.info);
  outcome.pixels = std::move(handed.pixels);
  return outcome;
}

// The record's bytes, filled with kRecordFill before the call, and a text block it names taken
// as the host contract says.
struct RawRecord {
  LoaderResult result;
  std::uint8_t bytes[kRecordSize + 8];  // the record and 8 bytes after it, which stay untouched
  Bytes text;
  std::string contractFailures;  // the host contract's failed checks, a line each
  HGLOBAL textHandle() const {
    HGLOBAL handle;
    std::memcpy(&handle, bytes + kTextHandleOffset, sizeof handle);
    return handle;
  }
};

RawRecord rawGetPictureInfo(WindowsHost& host, const char* source, HostLength length,
                            std::uint32_t flags, std::uint8_t* where) {
  RawRecord record;
  std::memset(where, kRecordFill, sizeof record.bytes);
  record.result = host.getPictureInfoFunction()(source, length, flags,
                                                reinterpret_cast<PictureInfoRecord*>(where));
  std::memcpy(record.bytes, where, sizeof record.bytes);
  HGLOBAL untouched;
  std::memset(&untouched, kRecordFill, sizeof untouched);
  record.text = windows_host::contract(record.contractFailures)
                    .afterPictureInfo(record.result, record.textHandle(), untouched);
  return record;
}

bool untouchedRecord(const RawRecord& record) {
  for (std::uint8_t b : record.bytes)
    if (b != kRecordFill) return false;
  return true;
}

// The memory source, the file name, the output cells, the record and the user value all above
// 4 GiB reach the plug-in whole: the same answers as from low memory.
void argumentsAboveFourGiBArriveWhole(WindowsHost& host, const PluginDll&, const Pictures& p) {
  const Bytes& file = p.plain.file;
  HighMemory high(std::size_t{1} << 20, std::size_t{1} << 20);
  if (!high.ready()) {
    std::cout << "  (no memory above 4 GiB could be reserved: not checked)\n";
    return;
  }
  HOST_CHECK(reinterpret_cast<std::uintptr_t>(high.at(0)) >= kFourGiB);
  const char* source = high.place<const char>(0, file.data(), file.size());
  const std::string name = std::string("picture.") + p.extension;
  const char* highName = high.placeText(0x80000, name);
  auto* cells = reinterpret_cast<HGLOBAL*>(high.at(0x90000));
  std::uint8_t* record = high.at(0x90100);

  // Cut to 32 bits, the block's address would be 0: a file handle.
  HOST_CHECK_EQ(host.isSupportedFunction()(highName, reinterpret_cast<HostValue>(source)), 1);

  const PictureOutcome reference =
      host.getPicture(PictureSource::memory(file), kGoOn, kWideUserData);
  HOST_CHECK_EQ(reference.result, LoaderResult::Ok);
  const PictureOutcome wide =
      rawGetPicture(host, source, static_cast<HostLength>(file.size()), kSourceIsMemory, &cells[0],
                    &cells[1], kGoOn, kWideUserData);
  HOST_CHECK(wide == reference) << difference(wide, reference, kSides);
  for (const ProgressCall& call : wide.progress) HOST_CHECK_EQ(call.userData, kWideUserData);

  const PictureInfoOutcome referenceInfo = host.getPictureInfo(PictureSource::memory(file));
  const RawRecord info = rawGetPictureInfo(host, source, static_cast<HostLength>(file.size()),
                                           kSourceIsMemory, record);
  HOST_CHECK_EQ(info.result, LoaderResult::Ok);
  HOST_CHECK_EQ(info.contractFailures, "");
  HOST_CHECK(std::memcmp(info.bytes, referenceInfo.fields.data(), kPictureInfoFieldBytes) == 0);
  HOST_CHECK(info.text == referenceInfo.textBytes);

  // By name, the name above 4 GiB.
  TempFolder folder;
  const std::string path = folder.write(name, file);
  const PictureOutcome byNameReference = host.getPicture(PictureSource::fileName(path), kGoOn, 1);
  const PictureOutcome byName = rawGetPicture(host, high.placeText(0xA0000, path), 0,
                                              kSourceIsFileName, &cells[0], &cells[1], kGoOn, 1);
  HOST_CHECK_EQ(byName.result, LoaderResult::Ok);
  HOST_CHECK(byName == byNameReference) << difference(byName, byNameReference, kSides);
}

// The length of a memory source is a signed 64-bit value: lengths beyond 32 bits give the
// plug-in room to read (what a length cut to 32 bits would not), negative ones none.
void lengthIsPointerSizedAndSigned(WindowsHost& host, const PluginDll&, const Pictures& p) {
  const Bytes& file = p.plain.file;
  HighMemory block(kFourGiB + (std::size_t{1} << 20), std::size_t{1} << 20);
  if (!block.ready()) {
    std::cout << "  (no 4 GiB of address room could be reserved: not checked)\n";
    return;
  }
  const char* source = block.place<const char>(0, file.data(), file.size());
  HGLOBAL cells[2];
  std::uint8_t record[kRecordSize + 8];

  const PictureOutcome reference = host.getPicture(PictureSource::memory(file), kGoOn, 5);
  HOST_CHECK_EQ(reference.result, LoaderResult::Ok);
  const RawRecord referenceRecord = rawGetPictureInfo(
      host, source, static_cast<HostLength>(file.size()), kSourceIsMemory, record);
  HOST_CHECK_EQ(referenceRecord.result, LoaderResult::Ok);

  // 2^31 is negative as a 32-bit value; 2^32 is 0 and 2^32 + 16 is 16 when cut to 32 bits.
  for (const HostLength length :
       {HostLength{1} << 31, HostLength{1} << 32, (HostLength{1} << 32) + 16,
        std::numeric_limits<HostLength>::max()}) {
    const PictureOutcome picture =
        rawGetPicture(host, source, length, kSourceIsMemory, &cells[0], &cells[1], kGoOn, 5);
    HOST_CHECK(picture == reference)
        << "length" << length << difference(picture, reference, kSides);
    const RawRecord info = rawGetPictureInfo(host, source, length, kSourceIsMemory, record);
    HOST_CHECK_EQ(info.result, LoaderResult::Ok) << "length" << length;
    HOST_CHECK_EQ(info.contractFailures, "") << "length" << length;
    HOST_CHECK(std::memcmp(info.bytes, referenceRecord.bytes, sizeof info.bytes) == 0)
        << "length" << length;
  }

  // A negative length gives no bytes, as 0 does, even when its low 32 bits are the file's size.
  PictureSource empty = PictureSource::memory(file);
  empty.length = 0;
  const PictureOutcome none = host.getPicture(empty, kGoOn, 5);
  HOST_CHECK(none.result != LoaderResult::Ok);
  for (const HostLength length :
       {HostLength{-1}, -static_cast<HostLength>(kFourGiB) + static_cast<HostLength>(file.size()),
        std::numeric_limits<HostLength>::min()}) {
    const PictureOutcome picture =
        rawGetPicture(host, source, length, kSourceIsMemory, &cells[0], &cells[1], kGoOn, 5);
    HOST_CHECK(picture == none) << "length" << length << difference(picture, none, kSides);
    const RawRecord info = rawGetPictureInfo(host, source, length, kSourceIsMemory, record);
    HOST_CHECK_EQ(info.result, none.result) << "length" << length;
    HOST_CHECK_EQ(info.contractFailures, "") << "length" << length;
    HOST_CHECK(untouchedRecord(info)) << "length" << length;
  }
}

// The record is 30 packed bytes: the fields, then the text handle as 8 bytes at offset 22,
// nothing written after it, and a failed call writes none of it.
void recordIsThirtyBytesWithAWideTextHandle(WindowsHost& host, const PluginDll&,
                                            const Pictures& p) {
  std::uint8_t where[kRecordSize + 8];
  const auto check = [&](const PictureCase& picture, bool withText) {
    const RawRecord record =
        rawGetPictureInfo(host, reinterpret_cast<const char*>(picture.file.data()),
                          static_cast<HostLength>(picture.file.size()), kSourceIsMemory, where);
    HOST_CHECK_EQ(record.result, LoaderResult::Ok) << picture.label;
    // Unlocked text block of the comment's size, nothing held (host_contract.h).
    HOST_CHECK_EQ(record.contractFailures, "") << picture.label;
    for (std::size_t i = kRecordSize; i < sizeof record.bytes; ++i)
      HOST_CHECK_EQ(int{record.bytes[i]}, int{kRecordFill}) << picture.label << "byte" << i;
    std::int32_t width, height;
    std::int16_t depth;
    std::memcpy(&width, record.bytes + 8, 4);
    std::memcpy(&height, record.bytes + 12, 4);
    std::memcpy(&depth, record.bytes + 20, 2);
    HOST_CHECK_EQ(width, 640);
    HOST_CHECK_EQ(height, 400);
    HOST_CHECK_EQ(depth, 4);
    if (withText) {
      HOST_CHECK(record.textHandle() != nullptr) << picture.label;
      HOST_CHECK(record.text.size() > 32 && record.text[0] == picture.file[0]) << picture.label;
    } else {
      for (std::size_t i = kTextHandleOffset; i < kRecordSize; ++i)
        HOST_CHECK_EQ(int{record.bytes[i]}, 0) << picture.label << "byte" << i;
    }
  };
  check(p.plain, false);
  if (p.withComment) check(*p.withComment, true);

  const Bytes cut(p.plain.file.begin(), p.plain.file.begin() + 10);
  const RawRecord failed = rawGetPictureInfo(host, reinterpret_cast<const char*>(cut.data()), 10,
                                             kSourceIsMemory, where);
  HOST_CHECK_EQ(failed.result, LoaderResult::BadData);
  HOST_CHECK_EQ(failed.contractFailures, "");
  HOST_CHECK(untouchedRecord(failed));
}

// Progress runs from line 0 to the last line with the user value unchanged; an answer to stop
// ends the call with Cancelled, nothing handed over and nothing held.
void progressReportsLinesAndCancels(WindowsHost& host, const PluginDll&, const Pictures& p) {
  const PictureSource source = PictureSource::memory(p.plain.file);
  const int before = busyHeapBlocks();
  int calls = 0;
  {
    const PictureOutcome full = host.getPicture(source, kGoOn, kWideUserData);
    HOST_CHECK_EQ(full.result, LoaderResult::Ok);
    calls = static_cast<int>(full.progress.size());
    HOST_CHECK(calls >= 3) << calls;
    int done = 0;
    for (const ProgressCall& call : full.progress) {
      HOST_CHECK(call.done >= done) << call.done << "after" << done;
      done = call.done;
      HOST_CHECK_EQ(call.total, 400);
      HOST_CHECK_EQ(call.userData, kWideUserData);
    }
    if (calls > 0) {
      HOST_CHECK_EQ(full.progress.front().done, 0);
      HOST_CHECK_EQ(full.progress.back().done, 400);
    }
  }
  HOST_CHECK_EQ(busyHeapBlocks(), before);

  for (const int k : {1, calls / 2, calls - 2, -1}) {
    const ProgressScript stop =
        k < 0 ? ProgressScript([](int, const ProgressCall&) { return -1; })
              : ProgressScript([k](int index, const ProgressCall&) { return index == k ? 1 : 0; });
    {
      const PictureOutcome cancelled = host.getPicture(source, stop, kWideUserData);
      HOST_CHECK_EQ(cancelled.result, LoaderResult::Cancelled) << "stopping at call" << k;
      // The handle variables untouched (host_contract.h).
      HOST_CHECK_EQ(cancelled.contractFailures, "") << "stopping at call" << k;
      // Decoding stops at the answer: at most the report of the end follows it.
      if (k >= 0) {
        const auto made = static_cast<int>(cancelled.progress.size());
        HOST_CHECK(made > k && made <= k + 2) << made << "calls, stopping at call" << k;
      }
    }
    HOST_CHECK_EQ(busyHeapBlocks(), before) << "stopping at call" << k;
  }
}

// Failing calls, from memory and by name, hand nothing over, and no call leaves a block
// allocated or a file open: the picture, its companions and a host's file handle.
void failuresHandNothingOverAndHoldNothing(WindowsHost& host, const PluginDll&, const Pictures& p) {
  const Bytes& file = p.plain.file;
  const Bytes half(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
  const Bytes ten(file.begin(), file.begin() + 10);
  TempFolder folder;
  const std::string stem = std::string("picture.");
  const std::string whole = folder.write(stem + p.extension, file);
  std::vector<std::string> companions;
  if (p.plain.palette) companions.push_back(folder.write("picture.rgb", *p.plain.palette));
  if (p.plain.fourthPlane) companions.push_back(folder.write("picture.e1", *p.plain.fourthPlane));
  const std::string halfPath = folder.write(std::string("half.") + p.extension, half);
  const std::string tenPath = folder.write(std::string("ten.") + p.extension, ten);

  const struct {
    const char* what;
    PictureSource source;
    LoaderResult expected;
  } failures[] = {
      {"half the file in memory", PictureSource::memory(half), LoaderResult::BadData},
      {"10 bytes in memory", PictureSource::memory(ten), LoaderResult::BadData},
      {"half the file by name", PictureSource::fileName(halfPath), LoaderResult::BadData},
      {"10 bytes by name", PictureSource::fileName(tenPath), LoaderResult::BadData},
      {"a missing file", PictureSource::fileName(folder.path("missing.gra")),
       LoaderResult::OpenFailed},
      {"source kind 2", PictureSource::memory(file, 2), LoaderResult::NotProvided},
  };
  const int before = busyHeapBlocks();
  for (const auto& f : failures) {
    {
      const PictureOutcome picture = host.getPicture(f.source, kGoOn, kWideUserData);
      HOST_CHECK_EQ(picture.result, f.expected) << f.what;
      // The handle variables untouched (host_contract.h).
      HOST_CHECK_EQ(picture.contractFailures, "") << f.what;
      const PictureOutcome preview = host.getPreview(f.source, kGoOn, kWideUserData);
      HOST_CHECK(preview.result != LoaderResult::Ok) << f.what;
      HOST_CHECK_EQ(preview.contractFailures, "") << f.what;
      const PictureInfoOutcome info = host.getPictureInfo(f.source);
      HOST_CHECK_EQ(info.contractFailures, "") << f.what;
      if (info.result != LoaderResult::Ok) {
        HOST_CHECK(info.text == PictureInfoOutcome::Text::Untouched) << f.what;
        for (std::uint8_t b : info.fields) HOST_CHECK_EQ(int{b}, int{kRecordFill}) << f.what;
      }
    }
    HOST_CHECK_EQ(busyHeapBlocks(), before) << f.what;
  }
  HOST_CHECK(fileIsFree(halfPath) && fileIsFree(tenPath));

  // A whole picture by name, with its companions: handed over, taken, nothing left.
  {
    const PictureOutcome picture = host.getPicture(PictureSource::fileName(whole), kGoOn, 3);
    HOST_CHECK_EQ(picture.result, LoaderResult::Ok);
    // Both blocks unlocked, of their sizes, and freed by the host (host_contract.h).
    HOST_CHECK_EQ(picture.contractFailures, "");
    const PictureInfoOutcome info = host.getPictureInfo(PictureSource::fileName(whole));
    HOST_CHECK_EQ(info.result, LoaderResult::Ok);
    HOST_CHECK_EQ(info.contractFailures, "");
  }
  HOST_CHECK_EQ(busyHeapBlocks(), before);
  HOST_CHECK(fileIsFree(whole));
  for (const std::string& companion : companions) HOST_CHECK(fileIsFree(companion)) << companion;

  // IsSupported with the host's file handle reads through it and leaves it open.
  const HFILE handle = _lopen(whole.c_str(), OF_READ);
  HOST_CHECK(handle != HFILE_ERROR && static_cast<HostValue>(handle) < kFirstMemoryAddress)
      << handle;
  HOST_CHECK_EQ(host.isSupportedWithValue(stem + p.extension, static_cast<HostValue>(handle)), 1);
  HOST_CHECK_EQ(_llseek(handle, 0, FILE_BEGIN), 0);
  std::uint8_t first[16];
  HOST_CHECK_EQ(_lread(handle, first, sizeof first), sizeof first);
  HOST_CHECK(std::memcmp(first, file.data(), sizeof first) == 0);
  HOST_CHECK_EQ(_lclose(handle), 0);
  HOST_CHECK(fileIsFree(whole));
  HOST_CHECK_EQ(busyHeapBlocks(), before);
}

}  // namespace

int runWideHostChecks() {
  using Check = void (*)(WindowsHost&, const PluginDll&, const Pictures&);
  const struct {
    const char* name;
    Check run;
  } checks[] = {
      {"argumentsAboveFourGiBArriveWhole", argumentsAboveFourGiBArriveWhole},
      {"lengthIsPointerSizedAndSigned", lengthIsPointerSizedAndSigned},
      {"recordIsThirtyBytesWithAWideTextHandle", recordIsThirtyBytesWithAWideTextHandle},
      {"progressReportsLinesAndCancels", progressReportsLinesAndCancels},
      {"failuresHandNothingOverAndHoldNothing", failuresHandNothingOverAndHoldNothing},
  };
  int failedChecks = 0;
  for (const PluginDll* dll : {&gradecDll(), &qdecDll()}) {
    const std::string path = windows_host::programFolder() + dll->file;
    WindowsHost host(path);
    if (!host.loaded()) {
      std::cout << "[  FAILED  ] cannot load " << path << " (error " << GetLastError() << ")\n";
      ++failedChecks;
      continue;
    }
    const Pictures pictures = picturesFor(*dll);
    for (const auto& check : checks) {
      const int before = host_checks::failures;
      std::cout << "[ RUN      ] " << check.name << "/" << dll->file << "\n";
      check.run(host, *dll, pictures);
      const bool passed = host_checks::failures == before;
      failedChecks += passed ? 0 : 1;
      std::cout << (passed ? "[       OK ] " : "[  FAILED  ] ") << check.name << "/" << dll->file
                << "\n";
    }
  }
  return failedChecks;
}

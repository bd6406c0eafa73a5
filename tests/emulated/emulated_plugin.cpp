// SPDX-License-Identifier: MIT
#include "tests/emulated/emulated_plugin.h"

#include <algorithm>
#include <filesystem>

#include "framework/little_endian.h"

namespace {

// The address space of the emulated process. Page 0 up to 64 KiB stays unmapped, so that null
// pointers and small handles used as pointers fault.
constexpr std::uint32_t kStackLimit = 0x00100000;
constexpr std::uint32_t kStackBase = 0x00200000;
constexpr std::uint32_t kCallStackTop = kStackBase - 0x100;
constexpr std::uint32_t kHeapBase = 0x01000000;
constexpr std::uint32_t kHeapSize = 0x04000000;
constexpr std::uint32_t kArenaBase = 0x08000000;  // the host's arguments; unmapped after it
constexpr std::uint32_t kArenaSize = 0x01000000;
// Not the DLL's preferred base, so that loading depends on its base relocations.
constexpr std::uint32_t kModuleBase = 0x10000000;

constexpr std::uint32_t kDllProcessDetach = 0;
constexpr std::uint32_t kDllProcessAttach = 1;
constexpr std::uint32_t kRecognitionBlock = kRecognitionBlockSize;

// What the callee-saved registers hold when a call starts.
constexpr std::uint32_t kEbxMark = 0x0B0B0B0B;
constexpr std::uint32_t kEsiMark = 0x05150515;
constexpr std::uint32_t kEdiMark = 0x0D1D0D1D;
constexpr std::uint32_t kEbpMark = 0x0BBB0BBB;
constexpr std::uint32_t kInitialFlags = 0x202;
constexpr std::uint32_t kDirectionFlag = 0x400;

constexpr std::uint8_t kCanaryByte = 0xA5;
constexpr std::uint32_t kCanarySize = 16;

Bytes le32(std::uint32_t value) {
  Bytes bytes(4);
  writeLe32(bytes.data(), value);
  return bytes;
}

}  // namespace

// The host's arguments of one call, in a region of their own. Each argument is fenced by canary
// bytes that are checked after the call; one argument per call can instead be placed flush
// against the end of the region, so that reading one byte past it faults.
class EmulatedPlugin::Arena {
 public:
  explicit Arena(Machine& machine) : machine_(machine) {
    machine_.map(kArenaBase, kArenaSize, Machine::Access::ReadWrite);
  }

  void reset() {
    next_ = kArenaBase;
    end_ = kArenaBase + kArenaSize;
    fenced_.clear();
  }

  std::uint32_t place(const std::string& what, const Bytes& bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t address = (next_ + kCanarySize + 15) & ~15u;
    if (address + size + kCanarySize > end_)
      throw EmulationError("the host's arguments do not fit");
    const Bytes canary(kCanarySize, kCanaryByte);
    machine_.write(address - kCanarySize, canary.data(), kCanarySize);
    machine_.write(address, bytes.data(), size);
    machine_.write(address + size, canary.data(), kCanarySize);
    fenced_.push_back({what, address, size});
    next_ = address + size + kCanarySize;
    return address;
  }

  std::uint32_t placeAtEnd(const Bytes& bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (end_ != kArenaBase + kArenaSize || size > end_ - next_)
      throw EmulationError("the host's arguments do not fit");
    end_ -= size;
    machine_.write(end_, bytes.data(), size);
    return end_;
  }

  void checkCanaries(const std::string& call) const {
    for (const Fenced& f : fenced_) {
      Bytes before(kCanarySize), after(kCanarySize);
      machine_.read(f.address - kCanarySize, before.data(), kCanarySize);
      machine_.read(f.address + f.size, after.data(), kCanarySize);
      const Bytes canary(kCanarySize, kCanaryByte);
      if (before != canary || after != canary)
        throw EmulationError(call + " wrote outside " + f.what);
    }
  }

  Bytes read(std::uint32_t address, std::uint32_t size) const {
    Bytes bytes(size);
    machine_.read(address, bytes.data(), size);
    return bytes;
  }

 private:
  struct Fenced {
    std::string what;
    std::uint32_t address;
    std::uint32_t size;
  };
  Machine& machine_;
  std::uint32_t next_ = kArenaBase;
  std::uint32_t end_ = kArenaBase + kArenaSize;
  std::vector<Fenced> fenced_;
};

EmulatedPlugin::EmulatedPlugin(const std::string& path) : path_(path) {
  if (!std::filesystem::exists(path)) throw EmulationError(path + ": no such file");
  machine_ = std::make_unique<Machine>();
  machine_->map(kStackLimit, kStackBase - kStackLimit, Machine::Access::ReadWrite);
  heap_ = std::make_unique<EmulatedHeap>(*machine_, kHeapBase, kHeapSize);
  services_ = std::make_unique<WindowsServices>(*machine_, *heap_, kStackLimit, kStackBase);
  arena_ = std::make_unique<Arena>(*machine_);
  machine_->setTrapRange(services_->trapBegin(), services_->trapEnd(),
                         [this](std::uint32_t address) { services_->trap(address); });
  progressAddress_ = services_->addHostFunction(
      "progress", 3, [this](const WindowsServices::Arguments& a) -> std::uint32_t {
        const ProgressCall call{a.asSigned(0), a.asSigned(1), a[2]};
        progressCalls_.push_back(call);
        const int index = static_cast<int>(progressCalls_.size()) - 1;
        return static_cast<std::uint32_t>(progressScript_ ? progressScript_(index, call) : 0);
      });

  // Map the image: write it whole, then give each section its protection.
  image_ = std::make_unique<PeImage>(path, kModuleBase);
  services_->setModule(*image_, std::filesystem::path(path).filename().string());
  for (const PeImage::Import& import : image_->imports())
    image_->bind(import, services_->bind(import.dll, import.name));
  machine_->map(kModuleBase, image_->size(), Machine::Access::ReadWrite);
  machine_->write(kModuleBase, image_->bytes().data(), image_->size());
  machine_->protect(kModuleBase, 0x1000, Machine::Access::Read);  // the headers
  for (const PeImage::Section& s : image_->sections()) {
    machine_->protect(kModuleBase + s.rva, s.size,
                      s.executable ? Machine::Access::ReadExecute
                      : s.writable ? Machine::Access::ReadWrite
                                   : Machine::Access::Read);
  }
  if (image_->hasTls()) services_->setUpModuleTls(image_->tls());
  if (runInitializers(kDllProcessAttach) != 1)
    throw EmulationError(path_ + ": the entry point refused process attach");
}

EmulatedPlugin::~EmulatedPlugin() = default;

// As Windows does it: the TLS callbacks, then the entry point, each with the module handle, the
// reason and a null pointer.
std::uint32_t EmulatedPlugin::runInitializers(std::uint32_t reason) {
  if (image_->hasTls() && image_->tls().callbacksAddress) {
    for (std::uint32_t at = image_->tls().callbacksAddress;; at += 4) {
      const std::uint32_t callback = machine_->read32(at);
      if (!callback) break;
      checkedCall("a TLS callback", callback, {kModuleBase, reason, 0});
    }
  }
  return checkedCall("the entry point", kModuleBase + image_->entryPointRva(),
                     {kModuleBase, reason, 0});
}

std::uint32_t EmulatedPlugin::detach() {
  return runInitializers(kDllProcessDetach);
}

std::vector<std::string> EmulatedPlugin::exportNames() const {
  std::vector<std::string> names;
  for (const auto& [name, rva] : image_->exports()) names.push_back(name);
  return names;
}

std::uint32_t EmulatedPlugin::exportAddress(const std::string& name) const {
  auto it = image_->exports().find(name);
  return it == image_->exports().end() ? 0 : kModuleBase + it->second;
}

std::uint32_t EmulatedPlugin::base() const {
  return kModuleBase;
}
std::uint32_t EmulatedPlugin::preferredBase() const {
  return image_->preferredBase();
}
int EmulatedPlugin::relocationsApplied() const {
  return image_->relocationsApplied();
}

EmulatedPlugin::CallOutcome EmulatedPlugin::call(std::uint32_t address,
                                                 const std::vector<std::uint32_t>& arguments) {
  // The stack as a caller leaves it: the arguments, right to left, then the return address.
  std::uint32_t esp = kCallStackTop - 4 * static_cast<std::uint32_t>(arguments.size()) - 4;
  machine_->write32(esp, services_->returnAddress());
  for (std::size_t i = 0; i < arguments.size(); ++i)
    machine_->write32(esp + 4 + 4 * static_cast<std::uint32_t>(i), arguments[i]);
  machine_->set(Machine::Register::Esp, esp);
  machine_->set(Machine::Register::Ebx, kEbxMark);
  machine_->set(Machine::Register::Esi, kEsiMark);
  machine_->set(Machine::Register::Edi, kEdiMark);
  machine_->set(Machine::Register::Ebp, kEbpMark);
  machine_->set(Machine::Register::Eflags, kInitialFlags);
  machine_->run(address, services_->returnAddress());

  CallOutcome outcome;
  outcome.eax = machine_->get(Machine::Register::Eax);
  outcome.bytesLeftOnStack =
      static_cast<std::int32_t>(kCallStackTop - machine_->get(Machine::Register::Esp));
  outcome.calleeSavedRegistersKept = machine_->get(Machine::Register::Ebx) == kEbxMark &&
                                     machine_->get(Machine::Register::Esi) == kEsiMark &&
                                     machine_->get(Machine::Register::Edi) == kEdiMark &&
                                     machine_->get(Machine::Register::Ebp) == kEbpMark &&
                                     !(machine_->get(Machine::Register::Eflags) & kDirectionFlag);
  return outcome;
}

std::uint32_t EmulatedPlugin::placeHostData(const Bytes& bytes) {
  return arena_->place("host data", bytes);
}

std::uint32_t EmulatedPlugin::readWord(std::uint32_t address) const {
  return machine_->read32(address);
}

std::uint32_t EmulatedPlugin::systemFunction(const std::string& dll, const std::string& name) {
  return services_->bind(dll, name);
}

// Calls emulated code and checks what a Windows caller relies on.
std::uint32_t EmulatedPlugin::checkedCall(const std::string& what, std::uint32_t address,
                                          const std::vector<std::uint32_t>& arguments) {
  const CallOutcome outcome = call(address, arguments);
  if (outcome.bytesLeftOnStack != 0)
    throw EmulationError(what + " left " + std::to_string(outcome.bytesLeftOnStack) +
                         " bytes on the stack");
  if (!outcome.calleeSavedRegistersKept)
    throw EmulationError(what + " did not keep EBX, ESI, EDI, EBP or the direction flag");
  arena_->checkCanaries(what);
  heap_->checkGuards();
  return outcome.eax;
}

std::uint32_t EmulatedPlugin::callExport(const std::string& name,
                                         const std::vector<std::uint32_t>& arguments) {
  const std::uint32_t address = exportAddress(name);
  if (!address) throw EmulationError(path_ + " does not export " + name);
  return checkedCall(name, address, arguments);
}

int EmulatedPlugin::getPluginInfo(int infoNumber, char* buffer, int bufferLength) {
  arena_->reset();
  const std::size_t size = buffer && bufferLength > 0 ? static_cast<std::size_t>(bufferLength) : 0;
  std::uint32_t address = 0;
  if (buffer) address = arena_->placeAtEnd(Bytes(buffer, buffer + size));
  const auto answer =
      static_cast<int>(callExport("GetPluginInfo", {static_cast<std::uint32_t>(infoNumber), address,
                                                    static_cast<std::uint32_t>(bufferLength)}));
  if (size) {
    const Bytes written = arena_->read(address, static_cast<std::uint32_t>(size));
    std::copy(written.begin(), written.end(), buffer);
  }
  return answer;
}

int EmulatedPlugin::isSupported(const std::string& fileName, const Bytes& firstBytes) {
  arena_->reset();
  Bytes block(kRecognitionBlock, 0);
  std::copy_n(firstBytes.begin(), std::min<std::size_t>(firstBytes.size(), block.size()),
              block.begin());
  const std::uint32_t source = arena_->placeAtEnd(block);
  const Bytes name(fileName.c_str(), fileName.c_str() + fileName.size() + 1);
  return static_cast<int>(
      callExport("IsSupported", {arena_->place("the file name", name), source}));
}

int EmulatedPlugin::isSupportedWithValue(const std::string& fileName, std::uint32_t source) {
  arena_->reset();
  const Bytes name(fileName.c_str(), fileName.c_str() + fileName.size() + 1);
  return static_cast<int>(
      callExport("IsSupported", {arena_->place("the file name", name), source}));
}

std::vector<std::uint32_t> EmulatedPlugin::sourceArguments(const PictureSource& source) {
  const Bytes bytes = source.isName
                          ? Bytes(source.name.c_str(), source.name.c_str() + source.name.size() + 1)
                          : source.bytes;
  return {arena_->placeAtEnd(bytes), static_cast<std::uint32_t>(source.length), source.flags};
}

PictureInfoOutcome EmulatedPlugin::getPictureInfo(const PictureSource& source) {
  arena_->reset();
  std::vector<std::uint32_t> arguments = sourceArguments(source);
  const std::uint32_t record = arena_->place("the picture-information record",
                                             Bytes(sizeof(PictureInfoRecord), kRecordFill));
  arguments.push_back(record);

  PictureInfoOutcome outcome;
  outcome.result = static_cast<LoaderResult>(callExport("GetPictureInfo", arguments));
  const Bytes written = arena_->read(record, sizeof(PictureInfoRecord));
  std::copy_n(written.begin(), outcome.fields.size(), outcome.fields.begin());
  const std::uint32_t text = readLe32(&written[offsetof(PictureInfoRecord, textHandle)]);
  const std::uint32_t untouched = readLe32(Bytes(4, kRecordFill).data());
  outcome.text = text == untouched ? PictureInfoOutcome::Text::Untouched
                 : text == 0       ? PictureInfoOutcome::Text::None
                                   : PictureInfoOutcome::Text::Block;
  outcome.textBytes =
      contract(outcome.contractFailures).afterPictureInfo(outcome.result, text, untouched);
  return outcome;
}

PictureOutcome EmulatedPlugin::getPicture(const PictureSource& source,
                                          const ProgressScript& progress, std::uint32_t userData) {
  return pictureCall("GetPicture", source, progress, userData);
}

PictureOutcome EmulatedPlugin::getPreview(const PictureSource& source,
                                          const ProgressScript& progress, std::uint32_t userData) {
  return pictureCall("GetPreview", source, progress, userData);
}

PictureOutcome EmulatedPlugin::pictureCall(const char* exportName, const PictureSource& source,
                                           const ProgressScript& progress, std::uint32_t userData) {
  arena_->reset();
  std::vector<std::uint32_t> arguments = sourceArguments(source);
  const std::uint32_t infoCell = arena_->place("the information handle", le32(kUntouchedHandle));
  const std::uint32_t pixelCell = arena_->place("the pixel handle", le32(kUntouchedHandle));
  arguments.insert(arguments.end(),
                   {infoCell, pixelCell, progress ? progressAddress_ : 0, userData});
  progressScript_ = progress;
  progressCalls_.clear();

  PictureOutcome outcome;
  outcome.result = static_cast<LoaderResult>(callExport(exportName, arguments));
  outcome.progress = progressCalls_;
  host_contract::HandedPicture handed =
      contract(outcome.contractFailures)
          .afterPicture(exportName, outcome.result, machine_->read32(infoCell),
                        machine_->read32(pixelCell), kUntouchedHandle);
  outcome.info = std::move(handed.info);
  outcome.pixels = std::move(handed.pixels);
  return outcome;
}

host_contract::Checker<EmulatedBlocks, host_contract::CollectedReport> EmulatedPlugin::contract(
    std::string& failures) {
  return {blocks(), host_contract::CollectedReport{&failures}};
}

EmulatedBlocks EmulatedPlugin::blocks() {
  return EmulatedBlocks(*services_);
}

Holdings EmulatedPlugin::holdings() const {
  return services_->holdings();
}
void EmulatedPlugin::setFaultPlan(const FaultPlan& plan) {
  services_->setFaultPlan(plan);
}
std::uint32_t EmulatedPlugin::openFile(const std::string& path) {
  return services_->hostOpen(path);
}
std::int64_t EmulatedPlugin::filePosition(std::uint32_t handle) const {
  return services_->filePosition(handle);
}
void EmulatedPlugin::closeFile(std::uint32_t handle) {
  services_->hostClose(handle);
}

bool EmulatedPlugin::hasResource(std::uint32_t type, std::uint32_t name,
                                 std::uint32_t language) const {
  return services_->findResource(type, name, language) != 0;
}

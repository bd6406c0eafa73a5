// SPDX-License-Identifier: MIT
// The plug-in DLLs as a Windows host sees them: loaded like LoadLibrary into an emulated 32-bit
// process, their exports found by name and called with the stdcall convention.
#define HOST_CHECKS_WITH_GTEST
#include <gtest/gtest.h>

#include "tests/emulated/plugin_files.h"
#include "tests/win32/host_checks.h"

// Test names and messages name a DLL by its file.
void PrintTo(const PluginDll& dll, std::ostream* out) {
  *out << dll.file;
}

namespace {

// The shared host checks' view of an emulated plug-in.
class EmulatedHost {
 public:
  explicit EmulatedHost(EmulatedPlugin& plugin) : plugin_(plugin) {}

  bool exports(const char* name) { return plugin_.exportAddress(name) != 0; }

  // Calls with a missing file name and room for every output.
  int stackLeftByCallOf(const std::string& name) {
    const std::uint32_t buffer = plugin_.placeHostData(Bytes(80));
    const std::uint32_t record = plugin_.placeHostData(Bytes(sizeof(PictureInfoRecord)));
    const std::uint32_t handles = plugin_.placeHostData(Bytes(8));
    const std::uint32_t missing = text(host_checks::kMissingPicture);
    std::vector<std::uint32_t> arguments;
    if (name == "GetPluginInfo") arguments = {0, buffer, 80};
    if (name == "IsSupported") arguments = {text("x.txt"), 0};
    if (name == "GetPictureInfo") arguments = {missing, 0, 0, record};
    if (name == "GetPicture" || name == "GetPreview")
      arguments = {missing, 0, 0, handles, handles + 4, 0, 0};
    const EmulatedPlugin::CallOutcome outcome =
        plugin_.call(plugin_.exportAddress(name), arguments);
    EXPECT_TRUE(outcome.calleeSavedRegistersKept) << name;
    return outcome.bytesLeftOnStack;
  }

  int getPluginInfo(int n, char* buffer, int length) {
    return plugin_.getPluginInfo(n, buffer, length);
  }
  int isSupported(const std::string& name, const Bytes& bytes) {
    return plugin_.isSupported(name, bytes);
  }
  PictureInfoOutcome getPictureInfo(const PictureSource& s) { return plugin_.getPictureInfo(s); }
  PictureOutcome getPicture(const PictureSource& s) { return plugin_.getPicture(s); }
  PictureOutcome getPreview(const PictureSource& s) { return plugin_.getPreview(s); }
  bool hasResource(std::uint32_t type, std::uint32_t name, std::uint32_t language) {
    return plugin_.hasResource(type, name, language);
  }

 private:
  std::uint32_t text(const std::string& s) {
    return plugin_.placeHostData(Bytes(s.c_str(), s.c_str() + s.size() + 1));
  }
  EmulatedPlugin& plugin_;
};

class HostView : public LoadedDll, public ::testing::TestWithParam<PluginDll> {
 protected:
  void SetUp() override { load(GetParam().file); }
};

// The checks that the Win32 host makes under Wine, run here in emulation. The emulated host
// adds its own watch: the host's buffers end where mapped memory ends or are fenced, so that a
// write past them fails, and afterwards the DLL holds nothing.
#define EMULATED_HOST_CHECK(check)        \
  TEST_P(HostView, check) {               \
    EmulatedHost host(*plugin);           \
    host_checks::check(host, GetParam()); \
    expectNothingHeld(*plugin);           \
  }
HOST_CHECK_LIST(EMULATED_HOST_CHECK)

TEST_P(HostView, IsSupportedLeavesTheHostsFileOpen) {
  const std::uint32_t file = plugin->openFile(pluginPath(GetParam().file));
  ASSERT_NE(file, 0xFFFFFFFFu);
  EXPECT_EQ(plugin->isSupportedWithValue("picture.gra", file), 0);  // not a picture
  EXPECT_EQ(plugin->isSupportedWithValue("picture.q", file), 0);
  EXPECT_EQ(plugin->holdings().openFiles, 1);
  plugin->closeFile(file);
  expectNothingHeld(*plugin);
}

TEST_P(HostView, DetachesFromTheProcess) {
  char buffer[80];
  plugin->getPluginInfo(0, buffer, 80);
  EXPECT_EQ(plugin->detach(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Dlls, HostView, ::testing::Values(gradecDll(), qdecDll()),
                         [](const auto& info) {
                           const std::string file = info.param.file;
                           return file.substr(0, file.find('.'));
                         });

// The emulation itself: what it does not provide must not pass unnoticed.
class Emulation : public LoadedDll, public ::testing::Test {
 protected:
  void SetUp() override { load(gradecDll().file); }
};

TEST_F(Emulation, LoadsTheImageAwayFromItsPreferredBase) {
  EXPECT_NE(plugin->base(), plugin->preferredBase());
  EXPECT_GT(plugin->relocationsApplied(), 0);
}

TEST_F(Emulation, AFunctionItDoesNotProvideFailsTheCallNamingIt) {
  const std::uint32_t beep = plugin->systemFunction("KERNEL32.dll", "Beep");
  try {
    plugin->call(beep, {440, 100});
    ADD_FAILURE() << "the call of an unprovided function went through";
  } catch (const EmulationError& error) {
    EXPECT_NE(std::string(error.what()).find("kernel32.dll!Beep"), std::string::npos)
        << error.what();
  }
}

TEST_F(Emulation, GlobalBlocksAreMovableLockCountedAndNoPointers) {
  const std::uint32_t globalAlloc = plugin->systemFunction("kernel32", "GlobalAlloc");
  const std::uint32_t globalLock = plugin->systemFunction("kernel32", "GlobalLock");
  const std::uint32_t globalUnlock = plugin->systemFunction("kernel32", "GlobalUnlock");
  const std::uint32_t globalFree = plugin->systemFunction("kernel32", "GlobalFree");
  const std::uint32_t handle = plugin->call(globalAlloc, {0x0002, 100}).eax;
  ASSERT_NE(handle, 0u);
  const std::uint32_t address = plugin->call(globalLock, {handle}).eax;
  EXPECT_NE(address, handle);
  EXPECT_EQ(plugin->call(globalLock, {handle}).eax, address);
  EXPECT_EQ(plugin->holdings().lockedGlobalBlocks, 1);
  EXPECT_EQ(plugin->call(globalUnlock, {handle}).eax, 1u);  // still locked once
  EXPECT_EQ(plugin->call(globalUnlock, {handle}).eax, 0u);
  EXPECT_EQ(plugin->holdings().lockedGlobalBlocks, 0);
  EXPECT_EQ(plugin->call(globalFree, {handle}).eax, 0u);
  EXPECT_THROW(plugin->call(globalLock, {handle}), EmulationError);        // freed
  EXPECT_THROW(plugin->call(globalAlloc, {0x0000, 100}), EmulationError);  // fixed: not emulated
  // A handle used as a pointer faults.
  const std::uint32_t strlen = plugin->systemFunction("msvcrt.dll", "strlen");
  EXPECT_THROW(plugin->call(strlen, {plugin->call(globalAlloc, {0x0002, 8}).eax}), EmulationError);
}

TEST_F(Emulation, PagesAnswerVirtualQueryAndVirtualProtectAsImageMemory) {
  const std::uint32_t query = plugin->systemFunction("kernel32.dll", "VirtualQuery");
  const std::uint32_t protect = plugin->systemFunction("kernel32.dll", "VirtualProtect");
  const std::uint32_t code = plugin->exportAddress("GetPicture");
  const std::uint32_t information = plugin->placeHostData(Bytes(28));
  const std::uint32_t old = plugin->placeHostData(Bytes(4));
  ASSERT_EQ(plugin->call(query, {code, information, 28}).eax, 28u);
  EXPECT_EQ(plugin->readWord(information), code & ~0xFFFu);        // BaseAddress
  EXPECT_EQ(plugin->readWord(information + 4), plugin->base());    // AllocationBase
  EXPECT_EQ(plugin->readWord(information + 20), 0x20u);            // PAGE_EXECUTE_READ
  EXPECT_EQ(plugin->readWord(information + 24), 0x1000000u);       // MEM_IMAGE
  ASSERT_EQ(plugin->call(protect, {code, 1, 0x40, old}).eax, 1u);  // PAGE_EXECUTE_READWRITE
  EXPECT_EQ(plugin->readWord(old), 0x20u);
  plugin->call(query, {code, information, 28});
  EXPECT_EQ(plugin->readWord(information + 20), 0x40u);
}

}  // namespace

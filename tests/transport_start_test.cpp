// Transport start-up: the path for the Windows version, buffers, the Intel IDE driver, the ASPI
// layer and its adapters, the IEEE 1394 auto-insert check.
#include <gtest/gtest.h>

#include "tests/transport_drive.h"

namespace {

using test::Bytes;
using test::TransportTest;

const char kMsg48[] = "\r\nDetect the Intel's IDE driver.";
const char kMsg52[] = "\r\nDetect the IEEE1394 interface.";

TEST_F(TransportTest, WindowsVersionChoosesThePath) {
  struct Case {
    DWORD platform, major, minor;
    int32_t path;
  };
  const Case cases[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 1},  {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 1}, {VER_PLATFORM_WIN32_WINDOWS, 4, 3, 0},
      {VER_PLATFORM_WIN32_NT, 4, 0, 0},       {VER_PLATFORM_WIN32_NT, 5, 0, 0},
      {VER_PLATFORM_WIN32_NT, 5, 1, 0},       {VER_PLATFORM_WIN32_NT, 6, 0, 0},
      {VER_PLATFORM_WIN32s, 3, 10, 0},
  };
  for (const Case& c : cases) {
    m.version.dwPlatformId = c.platform;
    m.version.dwMajorVersion = c.major;
    m.version.dwMinorVersion = c.minor;
    Start();
    EXPECT_EQ(gIf, c.path) << c.platform << " " << c.major << "." << c.minor;
    EXPECT_EQ(gTextSize, c.path == 1 ? 0x200000u : 0x800000u);
    EXPECT_EQ(gTimeout, 1000u);
    EndCmdApi();
  }
}

TEST_F(TransportTest, IntelKeysAnnounceTheDriverButOnlyTheStorageDriverIsTrusted) {
  m.registry["HKLM\\SOFTWARE\\INTEL\\Intel Application Accelerator"];
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(Count(kMsg48), 1u);
  EXPECT_EQ(gIntel, 0);
  EndCmdApi();

  m.console.clear();
  m.registry.clear();
  m.registry["HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"];
  Start();
  EXPECT_EQ(Count(kMsg48), 1u);
  EXPECT_EQ(gIntel, 1);
  EndCmdApi();

  m.console.clear();
  m.registry["HKLM\\SOFTWARE\\Intel\\INTEL APPLICATION ACCELERATOR"];  // names ignore case
  Start();
  EXPECT_EQ(Count(kMsg48), 2u);
  EXPECT_EQ(gIntel, 1);
}

TEST_F(TransportTest, AspiStartUpWithoutAdaptersLeavesNothingToEnumerate) {
  test::UseWindows98(m);
  m.AddOnAdapter(test::MakeDrive(), 0, 0);

  m.aspiInstalled = false;
  EXPECT_EQ(Start(), 1);
  EXPECT_EQ(gDevn, 0);
  EndCmdApi();

  m.aspiInstalled = true;
  m.adapters = {{"ESDI_506"}};
  m.aspiInitFails = true;
  EXPECT_EQ(Start(), 2);
  EXPECT_EQ(gDevn, 0);
  EndCmdApi();

  m.aspiInitFails = false;
  m.adapters.clear();
  EXPECT_EQ(Start(), 3);
  EXPECT_EQ(gDevn, 0);
  EXPECT_TRUE(m.console.empty());  // none of these is announced
  EXPECT_TRUE(m.log.empty());
}

TEST_F(TransportTest, AspiAdaptersRevealTheIntelDriverOnceAndTheLastIeee1394Adapter) {
  test::UseWindows98(m);
  m.adapters = {{"intelata"}, {"NTMAPHLP"}, {"intelata"}, {""}, {"ESDI_506"}};
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(gIntel, 1);
  EXPECT_EQ(Count(kMsg48), 1u);
  EXPECT_EQ(Count(kMsg52), 2u);
  EXPECT_EQ(gIEEE, 3);
  EXPECT_EQ(gHaCnt, 5);
}

TEST_F(TransportTest, AdapterTableKeepsToItsRoom) {
  test::UseWindows98(m);
  m.adapters.assign(20, {"ESDI_506"});
  m.AddOnAdapter(test::MakeDrive(), 15, 1);
  m.AddOnAdapter(test::MakeDrive(), 17, 0);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(gHaCnt, kHaMax);
  ASSERT_EQ(gDevn, 1);
  EXPECT_EQ(drvid[0].haNo, 15);
  EXPECT_EQ(drvid[0].tgtNo, 1);
}

// The registry of a Windows 98 machine with the IEEE 1394 adapter as host adapter 1 and drive
// instances under it; `present` are the instances the Configuration Manager lists.
class AutoInsertTest : public TransportTest {
 protected:
  static constexpr const char* kKey = "HKLM\\Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_1\\";
  void SetUp() override {
    test::UseWindows98(m);
    m.adapters = {{"ESDI_506"}, {""}};
  }
  void Instance(const std::string& name, bool present, int autoInsert = 1) {
    auto& key = m.registry[kKey + name];
    if (autoInsert >= 0) key.values["AutoInsertNotification"] = {static_cast<uint8_t>(autoInsert)};
    if (!present) return;
    // The manager's spelling: '\' where the instance name has '&' at positions 4 and 24.
    std::string hw = name;
    hw[4] = '\\';
    if (hw.size() > 24) hw[24] = '\\';
    m.registry["HKDD\\Config Manager\\Enum\\C" + std::to_string(++cm_)].values["HardWareKey"] =
        Bytes(hw + std::string(1, '\0'));
  }
  int cm_ = 0;
};

TEST_F(AutoInsertTest, CountsPresentDrivesUnderTheAdaptersOwnKey) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", true);
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0002", true);
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0003", false);     // not present: adds nothing
  Instance("SBP2&OTHER&DRIVE&LUN00000&0004", true, 1);  // another device: not looked at
  // The same drives under adapter 0's key do not count for adapter 1.
  m.registry["HKLM\\Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_0\\SBP2&BRIX&XQVA-DRW&LUN00&0009"]
      .values["AutoInsertNotification"] = {1};
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(gIEEE, 1);
  EXPECT_EQ(gAutoRun, 2);
  EXPECT_EQ(Count("Error"), 0u);
}

TEST_F(AutoInsertTest, RegistryErrorsArePrintedAndOnlyEndTheCheck) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", true);
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0002", true, -1);  // walked first: its value is missing
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegQueryValueEx Error : 00000002h"), std::string::npos);
  EXPECT_EQ(gAutoRun, 0);  // the walk stopped before the first instance

  m.console.clear();
  m.regInfoFails["HKLM\\Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_1"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegQueryInfoKey Error : 00000005h"), std::string::npos);

  m.console.clear();
  m.regInfoFails.clear();
  m.regOpenFails[std::string(kKey) + "SBP2&BRIX&XQVA-DRW&LUN00&0002"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegOpenKeyEx Error : 00000005h"), std::string::npos);
  EXPECT_EQ(gAutoRun, 0);
}

TEST_F(AutoInsertTest, AnUnreadableManagerEntryIsSkipped) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", true);  // listed as C1
  m.registry["HKDD\\Config Manager\\Enum\\C2"].values["HardWareKey"] = Bytes("ROOT\\X");
  m.regOpenFails["HKDD\\Config Manager\\Enum\\C2"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegOpenKeyEx Error (Config Mahager): 00000005h"),
            std::string::npos);
  EXPECT_EQ(gAutoRun, 1);
}

TEST_F(AutoInsertTest, ManagerValueMatchesTheBeginningOfTheNameButAnEmptyOneNothing) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", false);
  m.registry["HKDD\\Config Manager\\Enum\\C1"].values["HardWareKey"] = Bytes(std::string(1, '\0'));
  m.registry["HKDD\\Config Manager\\Enum\\C2"].values["HardWareKey"] = Bytes("SBP2");
  m.registry["HKDD\\Config Manager\\Enum\\C3"].values["HardWareKey"] = Bytes("SBP2\\BRIX&X");
  EXPECT_EQ(Start(), 0);
  // "SBP2" and the prefix are beginnings of the name and do match; the empty value does not.
  EXPECT_EQ(gAutoRun, 1);
  m.registry.erase("HKDD\\Config Manager\\Enum\\C2");
  m.registry.erase("HKDD\\Config Manager\\Enum\\C3");
  Start();
  EXPECT_EQ(gAutoRun, 0);
}

TEST(TransportStart, AllocationFailureFindsNoTargetOnEitherPath) {
  for (bool aspi : {false, true}) {
    for (int failing = 1; failing <= (aspi ? 4 : 3); ++failing) {
      sim::Machine m;
      if (aspi) {
        test::UseWindows98(m);
        m.adapters = {{"ESDI_506"}};
        m.AddOnAdapter(test::MakeDrive(), 0, 0);
      } else {
        m.AddAtLetter(test::MakeDrive(), 'D');
      }
      m.failAlloc = failing;
      m.answers = {IDOK};
      EXPECT_EQ(test::RunMain(m), 1);
      EXPECT_NE(m.console.find("\r\nAvailable target is not found."), std::string::npos);
      EXPECT_TRUE(m.log.empty()) << "aspi " << aspi << " allocation " << failing;
      EXPECT_EQ(pBuff, nullptr);
      EXPECT_EQ(pText, nullptr);
      EXPECT_EQ(pParam, nullptr);
    }
  }
}

}  // namespace

// Transport start-up: the path for the Windows version, buffers, the Intel IDE driver, the ASPI
// layer and its adapters, the IEEE 1394 auto-insert check.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/transport_drive.h"

namespace {

using test::TransportTest;

const char kMsg48[] = "\r\nDetect the Intel's IDE driver.";
const char kMsg52[] = "\r\nDetect the IEEE1394 interface.";

// 95, 98 and Me take the ASPI path; NT 4, 2000, XP, later NT versions, other versions of the 9x
// family and other platforms the pass-through path.
TEST_F(TransportTest, WindowsVersionChoosesThePath) {
  const DWORD k9x = VER_PLATFORM_WIN32_WINDOWS, kNt = VER_PLATFORM_WIN32_NT;
  // clang-format off
  for (auto [platform, major, minor, path] : {
           std::tuple{k9x, 4u, 0u, 1}, {k9x, 4u, 10u, 1}, {k9x, 4u, 90u, 1}, {k9x, 4u, 3u, 0},
           {kNt, 4u, 0u, 0}, {kNt, 5u, 0u, 0}, {kNt, 5u, 1u, 0}, {kNt, 6u, 0u, 0},
           {DWORD{VER_PLATFORM_WIN32s}, 3u, 10u, 0}}) {
    // clang-format on
    m.version.dwPlatformId = platform;
    m.version.dwMajorVersion = major;
    m.version.dwMinorVersion = minor;
    Start();
    EXPECT_EQ(gIf, path) << platform << " " << major << "." << minor;
  }
}

// Message 48 for each key found; only the storage driver's changes how NOT READY is judged.
TEST_F(TransportTest, IntelKeysAnnounceTheDriverButOnlyTheStorageDriverIsTrusted) {
  const std::string kAccelerator = "HKLM\\SOFTWARE\\INTEL\\Intel Application Accelerator";
  const std::string kStorage = "HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver";
  const std::string kAnyCase = "HKLM\\SOFTWARE\\Intel\\INTEL APPLICATION ACCELERATOR";
  for (auto [keys, shown, intel] : {std::tuple{std::vector{kAccelerator}, 1u, 0},
                                    {std::vector{kStorage}, 1u, 1},
                                    {std::vector{kStorage, kAnyCase}, 2u, 1}}) {
    m.registry.clear();
    m.console.clear();
    for (const std::string& key : keys)
      m.registry[key];
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(Count(kMsg48), shown);
    EXPECT_EQ(gIntel, intel);
  }
}

// No library (1), a failed initialisation (2), no adapters (3): silently nothing to enumerate.
TEST_F(TransportTest, AspiStartUpWithoutAdaptersLeavesNothingToEnumerate) {
  test::UseWindows98(m);
  m.AddOnAdapter(test::MakeDrive(), 0, 0);
  for (int expected : {1, 2, 3}) {
    m.aspiInstalled = expected != 1;
    m.aspiInitFails = expected == 2;
    m.adapters.assign(expected == 3 ? 0 : 1, {"ESDI_506"});
    EXPECT_EQ(Start(), expected);
    EXPECT_EQ(gDevn, 0);
  }
  EXPECT_TRUE(m.console.empty());
  EXPECT_TRUE(m.log.empty());
}

// The adapter table has room for 16: adapters beyond it are neither judged nor scanned.
TEST_F(TransportTest, AspiAdaptersRevealTheIntelDriverOnceAndTheLastIeee1394Adapter) {
  test::UseWindows98(m);
  m.adapters.assign(20, {"ESDI_506"});
  m.adapters[0] = m.adapters[2] = {"intelata"};
  m.adapters[1] = {"NTMAPHLP"};
  m.adapters[3] = m.adapters[17] = {""};
  m.AddOnAdapter(test::MakeDrive(), 15, 1);
  m.AddOnAdapter(test::MakeDrive(), 17, 0);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(gIntel, 1);
  EXPECT_EQ(Count(kMsg48), 1u);
  EXPECT_EQ(Count(kMsg52), 2u);
  EXPECT_EQ(gIEEE, 3);
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
  static constexpr const char* kManager = "HKDD\\Config Manager\\Enum\\C";
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
    Listed(std::to_string(++cm_), hw + std::string(1, '\0'));
  }
  void Listed(const std::string& entry, const std::string& hardwareKey) {
    m.registry[kManager + entry].values["HardWareKey"] = {hardwareKey.begin(), hardwareKey.end()};
  }
  int cm_ = 0;
};

// The manager's value matches when it begins the instance name (CP lists the second instance by
// its first 24 characters); an empty one matches nothing; one that cannot be read is reported and
// skipped.
TEST_F(AutoInsertTest, CountsPresentDrivesUnderTheAdaptersOwnKey) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", true);
  Instance("SBP2&BRIX&XQVA-DRW&LUN01&0002", false);
  Listed("P", "SBP2\\BRIX&XQVA-DRW&LUN01");
  Instance("SBP2&BRIX&XQVA-DRW&LUN02&0003", false);     // not present: adds nothing
  Instance("SBP2&OTHER&DRIVE&LUN00000&0004", true, 1);  // another device: not looked at
  // The same drives under adapter 0's key do not count for adapter 1.
  m.registry["HKLM\\Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_0\\SBP2&BRIX&XQVA-DRW&LUN00&0009"]
      .values["AutoInsertNotification"] = {1};
  Listed("E", std::string(1, '\0'));  // an empty value
  Listed("U", "ROOT\\X");
  m.regOpenFails[std::string(kManager) + "U"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(gIEEE, 1);
  EXPECT_EQ(gAutoRun, 2);
  EXPECT_NE(m.console.find("\r\nRegOpenKeyEx Error (Config Mahager): 00000005h"),
            std::string::npos);
}

TEST_F(AutoInsertTest, RegistryErrorsArePrintedAndOnlyEndTheCheck) {
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0001", true);
  Instance("SBP2&BRIX&XQVA-DRW&LUN00&0002", true, -1);  // walked first: its value is missing
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegQueryValueEx Error : 00000002h"), std::string::npos);
  EXPECT_EQ(gAutoRun, 0);  // the walk stopped before the first instance

  m.regOpenFails[std::string(kKey) + "SBP2&BRIX&XQVA-DRW&LUN00&0002"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegOpenKeyEx Error : 00000005h"), std::string::npos);
  EXPECT_EQ(gAutoRun, 0);

  m.regInfoFails["HKLM\\Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_1"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Start(), 0);
  EXPECT_NE(m.console.find("\r\nRegQueryInfoKey Error : 00000005h"), std::string::npos);
}

// Enumeration must then never touch a missing buffer.
TEST_F(TransportTest, AllocationFailureFindsNoTargetOnEitherPath) {
  for (bool aspi : {false, true}) {
    for (int failing = 1; failing <= (aspi ? 4 : 3); ++failing) {
      m.slots.clear();
      if (aspi) {
        test::UseWindows98(m);
        m.adapters = {{"ESDI_506"}};
        m.AddOnAdapter(test::MakeDrive(), 0, 0);
      } else {
        m.AddAtLetter(test::MakeDrive(), 'D');
      }
      m.failAlloc = failing;
      EXPECT_EQ(Start(), -1);
      EXPECT_EQ(gDevn, 0);
      EXPECT_TRUE(m.log.empty()) << "aspi " << aspi << " allocation " << failing;
    }
  }
}

}  // namespace

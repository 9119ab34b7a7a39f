// The simulated machine's attachments behave like the system they stand in for: registry,
// device paths and storage controls, and the ASPI layer's entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>

#include "tests/transport_drive.h"

namespace {

using test::MakeDrive;

TEST(SimRegistry, KeysSubkeysAndValuesAsWindowsGivesThem) {
  sim::Machine m;
  m.registry["HKLM\\Enum\\SCSI\\Dev_1\\Beta"].values["Flag"] = {7};
  m.registry["HKLM\\Enum\\SCSI\\Dev_1\\alpha\\Deeper"];
  m.registry["HKLM\\Enum\\SCSI\\Dev_1\\ALPHA"].values["Name"] = test::Bytes("abcdef");
  m.Install();

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "enum\\scsi\\DEV_1", 0, KEY_READ, &key),
            ERROR_SUCCESS);  // a key on the way to others exists; case does not matter
  DWORD count = 0;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 2u);
  char name[8];
  DWORD len = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STRCASEEQ(name, "alpha");
  EXPECT_EQ(len, 5u);
  len = 4;
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  len = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 2, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, "Alpha", 0, KEY_READ, &sub), ERROR_SUCCESS);
  BYTE data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(sub, "name", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(RegQueryValueExA(sub, "Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(sub), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(sub), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\SCSI\\Dev", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Enum", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// A pass-through block on drive D: of a fresh machine, ready to send TEST UNIT READY.
struct Device {
  sim::Machine m;
  HANDLE h = INVALID_HANDLE_VALUE;
  TagSptdBlock b{};
  DWORD returned = 0;
  Device() {
    m.AddAtLetter(MakeDrive(), 'D');
    m.Install();
    h = CreateFileA("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    b.sptd.Length = sizeof b.sptd;
    b.sptd.CdbLength = 6;
    b.sptd.SenseInfoLength = 18;
    b.sptd.SenseInfoOffset = offsetof(TagSptdBlock, sense);
    b.sptd.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    b.sptd.TimeOutValue = 2;
  }
  ~Device() { CloseHandle(h); }
  BOOL Send(DWORD size = sizeof(TagSptdBlock)) {
    return DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, size, &b, size, &returned,
                           nullptr);
  }
};

TEST(SimPassThrough, RecordsThePortDriverWouldRejectAreRejected) {
  Device d;
  ASSERT_NE(d.h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(d.Send());
  EXPECT_FALSE(d.Send(sizeof(SCSI_PASS_THROUGH_DIRECT) - 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  d.b.sptd.SenseInfoLength = 18;                         // given back as 0 by the good command
  d.b.sptd.SenseInfoOffset = sizeof(TagSptdBlock) - 10;  // sense would run past the block
  EXPECT_FALSE(d.Send());
  d.b.sptd.SenseInfoOffset = offsetof(TagSptdBlock, sense);
  d.b.sptd.Length = 44 + 1;
  EXPECT_FALSE(d.Send());
  d.b.sptd.Length = sizeof d.b.sptd;
  d.b.sptd.DataTransferLength = 96;  // data without a buffer
  d.b.sptd.DataIn = SCSI_IOCTL_DATA_IN;
  EXPECT_FALSE(d.Send());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(d.m.log.size(), 1u);
}

TEST(SimAspi, EntriesAndAWaitThatCouldNeverEnd) {
  sim::Machine m;
  m.adapters = {{"ESDI_506"}, {"intelata"}};
  m.AddOnAdapter(MakeDrive(), 1, 0);
  m.Install();
  HMODULE lib = LoadLibraryA("wnaspi32.dll");
  ASSERT_NE(lib, nullptr);
  auto support = reinterpret_cast<AspiSupportInfoFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(lib, ASPI_ENTRY_SUPPORT_INFO)));
  auto send = reinterpret_cast<AspiSendCommandFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(lib, ASPI_ENTRY_SEND_COMMAND)));
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(support(), 0x0102u);

  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = 0;
  srb.SRB_CDBLen = 6;
  srb.SRB_Flags = SRB_EVENT_NOTIFY;
  HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  srb.SRB_PostProc = ev;
  send(&srb);
  EXPECT_EQ(srb.SRB_Status, SS_NO_DEVICE);
  EXPECT_EQ(WaitForSingleObject(ev, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));

  sim::Fault hang;
  hang.kind = sim::Fault::Kind::Timeout;
  m.faults = {hang};
  srb.SRB_HaId = 1;
  send(&srb);
  EXPECT_EQ(srb.SRB_Status, SS_PENDING);
  EXPECT_EQ(WaitForSingleObject(ev, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(ev, INFINITE), WAIT_FAILED);
  SRB_Abort abort{};
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_ToAbort = &srb;
  send(&abort);
  EXPECT_EQ(srb.SRB_Status, SS_ABORTED);
  CloseHandle(ev);
  EXPECT_EQ(m.aspiClosedPending, 0);
}

}  // namespace

// The Linux host's drive access without a drive: names, the SG_IO translation both ways, errors,
// media event polling, and what the host answers where there is nothing.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/types.h"
#include "platform/backend.h"
#include "platform/sgio_linux.h"

namespace {

namespace sgio = platform::sgio;

TEST(HostNames, LettersDToZAreTheOpticalDriveNodesInOrder) {
  EXPECT_EQ(sgio::DriveIndex('D'), 0);
  EXPECT_EQ(sgio::DriveIndex('e'), 1);
  EXPECT_EQ(sgio::DriveIndex('Z'), 22);
  EXPECT_EQ(sgio::DriveIndex('C'), -1);
  EXPECT_EQ(sgio::DriveIndex('['), -1);
  EXPECT_EQ(sgio::PollFile("/sys", 3), "/sys/block/sr3/events_poll_msecs");
  EXPECT_EQ(sgio::DevicePathLetter("\\\\.\\E:"), 'E');
  for (const char* other : {"\\\\.\\E:\\", "\\\\.\\1:", "E:", "A0414431.122"})
    EXPECT_EQ(sgio::DevicePathLetter(other), 0) << other;
  EXPECT_EQ(sgio::DevicePathLetter(nullptr), 0);
}

SCSI_PASS_THROUGH_DIRECT Record(UCHAR dataIn, ULONG len, void* buf) {
  SCSI_PASS_THROUGH_DIRECT r{};
  r.CdbLength = 10;
  r.SenseInfoLength = 18;
  r.DataIn = dataIn;
  r.DataTransferLength = len;
  r.TimeOutValue = 60;
  r.DataBuffer = buf;
  return r;
}

TEST(HostSgIo, RequestKeepsDirectionAndTheCallersBufferWithBoundedSenseAndTimeOut) {
  uint8_t data[0x8000];
  uint8_t sense[sgio::kMaxSense];
  sg_io_hdr_t h;
  SCSI_PASS_THROUGH_DIRECT out = Record(SCSI_IOCTL_DATA_OUT, sizeof data, data);
  sgio::ToSgIo(out, sense, &h);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(h.dxferp, data);  // not copied
  EXPECT_EQ(h.dxfer_len, sizeof data);
  EXPECT_EQ(h.cmdp, out.Cdb);
  EXPECT_EQ(h.cmd_len, 10);
  EXPECT_EQ(h.timeout, 60000u);
  EXPECT_EQ(h.sbp, sense);

  SCSI_PASS_THROUGH_DIRECT in = Record(SCSI_IOCTL_DATA_IN, 96, data);
  in.SenseInfoLength = 32;  // the kernel never writes more than the 18 bytes we keep
  in.TimeOutValue = 0xFFFFFFFF;
  sgio::ToSgIo(in, sense, &h);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.mx_sb_len, sgio::kMaxSense);
  EXPECT_EQ(h.timeout, 0xFFFFFFFFu);

  for (SCSI_PASS_THROUGH_DIRECT none :
       {Record(SCSI_IOCTL_DATA_IN, 0, data), Record(SCSI_IOCTL_DATA_UNSPECIFIED, 64, data)}) {
    sgio::ToSgIo(none, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);
  }
}

TEST(HostSgIo, OutcomeIsHostThenDriverThenDriveStatusWithinTheRecordsBounds) {
  SCSI_PASS_THROUGH_DIRECT r = Record(SCSI_IOCTL_DATA_IN, 96, nullptr);
  auto outcome = [&r](unsigned char status, unsigned short host, unsigned short driver,
                      int resid = 0, unsigned char senseWritten = 0) {
    sg_io_hdr_t h{};
    h.dxfer_len = 96;
    h.mx_sb_len = 18;
    h.status = status;
    h.host_status = host;
    h.driver_status = driver;
    h.resid = resid;
    h.sb_len_wr = senseWritten;
    return static_cast<long>(sgio::FromSgIo(h, &r));
  };
  EXPECT_EQ(outcome(0, 0, 0, 60), ERROR_SUCCESS);
  EXPECT_EQ(r.DataTransferLength, 36u);
  EXPECT_EQ(r.SenseInfoLength, 0);
  EXPECT_EQ(outcome(0x02, 0, 0x08, 0, 40), ERROR_SUCCESS);  // CHECK CONDITION with sense
  EXPECT_EQ(r.ScsiStatus, 0x02);
  EXPECT_EQ(r.SenseInfoLength, 18) << "never more than there was room for";
  outcome(0, 0, 0, -5);
  EXPECT_EQ(r.DataTransferLength, 96u);
  outcome(0, 0, 0, 500);
  EXPECT_EQ(r.DataTransferLength, 0u);

  EXPECT_EQ(outcome(0, 0x03, 0), ERROR_SEM_TIMEOUT);
  EXPECT_EQ(outcome(0x02, 0x01, 0x08), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(outcome(0, 0x07, 0), ERROR_IO_DEVICE);
  EXPECT_EQ(outcome(0, 0, 0x06), ERROR_SEM_TIMEOUT);
  EXPECT_EQ(outcome(0, 0, 0x04), ERROR_IO_DEVICE);
  // A driver error that comes with the drive's own status is the drive's answer.
  EXPECT_EQ(outcome(0x02, 0, 0x04), ERROR_SUCCESS);
}

TEST(HostSgIo, AddressAndErrors) {
  const SCSI_ADDRESS a = sgio::AddressOfIdLun(0x01020304);
  EXPECT_EQ((std::vector<int>{a.PortNumber, a.PathId, a.TargetId, a.Lun}),
            (std::vector<int>{1, 2, 4, 3}));
  EXPECT_EQ(sgio::ErrorOfErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sgio::ErrorOfErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // What the program tolerates from the address query: "not supported".
  EXPECT_EQ(sgio::ErrorOfErrno(ENOTTY), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(HostPolling, PausedAndPutBackAsItWas) {
  char dir[] = "/tmp/reflsh-poll-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/events_poll_msecs";
  auto content = [&] { return (std::stringstream() << std::ifstream(file).rdbuf()).str(); };
  std::ofstream(file) << "-1\n";  // the system default, put back as such
  std::string old;
  ASSERT_TRUE(sgio::PausePolling(file, &old));
  EXPECT_EQ(old, "-1");
  EXPECT_EQ(content(), "0");
  sgio::ResumePolling(file, old);
  EXPECT_EQ(content(), "-1");

  old = "kept";
  EXPECT_FALSE(sgio::PausePolling(std::string(dir) + "/missing", &old));
  EXPECT_EQ(old, "kept");
  std::filesystem::remove_all(dir);
}

TEST(HostDevices, NoDriveBehindALetterIsFileNotFound) {
  platform::Backend& host = platform::HostBackend();
  const char* letters[] = {"\\\\.\\C:", access("/dev/sr22", F_OK) != 0 ? "\\\\.\\Z:" : nullptr};
  for (const char* name : letters)
    for (DWORD access : {DWORD{GENERIC_READ | GENERIC_WRITE}, DWORD{0}}) {
      if (name == nullptr) continue;
      SetLastError(0);
      EXPECT_EQ(host.CreateFile(name, access, 3, OPEN_EXISTING), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << name << access;
    }
  // Only drive handles take storage controls.
  DWORD returned = 0;
  EXPECT_FALSE(host.DeviceIoControl(INVALID_HANDLE_VALUE, IOCTL_SCSI_GET_ADDRESS, nullptr, 0,
                                    nullptr, 0, &returned));
}

}  // namespace

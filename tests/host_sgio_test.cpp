// The Linux host's drive access without a drive: names, the SG_IO translation both ways, errors,
// media event polling, and what the host answers where there is nothing.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
  EXPECT_EQ(sgio::DriveNode(22), "/dev/sr22");
  EXPECT_EQ(sgio::PollFile("/sys", 3), "/sys/block/sr3/events_poll_msecs");

  EXPECT_EQ(sgio::DevicePathLetter("\\\\.\\E:"), 'E');
  EXPECT_EQ(sgio::DevicePathLetter("\\\\.\\E:\\"), 0);
  EXPECT_EQ(sgio::DevicePathLetter("\\\\.\\1:"), 0);
  EXPECT_EQ(sgio::DevicePathLetter("E:"), 0);
  EXPECT_EQ(sgio::DevicePathLetter("A0414431.122"), 0);
  EXPECT_EQ(sgio::DevicePathLetter(nullptr), 0);
}

SCSI_PASS_THROUGH_DIRECT Record(UCHAR dataIn, ULONG len, void* buf) {
  SCSI_PASS_THROUGH_DIRECT r;
  std::memset(&r, 0, sizeof r);
  r.Length = sizeof r;
  r.CdbLength = 10;
  const uint8_t cdb[10] = {0x3B, 0x05, 0, 0, 0, 0, 0, 0x80, 0x00, 0};
  std::memcpy(r.Cdb, cdb, sizeof cdb);
  r.SenseInfoLength = 18;
  r.DataIn = dataIn;
  r.DataTransferLength = len;
  r.TimeOutValue = 60;
  r.DataBuffer = buf;
  return r;
}

TEST(HostSgIo, RequestKeepsCdbDirectionAndTheCallersBuffer) {
  uint8_t data[0x8000];
  uint8_t sense[sgio::kMaxSense];
  sg_io_hdr_t h;

  SCSI_PASS_THROUGH_DIRECT out = Record(SCSI_IOCTL_DATA_OUT, sizeof data, data);
  sgio::ToSgIo(out, sense, &h);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(h.dxferp, data);  // not copied
  EXPECT_EQ(h.dxfer_len, sizeof data);
  EXPECT_EQ(h.cmd_len, 10);
  EXPECT_EQ(h.cmdp, out.Cdb);
  EXPECT_EQ(h.timeout, 60000u);
  EXPECT_EQ(h.sbp, sense);
  EXPECT_EQ(h.mx_sb_len, 18);

  SCSI_PASS_THROUGH_DIRECT in = Record(SCSI_IOCTL_DATA_IN, 96, data);
  in.SenseInfoLength = 32;  // the kernel never writes more than the 18 bytes we keep
  in.TimeOutValue = 0xFFFFFFFF;
  sgio::ToSgIo(in, sense, &h);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.mx_sb_len, sgio::kMaxSense);
  EXPECT_EQ(h.timeout, 0xFFFFFFFFu);

  for (SCSI_PASS_THROUGH_DIRECT none :
       {Record(SCSI_IOCTL_DATA_UNSPECIFIED, 0, nullptr), Record(SCSI_IOCTL_DATA_IN, 0, data),
        Record(SCSI_IOCTL_DATA_UNSPECIFIED, 64, data)}) {
    sgio::ToSgIo(none, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);
  }
}

sg_io_hdr_t Finished(unsigned char status, unsigned short host, unsigned short driver) {
  sg_io_hdr_t h;
  std::memset(&h, 0, sizeof h);
  h.dxfer_len = 96;
  h.mx_sb_len = 18;
  h.status = status;
  h.host_status = host;
  h.driver_status = driver;
  return h;
}

TEST(HostSgIo, OutcomeIsHostThenDriverThenDriveStatus) {
  SCSI_PASS_THROUGH_DIRECT r = Record(SCSI_IOCTL_DATA_IN, 96, nullptr);

  sg_io_hdr_t good = Finished(0, 0, 0);
  good.resid = 60;
  EXPECT_EQ(sgio::FromSgIo(good, &r), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(r.ScsiStatus, 0);
  EXPECT_EQ(r.DataTransferLength, 36u);
  EXPECT_EQ(r.SenseInfoLength, 0);

  sg_io_hdr_t check = Finished(0x02, 0, 0x08);  // CHECK CONDITION, sense available
  check.sb_len_wr = 18;
  EXPECT_EQ(sgio::FromSgIo(check, &r), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(r.ScsiStatus, 0x02);
  EXPECT_EQ(r.SenseInfoLength, 18);
  check.sb_len_wr = 40;  // never more than was room for
  sgio::FromSgIo(check, &r);
  EXPECT_EQ(r.SenseInfoLength, 18);

  sg_io_hdr_t odd = Finished(0, 0, 0);
  odd.resid = -5;
  sgio::FromSgIo(odd, &r);
  EXPECT_EQ(r.DataTransferLength, 96u);
  odd.resid = 500;
  sgio::FromSgIo(odd, &r);
  EXPECT_EQ(r.DataTransferLength, 0u);

  EXPECT_EQ(sgio::FromSgIo(Finished(0, 0x03, 0), &r), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_EQ(sgio::FromSgIo(Finished(0x02, 0x01, 0x08), &r),
            static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(sgio::FromSgIo(Finished(0, 0x07, 0), &r), static_cast<DWORD>(ERROR_IO_DEVICE));
  EXPECT_EQ(sgio::FromSgIo(Finished(0, 0, 0x06), &r), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
  EXPECT_EQ(sgio::FromSgIo(Finished(0, 0, 0x04), &r), static_cast<DWORD>(ERROR_IO_DEVICE));
  // A driver error that comes with the drive's own status is the drive's answer.
  EXPECT_EQ(sgio::FromSgIo(Finished(0x02, 0, 0x04), &r), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(HostSgIo, AddressAndErrors) {
  SCSI_ADDRESS a = sgio::AddressOfIdLun(0x01020304);
  EXPECT_EQ(a.Length, sizeof a);
  EXPECT_EQ(a.PortNumber, 1);
  EXPECT_EQ(a.PathId, 2);
  EXPECT_EQ(a.Lun, 3);
  EXPECT_EQ(a.TargetId, 4);

  EXPECT_EQ(sgio::ErrorOfErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sgio::ErrorOfErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(sgio::ErrorOfErrno(EPERM), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // What the program tolerates from the address query: "not supported".
  EXPECT_EQ(sgio::ErrorOfErrno(ENOTTY), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(sgio::ErrorOfErrno(ENODEV), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(HostPolling, PausedAndPutBackAsItWas) {
  char dir[] = "/tmp/reflsh-poll-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string file = std::string(dir) + "/events_poll_msecs";
  std::ofstream(file) << "2000\n";

  std::string old;
  ASSERT_TRUE(sgio::PausePolling(file, &old));
  EXPECT_EQ(old, "2000");
  EXPECT_EQ(Slurp(file), "0");
  sgio::ResumePolling(file, old);
  EXPECT_EQ(Slurp(file), "2000");

  std::ofstream(file) << "-1\n";  // the system default, put back as such
  ASSERT_TRUE(sgio::PausePolling(file, &old));
  EXPECT_EQ(old, "-1");

  old = "kept";
  EXPECT_FALSE(sgio::PausePolling(std::string(dir) + "/missing", &old));
  EXPECT_EQ(old, "kept");
  std::remove(file.c_str());
  rmdir(dir);
}

TEST(HostDevices, NoDriveBehindALetterIsFileNotFound) {
  platform::Backend& host = platform::HostBackend();
  SetLastError(0);
  EXPECT_EQ(host.CreateFile("\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (access("/dev/sr22", F_OK) != 0) {
    EXPECT_EQ(host.CreateFile("\\\\.\\Z:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(host.CreateFile("\\\\.\\Z:", 0, 3, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  }
  // Only drive handles take storage controls.
  DWORD returned = 0;
  EXPECT_FALSE(host.DeviceIoControl(INVALID_HANDLE_VALUE, IOCTL_SCSI_GET_ADDRESS, nullptr, 0,
                                    nullptr, 0, &returned));
}

}  // namespace

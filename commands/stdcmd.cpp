// Builders of the standard SCSI/MMC commands.
#include <cstring>

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"
#include "transport/cmdapi.h"

// Opcodes and CDB lengths.
enum : uint8_t {
  kOpTestUnitReady = 0x00,
  kOpRequestSense = 0x03,
  kOpInquiry = 0x12,
  kOpStartStopUnit = 0x1B,
  kOpWriteBuffer = 0x3B,
  kOpReadBuffer = 0x3C,
  kOpReportKey = 0xA4,
};
enum : int32_t { kCdb6 = 6, kCdb10 = 10, kCdb12 = 12 };

// INQUIRY carries its own time-out: shorter when an IEEE 1394 adapter or drive is known.
constexpr int32_t kInqTimeout = 5000;
constexpr int32_t kInqTimeoutIeee = 1000;

// A mode-5 WRITE BUFFER (back to the normal firmware) returns only once the drive has re-flashed.
// To an IEEE 1394 drive on the pass-through path it carries time-out 0, which the transport turns
// into its own limit.
constexpr uint8_t kWbModeReflash = 5;

static TagCmdIrp NewIrp(int devNo, int32_t dir, int32_t cdbLen, int32_t timeout) {
  TagCmdIrp irp;
  std::memset(&irp, 0, sizeof irp);
  irp.devNo = devNo;
  irp.dir = dir;
  irp.cdbLen = cdbLen;
  irp.timeout = timeout;
  return irp;
}

int TestUnitReady(int devNo) {
  TagCmdIrp irp = NewIrp(devNo, kDirNone, kCdb6, static_cast<int32_t>(gTimeout));
  irp.cdb[0] = kOpTestUnitReady;
  return ExecCmdApi(&irp);
}

int RequestSense(int devNo, uint8_t* buf) {
  if (gSendSense == 0) return 0;
  TagCmdIrp irp = NewIrp(devNo, kDirIn, kCdb6, static_cast<int32_t>(gTimeout));
  irp.cdb[0] = kOpRequestSense;
  irp.cdb[4] = kSenseLen;
  irp.xferLen = kSenseLen;
  irp.pBuf = buf;
  return ExecCmdApi(&irp);
}

int InqCmd(int devNo, uint8_t* buf) {
  TagCmdIrp irp = NewIrp(devNo, kDirIn, kCdb6, gIEEE == -1 ? kInqTimeout : kInqTimeoutIeee);
  irp.cdb[0] = kOpInquiry;
  irp.cdb[4] = kInqLen;
  irp.xferLen = kInqLen;
  irp.pBuf = buf;
  return ExecCmdApi(&irp);
}

int StartStopUnit(int devNo, int immed, int pc, int loej, int start) {
  TagCmdIrp irp = NewIrp(devNo, kDirNone, kCdb6, static_cast<int32_t>(gTimeout));
  irp.cdb[0] = kOpStartStopUnit;
  irp.cdb[1] = static_cast<uint8_t>(immed & 0x01);
  irp.cdb[4] = static_cast<uint8_t>((pc & 0x0F) << 4 | (loej & 0x01) << 1 | (start & 0x01));
  return ExecCmdApi(&irp);
}

int ReadBuffer(int devNo, uint8_t mode, uint8_t bufId, uint32_t offset, uint32_t length,
               uint8_t* buf) {
  TagCmdIrp irp = NewIrp(devNo, kDirIn, kCdb10, static_cast<int32_t>(gTimeout));
  irp.cdb[0] = kOpReadBuffer;
  irp.cdb[1] = mode;
  irp.cdb[2] = bufId;
  PutBe24(irp.cdb + 3, offset);
  PutBe16(irp.cdb + 7, length);
  irp.xferLen = static_cast<int32_t>(length);
  irp.pBuf = buf;
  return ExecCmdApi(&irp);
}

int ReportKey(int devNo, uint8_t keyClass, uint8_t keyFormat, uint8_t agid, uint32_t length,
              uint8_t* buf) {
  TagCmdIrp irp = NewIrp(devNo, kDirIn, kCdb12, static_cast<int32_t>(gTimeout));
  irp.cdb[0] = kOpReportKey;
  irp.cdb[7] = keyClass;
  PutBe16(irp.cdb + 8, length);
  irp.cdb[10] = static_cast<uint8_t>((agid & 0x03) << 6 | (keyFormat & 0x3F));
  irp.xferLen = static_cast<int32_t>(length);
  irp.pBuf = buf;
  return ExecCmdApi(&irp);
}

int WriteBuffer(int devNo, uint8_t mode, uint8_t bufId, uint32_t offset, uint32_t length,
                uint8_t* buf) {
  int32_t timeout = static_cast<int32_t>(gTimeout);
  if (gIf == 0 && gIEEE == devNo && mode == kWbModeReflash) timeout = 0;
  TagCmdIrp irp = NewIrp(devNo, length > 0 ? kDirOut : kDirNone, kCdb10, timeout);
  irp.cdb[0] = kOpWriteBuffer;
  irp.cdb[1] = mode;
  irp.cdb[2] = bufId;
  PutBe24(irp.cdb + 3, offset);
  PutBe16(irp.cdb + 7, length);
  irp.xferLen = static_cast<int32_t>(length);
  irp.pBuf = buf;
  return ExecCmdApi(&irp);
}

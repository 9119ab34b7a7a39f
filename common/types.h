// Records shared by the subsystems.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// One drive command. Builders clear it on their stack, fill it and hand it to ExecCmdApi.
struct TagCmdIrp {
  int32_t devNo;    // index in the target list
  int32_t dir;      // 0 none, 1 or 0x11 data in, 2 or 0x12 data out
  int32_t cdbLen;   // 6, 10 or 12
  int32_t timeout;  // milliseconds; 0 asks for the transport's own limit
  int32_t xferLen;  // data bytes
  uint8_t* pBuf;    // caller's buffer of at least xferLen bytes
  uint8_t cdb[16];  // big-endian fields; bytes past cdbLen stay 0
};

// Data directions of TagCmdIrp::dir.
enum : int32_t {
  kDirNone = 0,
  kDirIn = 1,
  kDirOut = 2,
  kDirIn2 = 0x11,
  kDirOut2 = 0x12,
};

// One entry of the target list: the fields of the path in use are meaningful, the rest stay 0.
struct TagDrvId {
  int32_t haNo;   // ASPI: host adapter number
  int32_t tgtNo;  // ASPI: target id (LUN 0)
  char letter;    // pass-through: drive letter 'D'..'Z'
};

// The pass-through request: the system's record followed by the sense area it points to.
struct TagSptdBlock {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

// Capacities of the fixed tables.
constexpr int kDefMax = 8;      // update entries
constexpr int kDrvMax = 256;    // target list entries
constexpr int kMcnMax = 23;     // drive letters D..Z
constexpr int kHaMax = 16;      // ASPI host adapters
constexpr int kSenseLen = 18;   // sense bytes kept in gSns
constexpr int kInqLen = 96;     // INQUIRY data
constexpr int kRwInfoLen = 64;  // drive information block (48 bytes are read)

// Sizes of the transport buffers.
constexpr uint32_t kBuffSize = 0x200000;       // pBuff, both paths
constexpr uint32_t kTextSizePt = 0x800000;     // pText on the pass-through path
constexpr uint32_t kTextSizeAspi = 0x200000;   // pText on the ASPI path
constexpr uint32_t kParamSizePt = 512;         // pParam on the pass-through path
constexpr uint32_t kParamSizeAspi = 0x200000;  // pParam on the ASPI path
constexpr uint32_t kSrbSize = 0x200000;        // the ASPI request block's allocation

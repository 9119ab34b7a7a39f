// The ASPI for Win32 interface: the request blocks and values the program passes to the layer's
// two entries (1: support information, 2: submit a request block). The layouts are the published
// ones, packed to bytes, so the same header serves the real library on Windows and the simulated
// layer elsewhere.
#pragma once

#include "platform/win32.h"

#define SC_HA_INQUIRY 0x00
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03

#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ERR 0x04
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_FAILED_INIT 0xE4

#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

#define ASPI_SENSE_LEN 18

#pragma pack(push, 1)

typedef struct {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  BYTE HA_Count;
  BYTE HA_SCSI_ID;
  BYTE HA_ManagerId[16];
  BYTE HA_Identifier[16];
  BYTE HA_Unique[16];
  WORD HA_Rsvd1;
} SRB_HAInquiry;

typedef struct {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  BYTE SRB_Target;
  BYTE SRB_Lun;
  WORD SRB_Rsvd1;
  DWORD SRB_BufLen;
  BYTE* SRB_BufPointer;
  BYTE SRB_SenseLen;
  BYTE SRB_CDBLen;
  BYTE SRB_HaStat;
  BYTE SRB_TargStat;
  void* SRB_PostProc;
  BYTE SRB_Rsvd2[20];
  BYTE CDBByte[16];
  BYTE SenseArea[ASPI_SENSE_LEN + 2];
} SRB_ExecSCSICmd;

typedef struct {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
} SRB_Abort;

#pragma pack(pop)

static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry is 60 bytes");

// Entry 1: bits 8..15 status, bits 0..7 host adapter count. Entry 2: submit one request block.
typedef DWORD(__cdecl* AspiSupportInfoFn)(void);
typedef DWORD(__cdecl* AspiSendCommandFn)(void* srb);

// Names under which the library exports its two entries.
#define ASPI_ENTRY_SUPPORT_INFO "GetASPI32SupportInfo"
#define ASPI_ENTRY_SEND_COMMAND "SendASPI32Command"

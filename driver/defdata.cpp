#include "driver/defdata.h"

#include <cstdio>
#include <cstring>

#include "common/global.h"

// Copies a text field at the table's slot width; a wider selected field keeps its further bytes.
template <size_t Dst, size_t Src>
static void CopyField(char (&dst)[Dst], const char (&src)[Src]) {
  static_assert(Dst >= Src, "the selected field is at least as wide as the table's slot");
  std::memcpy(dst, src, Src);
}

static void (*gDefSource)() = nullptr;

void SetDefDataSource(void (*fill)()) {
  gDefSource = fill;
}

int SetDefData() {
  std::memset(gFwFile, 0, sizeof gFwFile);
  std::memset(gEnterKey, 0, sizeof gEnterKey);
  std::memset(gVender, 0, sizeof gVender);
  std::memset(gProductId, 0, sizeof gProductId);
  std::memset(gRevision, 0, sizeof gRevision);
  std::memset(gRelease, 0, sizeof gRelease);
  gUpgType = 0;
  std::memset(gRefCpu, 0, sizeof gRefCpu);
  std::memset(gOemMark, 0, sizeof gOemMark);
  std::memset(gFileType, 0, sizeof gFileType);
  gFwSize = 0;
  gModel = 0;
  // Every slot of every table up to gRwKeyA; gOemStr keeps its process-start zero.
  std::memset(gFwFileA, 0, sizeof gFwFileA);
  std::memset(gEnterKeyA, 0, sizeof gEnterKeyA);
  std::memset(gVenderA, 0, sizeof gVenderA);
  std::memset(gProductIdA, 0, sizeof gProductIdA);
  std::memset(gRevisionA, 0, sizeof gRevisionA);
  std::memset(gReleaseA, 0, sizeof gReleaseA);
  std::memset(gUpgTypeA, 0, sizeof gUpgTypeA);
  std::memset(gRefCpuA, 0, sizeof gRefCpuA);
  std::memset(gOemMarkA, 0, sizeof gOemMarkA);
  std::memset(gFileTypeA, 0, sizeof gFileTypeA);
  std::memset(gFwSizeA, 0, sizeof gFwSizeA);
  std::memset(gModelA, 0, sizeof gModelA);
  std::memset(gCautionA, 0, sizeof gCautionA);
  std::memset(gRelDateA, 0, sizeof gRelDateA);
  std::memset(gRwKeyA, 0, sizeof gRwKeyA);

  if (gDefSource != nullptr) {
    gDefSource();
    return gRefNum;
  }

  gFwVer = 0x122;

  std::snprintf(gFwFileA[0], sizeof gFwFileA[0], "A0414431.%03x", static_cast<unsigned>(gFwVer));
  std::memcpy(gOemStr[0], "KES_ADV ", 8);
  std::memcpy(gVenderA[0], "KESTREL ", 8);
  std::memcpy(gProductIdA[0], "DVD-RW  QXR-515L", 16);
  gUpgTypeA[0] = 1;
  std::memcpy(gFileTypeA[0], "BIN", 3);
  gFwSizeA[0] = 0x00200000;
  gModelA[0] = 0x100D;
  gCautionA[0] = 0;
  gRelDateA[0] = 0x20080725;
  gRwKeyA[0] = 0x5B7E2D94;

  gOemStrCnt = 1;
  gRefNum = 1;
  return 1;
}

void SelectDefEntry(int k) {
  CopyField(gFwFile, gFwFileA[k]);
  CopyField(gEnterKey, gEnterKeyA[k]);
  CopyField(gVender, gVenderA[k]);
  CopyField(gProductId, gProductIdA[k]);
  CopyField(gRevision, gRevisionA[k]);
  CopyField(gRelease, gReleaseA[k]);
  CopyField(gRefCpu, gRefCpuA[k]);
  CopyField(gOemMark, gOemMarkA[k]);
  CopyField(gFileType, gFileTypeA[k]);
  gRwKey = gRwKeyA[k];
  gFwSize = gFwSizeA[k];
  gCaution = gCautionA[k];
  gModel = gModelA[k];
  gUpgType = gUpgTypeA[k];
  gSelOemStr = static_cast<uint8_t>(k);
}

// Enumeration into the target list, the identity rule, media change control, and the whole
// program reaching its per-target loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/transport_drive.h"

namespace {

using test::MakeDrive;
using test::TransportTest;
using ::testing::ElementsAre;

std::vector<std::string> InquiredAt(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const sim::LogEntry* e : m.Sent({0x12}))
    out.push_back(e->where);
  return out;
}

TEST_F(TransportTest, PassThroughWalksTheLettersFromDAndKeepsOnlyAcceptedDrives) {
  m.AddAtLetter(MakeDrive(), 'C');                                // never examined
  m.AddAtLetter(MakeDrive("OTHER   ", "DVD+-RW GH22NS50"), 'F');  // CD/DVD, not ours
  m.AddAtLetter(MakeDrive(), 'E');
  m.AddAtLetter(MakeDrive("KESTREL ", "DVD-RW  QXR-515D"), 'H');  // candidate for every entry
  auto disk = MakeDrive();
  disk->inquiry[0] = 0;  // a disk answering like our drive: a target, but not a CD/DVD
  m.AddAtLetter(std::move(disk), 'G');
  auto worm = MakeDrive("OTHER   ", "WORM            ");
  worm->inquiry[0] = 4;
  m.AddAtLetter(std::move(worm), 'J');

  Start();
  EXPECT_THAT(InquiredAt(m), ElementsAre("E:", "F:", "G:", "H:", "J:"));
  ASSERT_EQ(gDevn, 3);
  EXPECT_EQ(drvid[0].letter, 'E');
  EXPECT_EQ(drvid[1].letter, 'G');
  EXPECT_EQ(drvid[2].letter, 'H');
  EXPECT_EQ(drvid[1].haNo, 0);

  // Notifications of the CD/DVD and write-once drives are off from enumeration on ...
  ASSERT_EQ(gMcnCnt, 4);
  EXPECT_EQ(std::string(gMcnLetter, 4), "EFHJ");
  EXPECT_THAT(m.slots[1].mcn, ElementsAre(1));
  EXPECT_TRUE(m.slots[4].mcn.empty());
  EXPECT_TRUE(m.slots[0].mcn.empty());
  // ... and back on at the end.
  EndCmdApi();
  for (int i : {1, 2, 3, 5})
    EXPECT_THAT(m.slots[i].mcn, ElementsAre(1, 0)) << i;
  EXPECT_EQ(gDrvHandle, nullptr);
}

TEST_F(TransportTest, StaleDataOfTheLastCandidateNeverDecides) {
  m.AddAtLetter(MakeDrive(), 'D');
  // E answers INQUIRY with 5 bytes, F the drive information with 8: neither may be judged by
  // what D left in the buffers.
  auto e = MakeDrive("OTHER   ", "ANY             ");
  e->inquiryBytes = 5;
  m.AddAtLetter(std::move(e), 'E');
  auto f = MakeDrive("KESTREL ", "DVD-RW  QXR-515L", "GENERAL ", "GENERAL ");
  f->infoBytes = 8;
  m.AddAtLetter(std::move(f), 'F');
  Start();
  ASSERT_EQ(gDevn, 1);
  EXPECT_EQ(drvid[0].letter, 'D');
  EXPECT_EQ(gMcnCnt, 3);
}

TEST(ChkInq, OemMarkedFamiliesNeedTheMarkInTheNormalOrKernelModelName) {
  ResetGlobals();
  SetDefData();  // entry 0: KESTREL DVD-RW QXR-515L, model 0x100D, mark "KES_ADV "
  uint8_t inq[96] = {};
  std::memcpy(inq + 8, "KESTREL DVD-RW  QXR-515L", 24);
  auto names = [](const char* kernel, const char* normal) {
    std::memset(gRwInfo, 0, sizeof gRwInfo);
    if (kernel) std::memcpy(gRwInfo + 24, kernel, 8);
    if (normal) std::memcpy(gRwInfo + 32, normal, 8);
    gKernel = 0;
  };

  names("OTHER   ", "KES_ADV ");
  EXPECT_EQ(ChkInq(inq), 0);
  EXPECT_EQ(gKernel, 0);
  names("KES_ADV ", "        ");
  EXPECT_EQ(ChkInq(inq), 0);
  EXPECT_EQ(gKernel, 1);
  names("KES_ADV ", "GENERAL ");
  EXPECT_EQ(ChkInq(inq), -1);
  names(nullptr, nullptr);  // the drive information read failed
  EXPECT_EQ(ChkInq(inq), -1);

  // Other families need no mark; the 515 drives are candidates for every entry.
  gModelA[0] = 0x2005;
  EXPECT_EQ(ChkInq(inq), 0);
  std::memcpy(inq + 16, "DVD-RW  QXR-515D", 16);
  EXPECT_EQ(ChkInq(inq), 0);
  std::memcpy(inq + 16, "DVD-RW  QXR-515 ", 16);
  EXPECT_EQ(ChkInq(inq), 0);
  std::memcpy(inq + 16, "DVD-RW  QXR-515X", 16);
  EXPECT_EQ(ChkInq(inq), -1);
  std::memcpy(inq + 16, "dvd-rw  qxr-515l", 16);  // byte for byte
  EXPECT_EQ(ChkInq(inq), -1);

  // The first accepting entry wins.
  gRefNum = 2;
  std::memcpy(gVenderA[1], "KESTREL ", 8);
  std::memcpy(gProductIdA[1], "DVD-RW  QXR-515X", 16);
  gModelA[1] = 0x0009;
  std::memcpy(inq + 16, "DVD-RW  QXR-515X", 16);
  EXPECT_EQ(ChkInq(inq), 1);
}

TEST_F(TransportTest, FailedDriveInformationReadRejectsMarkedEntries) {
  auto d = MakeDrive();
  d->infoFails = true;
  m.AddAtLetter(std::move(d), 'D');
  m.AddAtLetter(MakeDrive("KESTREL ", "DVD-RW  QXR-515L", "KES_ADV ", "        "), 'E');
  Start();
  ASSERT_EQ(gDevn, 1);
  EXPECT_EQ(drvid[0].letter, 'E');
  EXPECT_EQ(gKernel, 1);
}

TEST_F(TransportTest, AspiScansIdeAdaptersForTwoTargetsAndOthersForSeven) {
  test::UseWindows98(m);
  m.adapters = {{"ESDI_506"}, {"AIC78XX"}, {"ESDI_506"}};
  for (int ha = 0; ha < 3; ++ha)
    for (int t = 0; t < 8; ++t)
      m.AddOnAdapter(MakeDrive("OTHER   ", "DISC            "), ha, t);
  m.AddOnAdapter(MakeDrive(), 1, 8);  // outside any scan
  m.slots[1 * 8 + 5].drive = MakeDrive();
  Start();
  EXPECT_THAT(InquiredAt(m), ElementsAre("ha0:t0", "ha0:t1", "ha1:t0", "ha1:t1", "ha1:t2", "ha1:t3",
                                         "ha1:t4", "ha1:t5", "ha1:t6", "ha2:t0", "ha2:t1"));
  ASSERT_EQ(gDevn, 1);
  EXPECT_EQ(drvid[0].haNo, 1);
  EXPECT_EQ(drvid[0].tgtNo, 5);
  EXPECT_EQ(drvid[0].letter, 0);
  EXPECT_EQ(gMcnCnt, 0);  // media change control belongs to the pass-through path
}

TEST_F(TransportTest, WithTheIntelDriverOnlyIdeAdaptersAreScanned) {
  test::UseWindows98(m);
  m.adapters = {{"AIC78XX"}, {"intelata"}, {"ESDI_506"}};
  for (int ha = 0; ha < 3; ++ha)
    m.AddOnAdapter(MakeDrive(), ha, 0);
  Start();
  EXPECT_THAT(InquiredAt(m), ElementsAre("ha1:t0", "ha2:t0"));
  ASSERT_EQ(gDevn, 2);
  EXPECT_EQ(drvid[0].haNo, 1);
  EXPECT_EQ(drvid[1].haNo, 2);
}

TEST(Enumeration, DeniedDrivesExplainAnEmptyResult) {
  sim::Machine m;
  m.AddAtLetter(MakeDrive(), 'D').accessDenied = true;
  m.answers = {IDOK, IDOK};
  EXPECT_EQ(test::RunMain(m), 1);
  ASSERT_EQ(m.boxes.size(), 2u);
  EXPECT_THAT(m.boxes[0].text, ::testing::StartsWith("\r\nYou denyed to access to logical drive."));
  EXPECT_EQ(m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
  EXPECT_EQ(m.boxes[1].text, "\r\nAvailable target is not found.");
  EXPECT_TRUE(m.log.empty());
  // The media change control needs no rights: the denied drive was still left alone.
  EXPECT_TRUE(m.slots[0].mcn.empty());

  // With a target found the denied drive goes unmentioned.
  sim::Machine n;
  n.AddAtLetter(MakeDrive(), 'D').accessDenied = true;
  n.AddAtLetter(MakeDrive(), 'E');
  test::RunMain(n);
  EXPECT_EQ(gDevn, 1);
  EXPECT_EQ(n.console.find("denyed"), std::string::npos);
}

TEST(Enumeration, OneTargetReachesTheUpdateLoopWithoutTheQuestion) {
  for (bool aspi : {false, true}) {
    sim::Machine m;
    if (aspi) {
      test::UseWindows98(m);
      m.adapters = {{"ESDI_506"}};
      m.AddOnAdapter(MakeDrive(), 0, 1);
    } else {
      m.AddAtLetter(MakeDrive(), 'D');
    }
    test::RunMain(m);  // the update itself stops at the missing image file
    EXPECT_NE(m.console.find("\r\nStart updating the device No.1."), std::string::npos);
    for (const sim::Box& box : m.boxes)
      EXPECT_NE(box.flags & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(gAllAuto, 0);
    EXPECT_EQ(pBuff, nullptr);  // closed at the end
    if (!aspi) {
      EXPECT_THAT(m.slots[0].mcn, ElementsAre(1, 0));
    }
  }
}

TEST(Enumeration, TwoTargetsAskWhetherToUpdateAll) {
  for (int answer : {IDYES, IDNO}) {
    sim::Machine m;
    m.AddAtLetter(MakeDrive(), 'E');
    m.AddAtLetter(MakeDrive("KESTREL ", "DVD-RW  QXR-515D"), 'K');
    m.answers = {answer};
    test::RunMain(m);  // the update itself stops at the missing image file
    ASSERT_FALSE(m.boxes.empty());
    EXPECT_EQ(m.boxes[0].text,
              "\r\n2 target device(s) is found.\r\nDo you want to update all drives ?");
    EXPECT_EQ(gAllAuto, answer == IDYES ? 1 : 0);
    EXPECT_NE(m.console.find("\r\nStart updating the device No.1."), std::string::npos);
  }
}

}  // namespace

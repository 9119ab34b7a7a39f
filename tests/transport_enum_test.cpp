// Enumeration into the target list, the identity rule and media change control.
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

// E, H and L give too little to be accepted; judged by what the drive before them left in the
// INQUIRY or drive information buffer, they would be.
TEST_F(TransportTest, PassThroughWalksTheLettersFromDAndKeepsOnlyAcceptedDrives) {
  auto add = [&](std::unique_ptr<test::ScriptedDrive> d, char letter) -> test::ScriptedDrive& {
    test::ScriptedDrive& drive = *d;
    m.AddAtLetter(std::move(d), letter);
    return drive;
  };
  add(MakeDrive(), 'C');  // never examined
  add(MakeDrive(), 'D');
  add(MakeDrive("OTHER   ", "ANY             "), 'E').inquiryBytes = 5;
  add(MakeDrive("OTHER   ", "DVD+-RW GH22NS50"), 'F');  // CD/DVD, not ours
  add(MakeDrive(), 'G').inquiry[0] = 0;    // a disk answering like our drive: a target, no CD/DVD
  add(MakeDrive(), 'H').infoFails = true;  // no OEM mark to be seen
  // A candidate for every entry, marked in its kernel model name only: no normal part.
  add(MakeDrive("KESTREL ", "DVD-RW  QXR-515D", "KES_ADV ", "        "), 'J');
  add(MakeDrive("OTHER   ", "WORM            "), 'K').inquiry[0] = 4;
  add(MakeDrive("KESTREL ", "DVD-RW  QXR-515L", "GENERAL ", "GENERAL "), 'L').infoBytes = 8;

  Start();
  EXPECT_THAT(InquiredAt(m), ElementsAre("D:", "E:", "F:", "G:", "H:", "J:", "K:", "L:"));
  ASSERT_EQ(gDevn, 3);
  EXPECT_EQ(drvid[0].letter, 'D');
  EXPECT_EQ(drvid[1].letter, 'G');
  EXPECT_EQ(drvid[2].letter, 'J');
  EXPECT_EQ(gKernel, 1);

  // Notifications of the CD/DVD and write-once drives are off from enumeration on ...
  EXPECT_EQ(std::string(gMcnLetter, static_cast<size_t>(gMcnCnt)), "DEFHJKL");
  EXPECT_THAT(m.slots[1].mcn, ElementsAre(1));
  EXPECT_TRUE(m.slots[0].mcn.empty());
  EXPECT_TRUE(m.slots[4].mcn.empty());
  // ... and back on at the end.
  EndCmdApi();
  for (size_t i : {1, 2, 3, 5, 6, 7, 8})
    EXPECT_THAT(m.slots[i].mcn, ElementsAre(1, 0)) << i;
  EXPECT_EQ(gDrvHandle, nullptr);
}

// The enumeration above sees a drive accepted by its kernel model name alone; here the other cases.
TEST(ChkInq, CandidatesByteForByteAndTheOemRuleOnlyForMarkedFamilies) {
  ResetGlobals();
  SetDefData();  // entry 0: KESTREL DVD-RW QXR-515L, model 0x100D, mark "KES_ADV "
  uint8_t inq[96] = {};
  std::memcpy(inq + 8, "KESTREL DVD-RW  QXR-515L", 24);
  for (auto [names, rc] : {std::pair{"OTHER   KES_ADV ", 0}, {"KES_ADV GENERAL ", -1}}) {
    std::memcpy(gRwInfo + 24, names, 16);  // kernel and normal model names
    EXPECT_EQ(ChkInq(inq), rc) << names;
  }
  EXPECT_EQ(gKernel, 0);
  gModelA[0] = 0x4002;  // the other marked family
  EXPECT_EQ(ChkInq(inq), -1);

  gModelA[0] = 0x2005;  // a family without the mark
                        // clang-format off
  for (auto [product, rc] : {std::pair{"DVD-RW  QXR-515L", 0}, {"DVD-RW  QXR-515 ", 0},
                             {"DVD-RW  QXR-515X", -1}, {"dvd-rw  qxr-515l", -1}}) {
    // clang-format on
    std::memcpy(inq + 16, product, 16);
    EXPECT_EQ(ChkInq(inq), rc) << product;
  }

  // The first accepting entry wins.
  gRefNum = 2;
  std::memcpy(gVenderA[1], "KESTREL ", 8);
  std::memcpy(gProductIdA[1], "DVD-RW  QXR-515X", 16);
  gModelA[1] = 0x0009;
  std::memcpy(inq + 16, "DVD-RW  QXR-515X", 16);
  EXPECT_EQ(ChkInq(inq), 1);
}

// IDE adapters are scanned for a master and a slave, others for targets 0 to 6, and none but the
// IDE adapters when the Intel IDE driver is there, in whatever order the adapters come.
TEST_F(TransportTest, AspiScansTargetsByAdapterKind) {
  test::UseWindows98(m);
  for (auto [adapters, scanned] :
       {std::pair{
            std::vector<sim::Adapter>{{"ESDI_506"}, {"AIC78XX"}, {"ESDI_506"}},
            std::vector<std::string>{"ha0:t0", "ha0:t1", "ha1:t0", "ha1:t1", "ha1:t2", "ha1:t3",
                                     "ha1:t4", "ha1:t5", "ha1:t6", "ha2:t0", "ha2:t1"}},
        {{{"AIC78XX"}, {"intelata"}, {"ESDI_506"}}, {"ha1:t0", "ha1:t1", "ha2:t0", "ha2:t1"}}}) {
    m.slots.clear();
    m.log.clear();
    m.adapters = adapters;
    for (int ha = 0; ha < 3; ++ha)
      for (int t = 0; t < 8; ++t)
        m.AddOnAdapter(MakeDrive(), ha, t);
    Start();
    EXPECT_EQ(InquiredAt(m), scanned);
    EXPECT_EQ(gDevn, static_cast<int>(scanned.size()));
    EXPECT_EQ(gMcnCnt, 0);  // media change control belongs to the pass-through path
  }
}

// Message 87 before 28 when nothing was found and a drive could not be opened for lack of rights;
// with a target found the denied drive goes unmentioned.
TEST(Enumeration, DeniedDrivesExplainAnEmptyResult) {
  sim::Machine m, n;
  m.AddAtLetter(MakeDrive(), 'D').accessDenied = true;
  m.answers = {IDOK, IDOK};
  EXPECT_EQ(test::RunMain(m), 1);
  ASSERT_EQ(m.boxes.size(), 2u);
  EXPECT_THAT(m.boxes[0].text, ::testing::StartsWith("\r\nYou denyed to access to logical drive."));
  EXPECT_EQ(m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
  EXPECT_EQ(m.boxes[1].text, "\r\nAvailable target is not found.");
  EXPECT_TRUE(m.log.empty());
  EXPECT_TRUE(m.slots[0].mcn.empty());

  n.AddAtLetter(MakeDrive(), 'D').accessDenied = true;
  n.AddAtLetter(MakeDrive(), 'E');
  test::RunMain(n);
  EXPECT_EQ(gDevn, 1);
  EXPECT_EQ(n.console.find("denyed"), std::string::npos);
}

}  // namespace

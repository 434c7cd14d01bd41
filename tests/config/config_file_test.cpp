// Saving and loading configuration files through the exports, against a fake
// board on loopback that records what the library sends.
#include <gtest/gtest.h>

#include "config_fixture.h"
#include "support/eventually.h"

using namespace voxa::test;

TEST_F(ConfigFileTest, NullMissingAndUnwritablePathsFailCleanly) {
  EXPECT_EQ(VOXA_Save_wConfigFile(nullptr), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE);
  const std::u16string lone = dir_.u16string() + u"/x" + char16_t(0xD800);  // names no file
  EXPECT_EQ(VOXA_Save_wConfigFile(Wide(lone)), 0);
  EXPECT_EQ(VOXA_Save_ConfigFile(nullptr), 0);
  EXPECT_EQ(VOXA_Save_ConfigFile((dir_ / "no-such-dir" / "c.ini").string().c_str()), 0);
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_TRUE(fs::is_empty(dir_));

  // Loads of nothing record no error (the last code stays the save's).
  const fs::path missing = dir_ / "none.ini";
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(VOXA_Load_wConfigFile(nullptr), 0);
  EXPECT_EQ(VOXA_Load_wConfigFile(Wide(missing.u16string())), 0);
  EXPECT_EQ(VOXA_Load_ConfigFile(nullptr), 0);
  EXPECT_EQ(VOXA_Load_ConfigFile(missing.string().c_str()), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "file not exist\nfile not exist\n");
  EXPECT_EQ(VOXA_Is_Err(), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE);
  EXPECT_TRUE(peer_.ExpectNoFrame(50));
}

TEST_F(ConfigFileTest, NewFileStartsWithTheSectionAndRegisterWordsAndSavesStatusAsZero) {
  board_->SetRegWord(voxa::CHIPSET, 0, 0xFFFFFFFE);
  board_->SetRegWord(voxa::CHIPSTATUS, 0, 1234);
  board_->SetRegWord(voxa::GIO, 3, 5);
  board_->SetRegWord(voxa::CUSTOM, 7, 0x80000000);
  voxa::PidSetupRecord pid;
  pid.words[0] = 0x0105;
  pid.words[7] = 42;
  board_->io_state().StorePid(2, pid);

  // A 16-bit path with characters outside ASCII names a UTF-8 file.
  const fs::path p = dir_ / fs::path(u8"conf\u00e9.ini");
  const std::u16string wide = p.u16string();
  ASSERT_EQ(VOXA_Save_wConfigFile(Wide(wide)), 1);
  EXPECT_EQ(VOXA_Is_Err(), 0);
  EXPECT_TRUE(peer_.ExpectNoFrame(50));  // saving sends nothing

  const std::vector<uint8_t> bytes = ReadBytes(p);
  const std::u16string text = voxa::config::DecodeUtf16Le(bytes.data(), bytes.size());
  EXPECT_EQ(text.substr(0, 44), u"\uFEFF[VOXA_V01_ENGINE_CONFIG]\r\nREG[00].00 = -2\r\n");
  EXPECT_EQ(text.substr(text.size() - 4), u"\r\n\r\n");
  const Document d = Document::Parse(bytes);
  ASSERT_EQ(d.sections().size(), 1u);
  ASSERT_EQ(d.sections()[0].entries.size(), 256u + 32u);
  EXPECT_EQ(d.sections()[0].entries[256].key, u"CUSTOM_CONTROLLER[00][00]");
  auto value = [&](std::u16string_view key) { return *d.Find(u"VOXA_V01_ENGINE_CONFIG", key); };
  EXPECT_EQ(value(u"REG[01].00"), u"0");
  EXPECT_EQ(value(u"REG[29].03"), u"0");
  EXPECT_EQ(value(u"REG[31].07"), u"-2147483648");
  EXPECT_EQ(value(u"CUSTOM_CONTROLLER[02][00]"), u"261");
  EXPECT_EQ(value(u"CUSTOM_CONTROLLER[02][07]"), u"42");
}

TEST_F(ConfigFileTest, RoundTripSendsEveryWordInImmediateBracketsThenThePidAndResetSequence) {
  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w) board_->SetRegWord(r, w, 0x10000u * static_cast<uint32_t>(r + 1) + static_cast<uint32_t>(w));
  board_->OrRegBits(voxa::CHIPSET, 1, kMainLinkAlarm);
  voxa::PidSetupRecord saved[4];
  for (int ch = 0; ch < 4; ++ch) {
    for (int k = 0; k < 8; ++k) saved[ch].words[k] = 0x1000u * static_cast<uint32_t>(ch + 1) + static_cast<uint32_t>(k);
    board_->io_state().StorePid(ch, saved[ch]);
  }
  std::vector<uint32_t> expected = Image();
  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w)
      if (IsStatus(r)) expected[r * 8 + w] = 0;
  expected[1] &= ~kMainLinkAlarm;

  const fs::path p = dir_ / "round.ini";
  ASSERT_EQ(VOXA_Save_ConfigFile(p.string().c_str()), 1);
  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w) board_->SetRegWord(r, w, 0xDEADBEEF);
  for (int ch = 0; ch < 4; ++ch) board_->io_state().StorePid(ch, voxa::PidSetupRecord{});

  std::string printed;
  ASSERT_EQ(Load(p, &printed), 1);
  EXPECT_EQ(printed, "ok...file exist\n");
  const std::vector<HostFrame> frames = peer_.Drain(200);

  // What the board must have received, in order.
  struct Want {
    uint8_t opcode;
    int mask;
    int tag;
    std::vector<uint32_t> values;
    uint32_t low16_only = 0;  // compare only the low 16 bits of values[0]
  };
  const int reg_tag = board_->RegTag() == voxa::kNoTag ? -1 : board_->RegTag();
  std::vector<Want> want;
  auto bracket = [&](std::vector<Want> inside) {
    want.push_back({0x8C, -1, 0xD3, {}});
    want.insert(want.end(), inside.begin(), inside.end());
    want.push_back({0x8D, -1, 0xD3, {}});
  };
  for (int r = 31; r >= 0; --r)
    for (int w = 0; w < 8; ++w)
      bracket({{static_cast<uint8_t>(0x91 + 2 * r), 1 << w, 0xE6, {expected[r * 8 + w]}}});
  for (uint32_t ch = 0; ch < 4; ++ch) {
    std::vector<uint32_t> data(saved[ch].words, saved[ch].words + 8);
    data[0] = (data[0] & 0xFFFF0000u) | ch << 8 | 4;
    bracket({{0xCF, 0x01, reg_tag, {1u << 16 | ch << 8 | 8}}, {0xCF, 0xFF, reg_tag, data}});
  }
  for (uint32_t ch = 0; ch < 4; ++ch) bracket({{0xCF, 0x01, reg_tag, {ch << 8 | 1}, 1}});
  bracket({{0x83, -1, 0xD3, {}}});
  bracket({{0x82, -1, 0xD3, {}}, {0x82, -1, 0xD3, {}}});
  bracket({{0xD5, 0, 0xD3, {}}});

  ASSERT_EQ(frames.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    const HostFrame& f = frames[k];
    const Want& x = want[k];
    ASSERT_EQ(f.opcode, x.opcode) << "frame " << k;
    EXPECT_EQ(f.mask, x.mask) << "frame " << k;
    EXPECT_EQ(f.tag, x.tag) << "frame " << k;
    if (f.reg >= 0) {
      EXPECT_EQ(f.descriptor & 0x30, 0x20) << "frame " << k;
    }
    if (x.low16_only) {
      ASSERT_EQ(f.values.size(), 1u);
      EXPECT_EQ(f.values[0] & 0xFFFF, x.values[0]) << "frame " << k;
    } else {
      EXPECT_EQ(f.values, x.values) << "frame " << k;
    }
  }

  const std::vector<uint32_t> image = Image();
  for (int i = 0; i < 31 * 8; ++i) EXPECT_EQ(image[i], expected[i]) << "register " << i / 8 << " word " << i % 8;
  for (int ch = 0; ch < 4; ++ch)
    for (int k = 0; k < 8; ++k) EXPECT_EQ(board_->io_state().StoredPid(ch).words[k], saved[ch].words[k]);
}

TEST_F(ConfigFileTest, EightBitAndUtf16FilesLoadAlikeAndValuesReadAsUnsigned) {
  const std::string text = RegisterSection([](int r, int w) -> const char* {
                             if (r == 5 && w == 0) return "-1";
                             if (r == 5 && w == 1) return "12abc";
                             if (r == 5 && w == 2) return "abc";
                             if (r == 5 && w == 3) return nullptr;  // written below in lower case
                             if (r == 0 && w == 1) return "134217729";  // bit 27 and bit 0
                             return "3";
                           }) +
                           "reg[05].03 = 4294967296\r\n"
                           "CUSTOM_CONTROLLER[01][02] = 99\r\n";
  const fs::path narrow = dir_ / "narrow.ini";
  const fs::path wide = dir_ / "wide.ini";
  WriteText(narrow, text);
  WriteBytes(wide, Utf16File(text));

  // A controller's earlier stored record must not leak into a missing key.
  voxa::PidSetupRecord old;
  for (auto& w : old.words) w = 0x55;
  board_->io_state().StorePid(1, old);

  ASSERT_EQ(Load(narrow), 1);
  const std::vector<uint32_t> from_narrow = Image();
  EXPECT_EQ(from_narrow[5 * 8 + 0], 0xFFFFFFFFu);
  EXPECT_EQ(from_narrow[5 * 8 + 1], 12u);
  EXPECT_EQ(from_narrow[5 * 8 + 2], 0u);
  EXPECT_EQ(from_narrow[5 * 8 + 3], 0xFFFFFFFFu);
  EXPECT_EQ(from_narrow[1], 1u);  // the main-link alarm bit is never loaded
  EXPECT_EQ(from_narrow[2 * 8], 3u);
  const voxa::PidSetupRecord pid1 = board_->io_state().StoredPid(1);
  EXPECT_EQ(pid1.words[1], 0u);
  EXPECT_EQ(pid1.words[2], 99u);
  EXPECT_EQ(pid1.words[3], 0u);

  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w) board_->SetRegWord(r, w, 0xDEADBEEF);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(VOXA_Load_wConfigFile(Wide(wide.u16string())), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ok...file exist\n");
  EXPECT_EQ(Image(), from_narrow);
}

TEST_F(ConfigFileTest, MissingRegisterWordOrOversizeFileFailsWithNothingChangedOrSent) {
  board_->SetRegWord(voxa::ACC, 4, 777);
  voxa::PidSetupRecord kept;
  kept.words[3] = 9;
  board_->io_state().StorePid(0, kept);
  const std::vector<uint32_t> before = Image();

  const fs::path gap = dir_ / "gap.ini";
  WriteText(gap, RegisterSection([](int r, int w) -> const char* { return r == 17 && w == 3 ? nullptr : "1"; }) +
                     "CUSTOM_CONTROLLER[00][03] = 1\r\n");
  std::string printed;
  EXPECT_EQ(Load(gap, &printed), 0);
  EXPECT_EQ(printed, "ok...file exist\n");
  EXPECT_EQ(VOXA_Is_Err(), 1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_LOAD);

  // A complete file padded past 1,000,000 bytes with a comment.
  std::string big = RegisterSection([](int, int) { return "1"; });
  const size_t pad = 1000001 - big.size() - 3;
  big.push_back(';');
  big.append(pad, 'x');
  big.append("\r\n");
  ASSERT_EQ(big.size(), 1000001u);
  const fs::path large = dir_ / "large.ini";
  WriteText(large, big);
  EXPECT_EQ(Load(large), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_LOAD);

  EXPECT_TRUE(peer_.ExpectNoFrame(100));
  EXPECT_EQ(Image(), before);
  EXPECT_EQ(board_->io_state().StoredPid(0).words[3], 9u);
}

TEST_F(ConfigFileTest, SaveKeepsOtherSectionsAndEntriesInPlace) {
  const fs::path p = dir_ / "shared.ini";
  WriteText(p,
            "[Other]\nfoo = bar\n\n[voxa_v01_engine_config]\nreg[00].00 = 5\nmine = \"  kept  \"\n"
            "[Tail]\nx = y\n");
  board_->SetRegWord(voxa::CHIPSET, 0, 77);
  ASSERT_EQ(VOXA_Save_ConfigFile(p.string().c_str()), 1);

  const std::vector<uint8_t> bytes = ReadBytes(p);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  const Document d = Document::Parse(bytes);
  ASSERT_EQ(d.sections().size(), 3u);
  EXPECT_EQ(d.sections()[0].name, u"Other");
  ASSERT_EQ(d.sections()[0].entries.size(), 1u);
  EXPECT_EQ(d.sections()[0].entries[0].value, u"bar");
  const auto& mine = d.sections()[1].entries;
  ASSERT_EQ(mine.size(), 1u + 256u + 32u);  // "mine" and every key written
  EXPECT_EQ(mine[0].key, u"REG[00].00");
  EXPECT_EQ(mine[0].value, u"77");
  EXPECT_EQ(mine[1].key, u"mine");
  EXPECT_EQ(mine[1].value, u"  kept  ");
  EXPECT_EQ(mine[2].key, u"REG[00].01");
  EXPECT_EQ(d.sections()[2].name, u"Tail");
  EXPECT_EQ(*d.Find(u"Tail", u"x"), u"y");
}

// A setting the board reports that this process never set is saved as the
// board holds it; a register the board has not reported comes from the image.
TEST_F(ConfigFileTest, ReportedSaveHoldsTheBoardsSettings) {
  board_->SetRegWord(voxa::DRIVEVEL, 0, 100);
  board_->SetRegWord(voxa::CAL1, 1, 7);
  peer_.SendReadReply(voxa::DRIVEVEL, 0x03, {2500, 0xFFFFFFFF});
  ASSERT_TRUE(Eventually([] { return VOXA_Get_RegAge(voxa::DRIVEVEL) >= 0; }, std::chrono::seconds(2)));

  const fs::path reported = dir_ / "reported.ini", host = dir_ / "host.ini";
  ASSERT_EQ(VOXA_Save_ReportedConfigFile(reported.string().c_str()), 1);
  ASSERT_EQ(VOXA_Save_ConfigFile(host.string().c_str()), 1);
  const Document r = Document::Parse(ReadBytes(reported)), h = Document::Parse(ReadBytes(host));
  auto value = [](const Document& d, std::u16string_view key) { return *d.Find(u"VOXA_V01_ENGINE_CONFIG", key); };
  EXPECT_EQ(value(r, u"REG[17].00"), u"2500");
  EXPECT_EQ(value(r, u"REG[17].01"), u"-1");
  EXPECT_EQ(value(r, u"REG[08].01"), u"7");
  EXPECT_EQ(value(h, u"REG[17].00"), u"100");
  EXPECT_EQ(board_->GetRegWord(voxa::DRIVEVEL, 0), 100u);  // the image keeps the host's value
  EXPECT_EQ(VOXA_Save_ReportedConfigFile((dir_ / "no-such-dir" / "c.ini").string().c_str()), 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE);
}

namespace {
std::vector<std::pair<int, std::string>> g_logged;
void VOXA_CALL RecordLog(int board, const char* text) {
  VOXA_Get_BoardID();  // called with no library lock held: any export may be called
  g_logged.emplace_back(board, text);
}
}  // namespace

TEST_F(ConfigFileTest, DiagnosticLinesGoToTheLogHandlerAndBackToStandardOutput) {
  const fs::path saved = dir_ / "saved.ini";
  ASSERT_EQ(VOXA_Save_ConfigFile(saved.string().c_str()), 1);
  const std::u16string missing = (dir_ / "none.ini").u16string();

  g_logged.clear();
  VOXA_Set_LogHandler(&RecordLog);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(VOXA_Load_wConfigFile(Wide(missing)), 0);
  EXPECT_EQ(VOXA_Load_wConfigFile(Wide(saved.u16string())), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  const std::vector<std::pair<int, std::string>> want = {{id_, "file not exist\n"}, {id_, "ok...file exist\n"}};
  EXPECT_EQ(g_logged, want);

  VOXA_Set_LogHandler(nullptr);  // the default prints again
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(VOXA_Load_wConfigFile(Wide(missing)), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "file not exist\n");
  EXPECT_EQ(g_logged.size(), 2u);
}

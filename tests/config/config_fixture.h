// The fixture of the configuration file tests: a fake board on loopback that
// records what the library sends, and a folder of the system's temporary
// folder for the files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api/board_table.h"
#include "config/document.h"
#include "config/text.h"
#include "support/peer.h"

namespace fs = std::filesystem;
using voxa::config::Document;
using voxa::test::HostFrame;

namespace voxa::test {

// The text of a path as the wide exports take it (UTF-16 everywhere).
inline const VOXA_WCHAR* Wide(const std::u16string& s) { return reinterpret_cast<const VOXA_WCHAR*>(s.c_str()); }

constexpr uint32_t kMainLinkAlarm = 0x8000000;

inline std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void WriteText(const fs::path& p, const std::string& s) { WriteBytes(p, std::vector<uint8_t>(s.begin(), s.end())); }

inline std::vector<uint8_t> Utf16File(const std::string& ascii) {
  std::vector<uint8_t> out{0xFF, 0xFE};
  for (char ch : ascii) out.push_back(static_cast<uint8_t>(ch)), out.push_back(0);
  return out;
}

inline bool IsStatus(int r) { return r == 1 || r == 3 || r == 29 || r == 30; }

// The register section of a file: every REG key with the value value(r, w),
// except keys for which value returns nullptr.
template <class ValueFn>
inline std::string RegisterSection(ValueFn value) {
  std::string s = "[VOXA_V01_ENGINE_CONFIG]\r\n";
  for (int r = 0; r < 32; ++r)
    for (int w = 0; w < 8; ++w)
      if (const char* v = value(r, w)) {
        char line[64];
        std::snprintf(line, sizeof line, "REG[%02d].%02d = %s\r\n", r, w, v);
        s += line;
      }
  return s;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("voxa_config_" + std::to_string(peer_.port()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    id_ = peer_.Open();
    ASSERT_GE(id_, 0);
    board_ = &voxa::api::BoardAt(id_);
    for (int r = 0; r < 32; ++r)
      for (int w = 0; w < 8; ++w) board_->SetRegWord(r, w, 0);
    for (int ch = 0; ch < 4; ++ch) board_->io_state().StorePid(ch, voxa::PidSetupRecord{});
    board_->SetCommandMode(0);
    peer_.Drain(100);
  }
  void TearDown() override {
    peer_.Close();
    fs::remove_all(dir_);
  }

  // Loads with the 8-bit export, returning its result and what it printed.
  int Load(const fs::path& p, std::string* printed = nullptr) {
    ::testing::internal::CaptureStdout();
    const int ok = VOXA_Load_ConfigFile(p.string().c_str());
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return ok;
  }

  std::vector<uint32_t> Image() {
    std::vector<uint32_t> v;
    for (int r = 0; r < 32; ++r)
      for (int w = 0; w < 8; ++w) v.push_back(board_->GetRegWord(r, w));
    return v;
  }

  fs::path dir_;
  voxa::test::FakeBoard peer_;
  int id_ = -1;
  voxa::Controller* board_ = nullptr;
};

}  // namespace voxa::test

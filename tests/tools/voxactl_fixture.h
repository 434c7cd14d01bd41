// The fixture of the voxactl tests: a simulated board in this process and
// voxactl run through the shell against it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "sim.h"
#include "support/shell.h"

namespace voxa::test {

inline constexpr int CHIPSET = 0, CAL1 = 8, DRIVEVEL = 17;

// A configuration file's text, its UTF-16 reduced to ASCII.
inline std::string ConfigText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  for (char c; in.get(c);)
    if (c != '\0') text += c;
  return text;
}

inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Voxactl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = voxa_sim::SimBoard::StartTcp();
    ASSERT_NE(sim_, nullptr);
  }

  Result Run(const std::string& args) {
    return Shell(std::string(VOXACTL_PATH) + " --tcp 127.0.0.1:" + std::to_string(sim_->Port()) + " " + args);
  }

  std::unique_ptr<voxa_sim::SimBoard> sim_;
};

}  // namespace voxa::test

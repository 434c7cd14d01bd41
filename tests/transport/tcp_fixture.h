// The fixture of the TCP link's tests: a loopback peer stands in for the
// board and the error reports raised meanwhile are recorded.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "dispatch/dispatch.h"
#include "helpers.h"

namespace voxa::test {

// Error reports raised while a test runs.
inline std::mutex g_reports_lock;
inline std::vector<std::string> g_reports;

inline void VOXA_CALL RecordReport(const char* caption, const char*) {
  std::lock_guard<std::mutex> g(g_reports_lock);
  g_reports.emplace_back(caption);
}

class Tcp : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> g(g_reports_lock);
      g_reports.clear();
    }
    voxa::dispatch::SetErrorReportHandler(&RecordReport);
  }
  void TearDown() override { voxa::dispatch::SetErrorReportHandler(nullptr); }
  // Reports reach the handler from the dispatch thread.
  static size_t Reports() {
    voxa::dispatch::Drain();
    std::lock_guard<std::mutex> g(g_reports_lock);
    return g_reports.size();
  }
  // A port nothing listens on.
  static uint16_t ClosedPort() {
    LoopbackPeer p;
    return p.port();
  }
};

}  // namespace voxa::test

// The fixture of the TCP link's tests: a loopback peer stands in for the
// board, and the faults the link reports are recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "helpers.h"
#include "transport/tcp_link.h"

namespace voxa::test {

class Tcp : public ::testing::Test {
 protected:
  // Faults the link reported (a system error it met).
  size_t Reports() { return rec_.Faults(); }
  // Opens the link to address:port; 1 or 0.
  static int Open(TcpLink& link, const char* address, uint16_t port, uint32_t connect_timeout_ms,
                  uint32_t idle_timeout_ms, bool wait = true) {
    link.SetTarget(address, port, connect_timeout_ms, idle_timeout_ms, wait);
    return link.Open() ? 1 : 0;
  }
  // A port nothing listens on.
  static uint16_t ClosedPort() {
    LoopbackPeer p;
    return p.port();
  }
  LinkRecorder rec_;
};

}  // namespace voxa::test

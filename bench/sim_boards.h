// Opens a number of simulated boards on loopback, one library board each.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "sim.h"
#include "voxa/voxa.h"

namespace voxa::bench {

struct SimBoards {
  std::vector<std::unique_ptr<voxa_sim::SimBoard>> sims;
  std::vector<int> ids;
};

// Starts `count` simulated boards and opens each with VOXA_Open_Tcp; false
// (with a message) when one fails. The frame log is kept short: measuring
// programs do not read it.
inline bool OpenSimBoards(int count, SimBoards* out) {
  voxa_sim::SimOptions opt;
  opt.frame_log_limit = 256;
  for (int b = 0; b < count; ++b) {
    out->sims.push_back(voxa_sim::SimBoard::StartTcp(0, opt));
    if (!out->sims.back()) return false;
    const int id = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), out->sims.back()->Port(), 0);
    if (id < 0) {
      std::fprintf(stderr, "open %d failed: %d\n", b, VOXA_Get_LastErr());
      return false;
    }
    out->ids.push_back(id);
  }
  return true;
}

}  // namespace voxa::bench

// Register words by number and register names: what tools and scripts use
// to show and change any word of the register image.
#include "voxa/voxa.h"

#include "api/board_table.h"
#include "families/shapes.h"
#include "state/registers.h"

using namespace voxa;
using namespace voxa::api;
using family::Board;

namespace {

bool ValidWord(int reg, int word) { return reg >= 0 && reg < kRegisters && word >= 0 && word < kWords; }

}  // namespace

extern "C" {

VOXA_API int VOXA_CALL VOXA_Get_RegWord(int reg, int word, uint32_t* value) {
  return Guard(0, [&](Board& c) {
    Require(ValidWord(reg, word) && value != nullptr);
    *value = c.GetRegWord(reg, word);
    return 1;
  });
}

VOXA_API int VOXA_CALL VOXA_Get_ReportedRegWord(int reg, int word, uint32_t* value) {
  return Guard(0, [&](Board& c) {
    Require(ValidWord(reg, word) && value != nullptr);
    platform::Locked g(c.StateLock());
    *value = c.mirror().Received()[reg * kWords + word];
    return 1;
  });
}

VOXA_API int VOXA_CALL VOXA_Set_RegWord(int reg, int word, uint32_t value) {
  return Guard(0, [&](Board& c) {
    Require(ValidWord(reg, word));
    return family::SetBoardWord(c, static_cast<Reg>(reg), word, value);
  });
}

VOXA_API const char* VOXA_CALL VOXA_Get_RegName(int reg) { return RegisterName(reg); }

}  // extern "C"

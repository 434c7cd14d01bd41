// Board selection, errors, versions, links and the application hooks.
#include <cstdio>
#include <mutex>
#include <string>

#include "api/board_table.h"
#include "dispatch/dispatch.h"

using namespace voxa;
using namespace voxa::api;

namespace {

constexpr char kDllVersion[] = "VOXA-DLL-V01-R05.201";
constexpr char16_t kDllVersionW[] = u"VOXA-DLL-V01-R05.201";

// Why the last failed open failed, for VOXA_Get_OpenError.
struct LastOpenError {
  std::mutex lock;
  int kind = VOXA_OPEN_NONE;
  int os_error = 0;
  std::string text;
};
LastOpenError& OpenError() {
  static LastOpenError e;
  return e;
}

void RecordOpenFailure(int board, const Controller& c) {
  const OpenFailure f = c.LastOpenFailure();
  const std::string text = c.OpenFailureText();
  {
    LastOpenError& e = OpenError();
    std::lock_guard<std::mutex> g(e.lock);
    e.kind = f.kind == OpenFailureKind::kNone ? VOXA_OPEN_SYSTEM : static_cast<int>(f.kind);
    e.os_error = f.kind == OpenFailureKind::kSystem ? f.os_error : 0;
    e.text = text;
  }
  // Another host holding the board is news for whoever watches the log.
  if (f.kind == OpenFailureKind::kHeld) {
    char line[400];
    std::snprintf(line, sizeof line, "open failed: %s\n", text.c_str());
    dispatch::LogNow(board, line);
  }
}

// Opens the first free slot with `open`, selecting it on success. Opens
// and closes from several threads each get a slot of their own.
template <class OpenFn>
int OpenFirstFree(OpenFn&& open) noexcept {
  CallerErrors().flag.store(0);
  const int i = ReserveFreeSlot();
  if (i < 0) {
    Fail(VOXA_ERR_NO_SLOT);
    return -1;
  }
  int ok = 0;
  try {
    ok = open(BoardAt(i));
  } catch (...) {
    ok = 0;
  }
  EndOpen(i, ok != 0);
  if (!ok) {
    try {
      RecordOpenFailure(i, BoardAt(i));
    } catch (...) {
    }
    Fail(VOXA_ERR_OPEN);
    return -1;
  }
  SuccessBeep();
  return i;
}

const char* StageWord(uint32_t stage) { return stage == 2 ? "Beta" : stage == 4 ? "Normal" : "-"; }

}  // namespace

extern "C" {

VOXA_API void VOXA_CALL VOXA_Set_BeepHandler(VOXA_BeepHandler handler) { dispatch::SetBeepHandler(handler); }
VOXA_API void VOXA_CALL VOXA_Set_MessageHandler(VOXA_MessageHandler handler) { dispatch::SetMessageHandler(handler); }
VOXA_API void VOXA_CALL VOXA_Set_BoardMessageHandler(VOXA_BoardMessageHandler handler) {
  dispatch::SetBoardMessageHandler(handler);
}
VOXA_API void VOXA_CALL VOXA_Set_ErrorReportHandler(VOXA_ErrorReportHandler handler) {
  dispatch::SetErrorReportHandler(handler);
}
VOXA_API void VOXA_CALL VOXA_Set_TraceHandler(VOXA_TraceHandler handler) { dispatch::SetTraceHandler(handler); }
VOXA_API void VOXA_CALL VOXA_Set_StateHandler(VOXA_StateHandler handler) { dispatch::SetStateHandler(handler); }
VOXA_API void VOXA_CALL VOXA_Set_LinkHandler(VOXA_LinkHandler handler) { dispatch::SetLinkHandler(handler); }
VOXA_API void VOXA_CALL VOXA_Set_LogHandler(VOXA_LogHandler handler) { dispatch::SetLogHandler(handler); }

VOXA_API const char* VOXA_CALL VOXA_Get_ErrText(int code) {
  switch (code) {
    case 0: return "no error";
    case VOXA_ERR_BOARD_ID: return "board id outside 0..7";
    case VOXA_ERR_SOFT_QUEUE: return "soft queue allocation failed";
    case VOXA_ERR_NO_SLOT: return "no free board slot";
    case VOXA_ERR_NOT_OPEN: return "the current board is not open";
    case VOXA_ERR_OPEN: return "opening the link failed";
    case VOXA_ERR_CONFIG_SAVE: return "writing the configuration file failed";
    case VOXA_ERR_CONFIG_LOAD: return "loading the configuration file failed";
    case VOXA_ERR_ARGUMENT: return "argument outside the accepted values";
    case VOXA_ERR_SEND: return "the link could not take the command within 500 ms";
    default: return "unknown error code";
  }
}

VOXA_API int VOXA_CALL VOXA_Get_OpenError(int* os_error, char* text, int len) {
  LastOpenError& e = OpenError();
  std::lock_guard<std::mutex> g(e.lock);
  if (os_error != nullptr) *os_error = e.os_error;
  CopyText(text, len, e.text.c_str());
  return e.kind;
}

VOXA_API int VOXA_CALL VOXA_Set_BoardID(int id) {
  CallerErrors().flag.store(0);
  if (id < 0 || id >= kBoards) {
    Fail(VOXA_ERR_BOARD_ID);
    return 0;
  }
  if (!BoardAt(id).IsOpen()) {
    Fail(VOXA_ERR_NOT_OPEN);
    return 0;
  }
  CurrentBoard().store(id);
  return 1;
}

VOXA_API int VOXA_CALL VOXA_Get_BoardID(void) {
  return Guard(-1, [](Controller&) { return SelectedBoard(); });
}

VOXA_API int VOXA_CALL VOXA_Set_ThreadBoardID(int id) {
  CallerErrors().flag.store(0);
  if (id < -1 || id >= kBoards) {
    Fail(VOXA_ERR_BOARD_ID);
    return 0;
  }
  ThreadBoard() = id;
  CallerErrors().flag.store(0);  // the thread may have switched error states
  return 1;
}

VOXA_API int VOXA_CALL VOXA_Is_Err(void) { return CallerErrors().flag.load(); }
VOXA_API int VOXA_CALL VOXA_Get_LastErr(void) { return CallerErrors().last.load(); }
VOXA_API void VOXA_CALL VOXA_Enable_ErrBeep(int on) { Errors().beep.store(on ? 1 : 0); }

VOXA_API int VOXA_CALL VOXA_Is_Link(void) {
  return Guard(0, [](Controller& c) {
    if (c.IsLinked() && c.IsOpen()) {
      SuccessBeep();
      return 1;
    }
    return 0;
  });
}

VOXA_API void VOXA_CALL VOXA_Get_DllVer(char* buf, int len) { CopyText(buf, len, kDllVersion); }
VOXA_API void VOXA_CALL VOXA_Get_wDllVer(VOXA_WCHAR* buf, int len) {
  CopyText(reinterpret_cast<char16_t*>(buf), len, kDllVersionW);
}

VOXA_API void VOXA_CALL VOXA_Get_EngineVer(char* buf, int len) {
  GuardVoid([&](Controller& c) {
    const uint32_t w = c.GetRegWord(CHIPSTATUS, 7);
    char text[512];
    std::snprintf(text, sizeof text, "V%02d.%02d %s %s %s", static_cast<int>((w & 0xF000) >> 12),
                  static_cast<int>((w & 0x0F00) >> 8), StageWord((w & 0x0F000000) >> 24),
                  ((w & 0x00FF0000) >> 16) == 1 ? "Engine" : "-", (w & 0xFF) == 54 ? "K7R2" : "-");
    CopyText(buf, len, text);
  });
}

VOXA_API int VOXA_CALL VOXA_Open_Comm(int port, int baud) {
  return OpenFirstFree([&](Controller& c) { return c.OpenComm(static_cast<uint16_t>(port), static_cast<uint32_t>(baud)); });
}

VOXA_API int VOXA_CALL VOXA_Open_CommDevice(const char* path, int baud) {
  if (path == nullptr) {  // rejected before any slot is tried
    Fail(VOXA_ERR_ARGUMENT);
    return -1;
  }
  return OpenFirstFree([&](Controller& c) { return c.OpenDevice(path, static_cast<uint32_t>(baud)); });
}

VOXA_API int VOXA_CALL VOXA_Open_Tcp(uint32_t address, int port, int rate) {
  return OpenFirstFree([&](Controller& c) { return c.OpenTcpLink(address, port & 0xFFFF, static_cast<uint32_t>(rate)); });
}

VOXA_API int VOXA_CALL VOXA_Close(void) {
  CloseBoard(SelectedBoard());
  for (int i = 0; i < kBoards; ++i) {
    if (BoardAt(i).IsOpen()) {
      VOXA_Set_BoardID(i);
      break;
    }
  }
  return 1;
}

VOXA_API int VOXA_CALL VOXA_Change_Comm_Baudrate(int baud) {
  return Guard(0, [&](Controller& c) { return c.ChangeBaudRate(static_cast<uint32_t>(baud)); });
}

}  // extern "C"

extern "C" {

VOXA_API uint32_t VOXA_CALL VOXA_Get_StateDrops(void) {
  return Guard(0u, [](Controller& c) { return dispatch::StateDrops(c.BoardIndex()); });
}

VOXA_API int VOXA_CALL VOXA_Get_RegAge(int reg) {
  return Guard(-1, [&](Controller& c) {
    if (reg < 0 || reg > 31) throw ArgumentError();
    return c.RegAge(reg);
  });
}

VOXA_API int VOXA_CALL VOXA_Enable_RestoreAfterRestart(int on) {
  return Guard(0, [&](Controller& c) {
    c.EnableRestoreAfterRestart(on != 0);
    return 1;
  });
}
VOXA_API int VOXA_CALL VOXA_Is_RestoreAfterRestart(void) {
  return Guard(0, [](Controller& c) { return c.RestoreAfterRestart(); });
}

VOXA_API int VOXA_CALL VOXA_Get_InDoubtFrames(void) {
  return Guard(-1, [](Controller& c) { return static_cast<int>(c.InDoubtFrames()); });
}

}  // extern "C"

#include <cstdio>

#include "platform/backend.h"
#include "platform/platform.h"

namespace voxa::platform {
namespace {

void VOXA_CALL DefaultLog(int, const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

std::atomic<VOXA_BeepHandler> g_beep{&backend::DefaultBeep};
std::atomic<VOXA_LogHandler> g_log{&DefaultLog};
std::atomic<VOXA_MessageHandler> g_message{backend::DefaultMessageHandler()};
std::atomic<VOXA_ErrorReportHandler> g_error{&backend::DefaultErrorReport};

}  // namespace

void SetBeepHandler(VOXA_BeepHandler h) { g_beep.store(h ? h : &backend::DefaultBeep); }
void SetMessageHandler(VOXA_MessageHandler h) { g_message.store(h ? h : backend::DefaultMessageHandler()); }
void SetErrorReportHandler(VOXA_ErrorReportHandler h) { g_error.store(h ? h : &backend::DefaultErrorReport); }

void Beep(unsigned type) { g_beep.load()(type); }

void PostToWindow(VOXA_HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  if (auto h = g_message.load()) h(window, message, wparam, lparam);
}

void ReportError(const char* caption, const char* text) { g_error.load()(caption, text); }

void SetLogHandler(VOXA_LogHandler h) { g_log.store(h ? h : &DefaultLog); }
void Log(int board, const char* text) { g_log.load()(board, text); }

}  // namespace voxa::platform

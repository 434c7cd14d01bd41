#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "platform/platform.h"

namespace voxa::platform {
namespace {

void VOXA_CALL DefaultBeep(unsigned) {
  if (isatty(STDERR_FILENO)) {
    const char bel = '\a';
    ssize_t r = write(STDERR_FILENO, &bel, 1);
    (void)r;
  }
}

void VOXA_CALL DefaultErrorReport(const char* caption, const char* text) {
  // One line, never blocking on a user.
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

void VOXA_CALL DefaultLog(int, const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

std::atomic<VOXA_BeepHandler> g_beep{&DefaultBeep};
std::atomic<VOXA_LogHandler> g_log{&DefaultLog};
std::atomic<VOXA_MessageHandler> g_message{nullptr};
std::atomic<VOXA_ErrorReportHandler> g_error{&DefaultErrorReport};

}  // namespace

void SetBeepHandler(VOXA_BeepHandler h) { g_beep.store(h ? h : &DefaultBeep); }
void SetMessageHandler(VOXA_MessageHandler h) { g_message.store(h); }
void SetErrorReportHandler(VOXA_ErrorReportHandler h) { g_error.store(h ? h : &DefaultErrorReport); }

void Beep(unsigned type) { g_beep.load()(type); }

void PostAppMessage(VOXA_HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  if (auto h = g_message.load()) h(window, message, wparam, lparam);
}

void ReportError(const char* caption, const char* text) { g_error.load()(caption, text); }

void SetLogHandler(VOXA_LogHandler h) { g_log.store(h ? h : &DefaultLog); }
void Log(int board, const char* text) { g_log.load()(board, text); }

int LastSystemError() { return errno; }

const char* SystemErrorText(int err, char* buf, size_t len) {
  if (len == 0) return buf;
  // The GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* s = strerror_r(err, buf, len);
  if (s != buf) std::snprintf(buf, len, "%s", s);
#else
  if (strerror_r(err, buf, len) != 0) std::snprintf(buf, len, "error %d", err);
#endif
  return buf;
}

}  // namespace voxa::platform

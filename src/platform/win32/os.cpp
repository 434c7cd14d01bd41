#include "platform/win32/win32.h"

#include <mmsystem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/platform.h"

namespace voxa::platform {

namespace win32 {
namespace {

struct ErrorPair {
  int wsa;
  int err;
};

constexpr ErrorPair kSocketErrors[] = {
    {WSAEWOULDBLOCK, EAGAIN},          {WSAEINPROGRESS, EINPROGRESS},   {WSAEALREADY, EINPROGRESS},
    {WSAECONNREFUSED, ECONNREFUSED},   {WSAETIMEDOUT, ETIMEDOUT},       {WSAECONNRESET, ECONNRESET},
    {WSAECONNABORTED, ECONNABORTED},   {WSAENETUNREACH, ENETUNREACH},   {WSAEHOSTUNREACH, EHOSTUNREACH},
    {WSAENOTCONN, ENOTCONN},           {WSAEADDRINUSE, EADDRINUSE},     {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENOBUFS, ENOBUFS},             {WSAEMFILE, EMFILE},             {WSAENETDOWN, ENETDOWN},
    {WSAENETRESET, ENETRESET},         {WSAESHUTDOWN, EPIPE},           {WSAENOTSOCK, EBADF},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},   {WSAEISCONN, EISCONN},           {WSAEINVAL, EINVAL},
    {WSAEACCES, EACCES},               {WSAEINTR, EINTR},               {WSA_OPERATION_ABORTED, ECANCELED},
};

}  // namespace

std::wstring Widen(const char* text) {
  if (text == nullptr || *text == 0) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, w.data(), n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

std::string Narrow(const wchar_t* text) {
  if (text == nullptr || *text == 0) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<size_t>(n - 1));
  return s;
}

int ErrnoFromWsa(int wsa_error) {
  for (const auto& e : kSocketErrors)
    if (e.wsa == wsa_error) return e.err;
  return EIO;
}

int ErrnoFromSystem(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_OPERATION_ABORTED: return ECANCELED;
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return ENOTTY;
    default: return ErrnoFromWsa(static_cast<int>(error));
  }
}

bool SocketsReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

}  // namespace win32

namespace backend {

void AddressWait(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns) {
  DWORD ms = INFINITE;
  if (timeout_ns >= 0) {
    const int64_t rounded = (timeout_ns + 999999) / 1000000;
    ms = rounded >= static_cast<int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(rounded);
  }
  WaitOnAddress(reinterpret_cast<volatile void*>(addr), &expected, sizeof expected, ms);
}

void AddressWake(std::atomic<uint32_t>* addr, bool all) {
  if (all)
    WakeByAddressAll(reinterpret_cast<void*>(addr));
  else
    WakeByAddressSingle(reinterpret_cast<void*>(addr));
}

void NameThread(const char* name) {
  // Looked up at run time: older systems (and older import libraries) lack it.
  using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const Describe describe = reinterpret_cast<Describe>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (describe == nullptr) return;
  wchar_t wide[16] = {};
  for (size_t k = 0; k + 1 < 16 && name[k] != 0; ++k) wide[k] = static_cast<unsigned char>(name[k]);
  describe(GetCurrentThread(), wide);
}

void VOXA_CALL DefaultBeep(unsigned type) { MessageBeep(type); }

void VOXA_CALL DefaultErrorReport(const char* caption, const char* text) {
  MessageBoxW(nullptr, win32::Widen(text).c_str(), win32::Widen(caption).c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

namespace {
void VOXA_CALL PostToApplicationWindow(VOXA_HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}
}  // namespace

VOXA_MessageHandler DefaultMessageHandler() { return &PostToApplicationWindow; }

void FineTimers(bool on) {
  if (on)
    timeBeginPeriod(1);
  else
    timeEndPeriod(1);
}

}  // namespace backend

int LastSystemError() { return win32::ErrnoFromSystem(GetLastError()); }

const char* SystemErrorText(int err, char* buf, size_t len) {
  if (len == 0) return buf;
  // Socket errors read as the system's own message for the Winsock code.
  DWORD code = 0;
  for (const auto& e : win32::kSocketErrors)
    if (e.err == err) {
      code = static_cast<DWORD>(e.wsa);
      break;
    }
  wchar_t* text = nullptr;
  if (code != 0 &&
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr) != 0 &&
      text != nullptr) {
    std::string s = win32::Narrow(text);
    LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    std::snprintf(buf, len, "%s", s.c_str());
    return buf;
  }
  if (text != nullptr) LocalFree(text);
  std::snprintf(buf, len, "%s", std::strerror(err));
  return buf;
}

}  // namespace voxa::platform

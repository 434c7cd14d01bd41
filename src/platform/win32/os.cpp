#include "platform/win32/win32.h"

#include <mmsystem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

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

std::wstring Widen(const char* text, UINT code_page) {
  if (text == nullptr || *text == 0) return {};
  const int n = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text, -1, w.data(), n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

std::string Narrow(const wchar_t* text, UINT code_page) {
  if (text == nullptr || *text == 0) return {};
  const int n = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, text, -1, s.data(), n, nullptr, nullptr);
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

namespace {
DWORD Milliseconds(int64_t timeout_ns) {
  if (timeout_ns < 0) return INFINITE;
  const int64_t rounded = (timeout_ns + 999999) / 1000000;
  return rounded >= static_cast<int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(rounded);
}
}  // namespace

void AddressWait(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns) {
  WaitOnAddress(reinterpret_cast<volatile void*>(addr), &expected, sizeof expected, Milliseconds(timeout_ns));
}

namespace {

// Dispatches every message waiting for the calling thread. A WM_QUIT is
// posted again and ends the round, so the application's own loop sees it.
void DispatchWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Waits for the handles (none, or the thread's wake event) or a message for
// the thread, whichever comes first, then dispatches the messages.
void WaitDispatching(HANDLE* handles, DWORD count, DWORD ms) {
  DispatchWaitingMessages();
  const DWORD r = MsgWaitForMultipleObjectsEx(count, handles, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (r == WAIT_OBJECT_0 + count) DispatchWaitingMessages();
}

// A thread that dispatches messages while it waits on an address cannot
// sleep in WaitOnAddress: it sleeps on an event of its own, registered here
// under the address, and a wake of the address sets it.
struct DispatchingWaiter {
  const void* addr;
  HANDLE wake;
};
std::mutex g_dispatching_mutex;
std::vector<DispatchingWaiter> g_dispatching;  // under g_dispatching_mutex
std::atomic<int> g_dispatching_count{0};

struct ThreadWakeEvent {
  HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ~ThreadWakeEvent() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

}  // namespace

void AddressWaitDispatching(std::atomic<uint32_t>* addr, uint32_t expected, int64_t timeout_ns) {
  thread_local ThreadWakeEvent wake;
  if (wake.handle == nullptr) return AddressWait(addr, expected, timeout_ns);
  {
    std::lock_guard<std::mutex> g(g_dispatching_mutex);
    g_dispatching.push_back({addr, wake.handle});
    g_dispatching_count.fetch_add(1);
  }
  // Registered before the value is read: a wake after this read finds the
  // event; a change before it ends the wait at once.
  if (addr->load() == expected) WaitDispatching(&wake.handle, 1, Milliseconds(timeout_ns));
  std::lock_guard<std::mutex> g(g_dispatching_mutex);
  for (auto it = g_dispatching.begin(); it != g_dispatching.end(); ++it)
    if (it->wake == wake.handle) {
      g_dispatching.erase(it);
      break;
    }
  g_dispatching_count.fetch_sub(1);
}

void AddressWake(std::atomic<uint32_t>* addr, bool all) {
  if (all)
    WakeByAddressAll(reinterpret_cast<void*>(addr));
  else
    WakeByAddressSingle(reinterpret_cast<void*>(addr));
  // Every dispatching waiter of the address wakes (its caller re-checks).
  if (g_dispatching_count.load() == 0) return;
  std::lock_guard<std::mutex> g(g_dispatching_mutex);
  for (const DispatchingWaiter& w : g_dispatching)
    if (w.addr == addr) SetEvent(w.wake);
}

void SleepDispatching(int64_t timeout_ns) { WaitDispatching(nullptr, 0, Milliseconds(timeout_ns)); }

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

void FineTimers(bool on) {
  if (on)
    timeBeginPeriod(1);
  else
    timeEndPeriod(1);
}

}  // namespace backend

void SystemBeep(unsigned type) { MessageBeep(type); }

void SystemErrorReport(const char* caption, const char* text) {
  MessageBoxW(nullptr, win32::Widen(text ? text : "").c_str(), win32::Widen(caption ? caption : "").c_str(),
              MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

namespace {
void PostToWindow(void* window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}
}  // namespace

WindowPoster SystemWindowPoster() { return &PostToWindow; }

int LastSystemError() { return win32::ErrnoFromSystem(GetLastError()); }

int SystemErrorCode(int err) {
  for (const auto& e : win32::kSocketErrors)
    if (e.err == err) return e.wsa;
  return err;
}

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

// What the Windows backend's files share: the system headers, text
// conversion and the translation of the system's error codes into the
// error numbers the portable code compares with.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <string>

namespace voxa::platform::win32 {

// 8-bit texts of the application are in the ANSI code page, as the system's
// own 8-bit functions read them; file names inside the library are UTF-8
// (CP_UTF8).
std::wstring Widen(const char* text, UINT code_page = CP_ACP);
std::string Narrow(const wchar_t* text, UINT code_page = CP_ACP);

// The error number (EAGAIN, EINPROGRESS, ECONNREFUSED, ...) of a Winsock
// error, and of a system error code.
int ErrnoFromWsa(int wsa_error);
int ErrnoFromSystem(DWORD error);

// Starts Winsock once for the process; false when it cannot start.
bool SocketsReady();

}  // namespace voxa::platform::win32

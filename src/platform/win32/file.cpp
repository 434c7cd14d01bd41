#include "platform/file.h"
#include "platform/read_limited.h"

#include <atomic>

#include "platform/win32/win32.h"

namespace voxa::platform {
namespace {

using win32::Widen;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const bool r = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return r;
  }

 private:
  HANDLE h_;
};

std::wstring DirectoryOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".";
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::wstring BaseOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::atomic<unsigned> g_temp_counter{0};

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
  out.clear();
  const std::wstring wide = Widen(path.c_str(), CP_UTF8);
  if (wide.empty()) return FileReadResult::Missing;
  Handle h(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) {
    const DWORD e = GetLastError();
    return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? FileReadResult::Missing : FileReadResult::Failed;
  }
  LARGE_INTEGER size;
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileSizeEx(h.get(), &size)) return FileReadResult::Failed;
  if (static_cast<uint64_t>(size.QuadPart) > limit) return FileReadResult::TooLarge;
  out.reserve(static_cast<size_t>(size.QuadPart) + 1);
  return backend::ReadLimited(out, limit, [&](uint8_t* buffer, size_t room) -> long long {
    DWORD got = 0;
    if (!ReadFile(h.get(), buffer, static_cast<DWORD>(room), &got, nullptr)) return -1;
    return got;
  });
}

bool ReplaceWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  if (path.empty() || (size > 0 && data == nullptr)) return false;
  const std::wstring target = Widen(path.c_str(), CP_UTF8);
  if (target.empty()) return false;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
    return false;

  std::wstring temp;
  HANDLE raw = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
    temp = DirectoryOf(target);
    if (temp.back() != L'\\' && temp.back() != L'/') temp += L'\\';
    temp += L"." + BaseOf(target).substr(0, 100) + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(g_temp_counter.fetch_add(1));
    raw = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (raw == INVALID_HANDLE_VALUE) return false;
  Handle h(raw);
  bool ok = true;
  while (ok && size > 0) {
    DWORD wrote = 0;
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    ok = WriteFile(h.get(), data, chunk, &wrote, nullptr) != 0 && wrote > 0;
    data += wrote;
    size -= wrote;
  }
  if (ok) ok = FlushFileBuffers(h.get()) != 0;
  ok = h.Close() && ok;
  if (ok) ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

bool PathExists(const std::string& path) {
  const std::wstring wide = Widen(path.c_str(), CP_UTF8);
  return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> AnsiToUtf8(const char* text) {
  return win32::Narrow(Widen(text, CP_THREAD_ACP).c_str(), CP_UTF8);
}

}  // namespace voxa::platform

// What the measuring programs read about their own process from /proc:
// resident memory and the CPU time of each thread, by thread name. The
// library names its threads "voxa-rx", "voxa-timer", "voxa-tick",
// "voxa-tcp" and "voxa-serial"; the simulated boards' threads keep the
// program's name. On Windows the thread times come from GetThreadTimes and
// the names from the threads' descriptions; there is no resident memory.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace voxa::bench {

struct ThreadTimes {
  std::map<int, std::pair<std::string, uint64_t>> by_tid;  // tid -> (name, CPU ns)
};

#ifdef _WIN32
// CPU time of every thread of the process so far; a thread without a
// description is "thread".
inline ThreadTimes SampleThreads() {
  using Describe = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto describe = reinterpret_cast<Describe>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  auto ns100 = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  ThreadTimes t;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return t;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e)) {
    if (e.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE h = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, e.th32ThreadID);
    if (h == nullptr) continue;
    FILETIME created, ended, kernel, user;
    uint64_t ns = 0;
    if (GetThreadTimes(h, &created, &ended, &kernel, &user)) ns = (ns100(kernel) + ns100(user)) * 100;
    std::string name;
    PWSTR wide = nullptr;
    if (describe != nullptr && SUCCEEDED(describe(h, &wide)) && wide != nullptr) {
      for (const wchar_t* c = wide; *c != 0; ++c) name += static_cast<char>(*c);
      LocalFree(wide);
    }
    CloseHandle(h);
    t.by_tid[static_cast<int>(e.th32ThreadID)] = {name.empty() ? "thread" : name, ns};
  }
  CloseHandle(snap);
  return t;
}
#else

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"), -1 if missing.
inline long StatusKiB(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(f, line))
    if (line.rfind(k, 0) == 0) return std::stol(line.substr(k.size()));
  return -1;
}

// CPU time of every thread of the process so far: from schedstat (ns) where
// the kernel keeps it, else from stat (clock ticks).
inline ThreadTimes SampleThreads() {
  ThreadTimes t;
  const long hz = sysconf(_SC_CLK_TCK);
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return t;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const int tid = std::atoi(e->d_name);
    const std::string dir = std::string("/proc/self/task/") + e->d_name;
    std::string name;
    {
      std::ifstream f(dir + "/comm");
      std::getline(f, name);
    }
    uint64_t ns = 0;
    std::ifstream ss(dir + "/schedstat");
    if (!(ss >> ns)) {
      // stat: "tid (comm) state ..." with utime and stime as fields 14 and 15.
      std::ifstream st(dir + "/stat");
      std::string line;
      std::getline(st, line);
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      std::string field;
      uint64_t utime = 0, stime = 0;
      for (int k = 3; k <= 15 && rest >> field; ++k) {
        if (k == 14) utime = std::stoull(field);
        if (k == 15) stime = std::stoull(field);
      }
      ns = (utime + stime) * 1000000000ull / static_cast<uint64_t>(hz);
    }
    t.by_tid[tid] = {name, ns};
  }
  closedir(d);
  return t;
}
#endif

// CPU ns used between two samples, summed by thread name (threads that
// started in between count from zero).
inline std::map<std::string, uint64_t> CpuByName(const ThreadTimes& before, const ThreadTimes& after) {
  std::map<std::string, uint64_t> out;
  for (const auto& [tid, v] : after.by_tid) {
    uint64_t base = 0;
    auto it = before.by_tid.find(tid);
    if (it != before.by_tid.end() && it->second.second <= v.second) base = it->second.second;
    out[v.first] += v.second - base;
  }
  return out;
}

inline bool IsLibraryThread(const std::string& name) { return name.rfind("voxa-", 0) == 0; }

}  // namespace voxa::bench

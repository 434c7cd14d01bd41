// Runs a program through the shell, for tests of the command-line tools.
#pragma once

#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <string>

namespace voxa::test {

struct Result {
  int code = -1;
  std::string out;  // standard output and standard error
};

// Runs a shell command line; its output and exit code.
inline Result Shell(const std::string& line) {
  Result r;
#ifdef _WIN32
  // cmd.exe runs the line; read in text mode, its line ends are "\n" as on
  // Linux; _pclose gives the program's exit code itself.
  FILE* p = _popen((line + " 2>&1").c_str(), "r");
#else
  FILE* p = popen((line + " 2>&1").c_str(), "r");
#endif
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
#ifdef _WIN32
  r.code = _pclose(p);
#else
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return r;
}

}  // namespace voxa::test

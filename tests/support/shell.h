// Runs a program through the shell, for tests of the command-line tools.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace voxa::test {

struct Result {
  int code = -1;
  std::string out;  // standard output and standard error
};

// Runs a shell command line; its output and exit code.
inline Result Shell(const std::string& line) {
  Result r;
  FILE* p = popen((line + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace voxa::test

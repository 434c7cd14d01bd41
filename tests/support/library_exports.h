// The names the shared library built beside the test program exports: the
// VOXA_ functions of libvoxa.so (nm -D), or every name in voxa.dll's export
// table (read from the loaded image).
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace voxa::test {

// nullopt when the library cannot be found or read; `where` names it.
inline std::optional<std::set<std::string>> LibraryExports(std::string& where) {
  std::set<std::string> names;
#ifdef _WIN32
  // voxa.dll lies beside the program; every name of its table counts, so a
  // stray export fails the comparison too.
  where = "voxa.dll";
  HMODULE dll = LoadLibraryW(L"voxa.dll");
  if (dll == nullptr) return std::nullopt;
  const auto* base = reinterpret_cast<const uint8_t*>(dll);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress != 0) {
    const auto* table = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* rvas = reinterpret_cast<const DWORD*>(base + table->AddressOfNames);
    for (DWORD k = 0; k < table->NumberOfNames; ++k) names.insert(reinterpret_cast<const char*>(base + rvas[k]));
  }
  FreeLibrary(dll);
#else
  const std::filesystem::path lib =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "libvoxa.so";
  where = lib.string();
  if (!std::filesystem::exists(lib)) return std::nullopt;
  const std::string command = "nm -D --defined-only '" + lib.string() + "'";
  FILE* nm = ::popen(command.c_str(), "r");
  if (nm == nullptr) return std::nullopt;
  char line[512];
  while (std::fgets(line, sizeof line, nm)) {
    char kind = 0;
    char name[400];
    if (std::sscanf(line, "%*s %c %399s", &kind, name) == 2 && kind == 'T' && std::strncmp(name, "VOXA_", 5) == 0)
      names.insert(name);
  }
  if (::pclose(nm) != 0) return std::nullopt;
#endif
  return names;
}

}  // namespace voxa::test

// The configuration file exports.
#include "api/board_table.h"
#include "config/config_file.h"
#include "dispatch/dispatch.h"
#include "platform/file.h"

using namespace voxa;
using namespace voxa::api;

namespace {

// VOXA_WCHAR is char16_t wherever this library is built for Linux.
const char16_t* Wide(const VOXA_WCHAR* path) { return reinterpret_cast<const char16_t*>(path); }

int Save(Controller& c, const std::optional<std::string>& path, bool reported = false) {
  if (!path || !(reported ? config::SaveReportedConfig(c, *path) : config::SaveConfig(c, *path))) {
    Fail(VOXA_ERR_CONFIG_SAVE);
    return 0;
  }
  SuccessBeep();
  return 1;
}

// A line of a load for the log handler.
void Say(const char* text) {
  const int board = SelectedBoard();
  KeepingErrorState([&] { dispatch::LogNow(board, text); });
}

// The load of a file known to exist.
int LoadExisting(Controller& c, const std::string& path) {
  Say("ok...file exist\n");
  if (!config::LoadConfig(c, path)) {
    Fail(VOXA_ERR_CONFIG_LOAD);
    return 0;
  }
  SuccessBeep();
  return 1;
}

}  // namespace

extern "C" {

VOXA_API int VOXA_CALL VOXA_Save_wConfigFile(const VOXA_WCHAR* path) {
  return Guard(0, [&](Controller& c) { return Save(c, config::PathFromWide(Wide(path))); });
}

VOXA_API int VOXA_CALL VOXA_Save_ConfigFile(const char* path) {
  return Guard(0, [&](Controller& c) { return Save(c, config::PathFrom8Bit(path)); });
}

VOXA_API int VOXA_CALL VOXA_Save_ReportedConfigFile(const char* path) {
  return Guard(0, [&](Controller& c) { return Save(c, config::PathFrom8Bit(path), true); });
}

VOXA_API int VOXA_CALL VOXA_Load_wConfigFile(const VOXA_WCHAR* path) {
  return Guard(0, [&](Controller& c) {
    const std::optional<std::string> p = config::PathFromWide(Wide(path));
    if (!p || !platform::PathExists(*p)) {
      Say("file not exist\n");
      return 0;
    }
    return LoadExisting(c, *p);
  });
}

VOXA_API int VOXA_CALL VOXA_Load_ConfigFile(const char* path) {
  return Guard(0, [&](Controller& c) {
    const std::optional<std::string> p = config::PathFrom8Bit(path);
    if (!p || !platform::PathExists(*p)) return 0;
    return LoadExisting(c, *p);
  });
}

}  // extern "C"

// Linux only: a save that the file size limit breaks part way through, and
// saves through symbolic links.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "config_fixture.h"

namespace fs = std::filesystem;
using voxa::config::Document;
using namespace voxa::test;

TEST_F(ConfigFileTest, FailedSaveLeavesTheOldFileWhole) {
  const fs::path p = dir_ / "old.ini";
  WriteText(p, "[Keep]\nold = contents\n");
  const std::vector<uint8_t> old = ReadBytes(p);

  // The file size limit makes the write fail part way through.
  rlimit saved_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
  const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved_limit;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int ok = VOXA_Save_ConfigFile(p.string().c_str());
  ::setrlimit(RLIMIT_FSIZE, &saved_limit);
  std::signal(SIGXFSZ, saved_handler);

  EXPECT_EQ(ok, 0);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE);
  EXPECT_EQ(ReadBytes(p), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary file left";
}

// A save through a symbolic link writes the file the link names, creating it
// when the link dangles; the link stays a link. A link that leads nowhere
// writable fails with -40 and leaves the link as it was.
TEST_F(ConfigFileTest, SaveThroughALinkWritesItsTarget) {
  const struct {
    const char* link;
    fs::path to;       // as stored in the link
    fs::path written;  // the file the save must write, empty when it must fail
  } cases[] = {
      {"absolute.ini", dir_ / "new-a.ini", dir_ / "new-a.ini"},
      {"relative.ini", "new-r.ini", dir_ / "new-r.ini"},
      {"chain.ini", "absolute.ini", dir_ / "new-a.ini"},
      {"loop-a.ini", "loop-b.ini", {}},
      {"loop-b.ini", "loop-a.ini", {}},
      {"nodir.ini", dir_ / "missing" / "c.ini", {}},
  };
  for (const auto& c : cases) fs::create_symlink(c.to, dir_ / c.link);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    const int ok = VOXA_Save_ConfigFile((dir_ / c.link).string().c_str());
    EXPECT_TRUE(fs::is_symlink(dir_ / c.link));
    EXPECT_EQ(fs::read_symlink(dir_ / c.link), c.to);
    if (c.written.empty()) {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE);
    } else {
      EXPECT_EQ(ok, 1);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(c.written)));
      EXPECT_NE(Document::Parse(ReadBytes(c.written)).Find(u"VOXA_V01_ENGINE_CONFIG", u"REG[00].00"), nullptr);
    }
  }
}

// quillon.conf: reading with its limits, where it lives, and rewriting one
// section while every other line stays as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/lookup/quillon_conf.h"
#include "tests/support/support.h"

namespace quillon {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(QuillonConf, ReadsSectionsKeysCommentsAndSkipsWhatItCannotRead) {
  TQuillonConf conf;
  conf.Parse("top = 1\r\n"
             "; comment = no\n"
             "# comment = no\n"
             "[ History ]\n"
             "name1 = a.example\n"
             "  name2=b.example  \n"
             "no equals sign\n"
             " = no key\n"
             "name3 = " + std::string(kConfMaxLine, 'x') + "\n"
             "[public-address]\n"
             "sources = http://x/ = with equals\n"
             "[history]\n"
             "name4 = c.example\n"
             "[unclosed\n"
             "NAME5 = d.example");
  EXPECT_EQ(conf.Value("", "top"), "1");
  EXPECT_EQ(conf.Value("public-address", "SOURCES"), "http://x/ = with equals");
  EXPECT_EQ(conf.Value("history", "comment"), std::nullopt);
  EXPECT_EQ(conf.Value("nowhere", "top"), std::nullopt);
  // Both [history] sections, in file order; "[unclosed" is no header.
  const std::vector<TConfEntry> history{{"name1", "a.example"},
                                        {"name2", "b.example"},
                                        {"name4", "c.example"},
                                        {"NAME5", "d.example"}};
  EXPECT_EQ(conf.Section("HISTORY"), history);
}

TEST(QuillonConf, WhereTheFileLives) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(QuillonConfPath(), "/x/config/quillon/quillon.conf");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(QuillonConfPath(), "/home/u/.config/quillon/quillon.conf");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(QuillonConfPath(), "/home/u/.config/quillon/quillon.conf");
  ::unsetenv("HOME");
  EXPECT_EQ(QuillonConfPath(), "");
  if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(QuillonConf, RewritingASectionKeepsEveryOtherLine) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / test::UniqueName("quillon-conf-");
  const std::string path = (dir / "quillon" / "quillon.conf").string();

  // No folder, no file: both are made.
  ASSERT_TRUE(WriteConfSection(path, "history", {{"name1", "a.example"}}));
  EXPECT_EQ(ReadAll(path), "[history]\nname1 = a.example\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // names typed are nobody else's business

  const std::string mine =
      "# my settings\n"
      "[public-address]\n"
      "sources = http://x/   \n"
      "\n"
      "[History]\n"
      "name1 = old.example\n"
      "; a comment in the section goes with it\n"
      "[other]\n"
      "keep = me\n"
      "[history]\n"
      "name9 = older.example\n";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << mine;
  ::chmod(path.c_str(), 0644);
  ASSERT_TRUE(WriteConfSection(path, "history",
                               {{"name1", "b.example"},
                                {"name2", "line\nbreak"},
                                {"na=me", "x"},
                                {"name3", "c.example"}}));
  EXPECT_EQ(ReadAll(path),
            "# my settings\n"
            "[public-address]\n"
            "sources = http://x/   \n"
            "\n"
            "[history]\n"
            "name1 = b.example\n"
            "name3 = c.example\n"
            "[other]\n"
            "keep = me\n");
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // the user's own choice stays
  TQuillonConf conf;
  ASSERT_TRUE(conf.Load(path));
  EXPECT_EQ(conf.Value("public-address", "sources"), "http://x/");

  // A new section goes at the end, after an empty line.
  ASSERT_TRUE(WriteConfSection(path, "new", {}));
  EXPECT_EQ(ReadAll(path).substr(ReadAll(path).size() - 17), "keep = me\n\n[new]\n");
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "quillon"), {}), 1);

  // A file too large to read is neither read nor overwritten.
  const std::string big = "# " + std::string(kConfMaxBytes, 'x') + "\n";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << big;
  EXPECT_FALSE(conf.Load(path));
  EXPECT_FALSE(WriteConfSection(path, "history", {{"name1", "a"}}));
  EXPECT_EQ(ReadAll(path), big);
  // Where no file can be written.
  EXPECT_FALSE(WriteConfSection("", "history", {}));
  EXPECT_FALSE(WriteConfSection("/proc/quillon/quillon.conf", "history", {}));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillon

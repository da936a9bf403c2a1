#include "archive/FileWalker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

using archive::MatchesPattern;
using archive::PassesAttributeMask;

void Touch(const std::string& path, const std::string& content = "x") {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> Walk(const std::string& dir, const std::string& pattern, bool recurse,
                              std::uint32_t mask = 0x39) {
  std::vector<std::string> seen;
  archive::WalkDirectory(dir, pattern, recurse, mask, [&](const archive::WalkEntry& e) {
    seen.push_back(e.path.substr(dir.size() + 1));
  });
  return seen;
}

TEST(FileWalkerTest, PatternsMatchLikeTheWindowsFileSystem) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  } cases[] = {
      {"rptreport.xml", "*", true},       {"rptreport.xml", "*.*", true},
      {"README", "*.*", true},            {"README", "*.", true},
      {"data.XML", "*.xml", true},        {"data.xml.bak", "*.xml", false},
      {"a1.xml", "a?.xml", true},         {"a12.xml", "a?.xml", false},
      {"abc", "a*c", true},               {"abcd", "a*c", false},
      {"", "*", true},                    {"x.y", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesPattern(c.name, c.pattern), c.match) << c.name << " / " << c.pattern;
}

TEST(FileWalkerTest, AttributeMaskSelectsHiddenAndSystemAway) {
  struct Case {
    std::uint32_t attributes;
    std::uint32_t mask;
    bool passes;
  } cases[] = {
      {0x20, 0x39, true},  {0x21, 0x39, true},  {0x10, 0x39, true},  {0x22, 0x39, false},
      {0x24, 0x39, false}, {0x12, 0x39, false}, {0x22, 0x3F, true},  {0x24, 0x3B, false},
      {0x24, 0x3D, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PassesAttributeMask(c.attributes, c.mask), c.passes)
        << std::hex << c.attributes << " / " << c.mask;
}

TEST(FileWalkerTest, WalksDepthFirstPreOrderInNameOrder) {
  testsupport::TempDir tmp;
  std::filesystem::create_directories(tmp / "b/inner");
  Touch(tmp / "a.xml");
  Touch(tmp / "b/z.xml");
  Touch(tmp / "b/inner/deep.xml");
  Touch(tmp / "c.xml");
  const std::vector<std::string> expected = {"a.xml", "b/", "b/inner/", "b/inner/deep.xml",
                                             "b/z.xml", "c.xml"};
  EXPECT_EQ(Walk(tmp.path(), "*", true), expected);
  EXPECT_EQ(Walk(tmp.path(), "*", false), (std::vector<std::string>{"a.xml", "c.xml"}));
}

TEST(FileWalkerTest, HiddenEntriesAndTheirContentsAreLeftOutUnlessTheMaskAllowsThem) {
  testsupport::TempDir tmp;
  std::filesystem::create_directories(tmp / ".cache");
  Touch(tmp / ".cache/inside.xml");
  Touch(tmp / ".hidden.xml");
  Touch(tmp / "shown.xml");
  EXPECT_EQ(Walk(tmp.path(), "*", true), (std::vector<std::string>{"shown.xml"}));
  EXPECT_EQ(Walk(tmp.path(), "*", true, 0x3F),
            (std::vector<std::string>{".cache/", ".cache/inside.xml", ".hidden.xml", "shown.xml"}));
}

TEST(FileWalkerTest, PatternFiltersFilesButNotDirectories) {
  testsupport::TempDir tmp;
  std::filesystem::create_directories(tmp / "sub");
  Touch(tmp / "keep.xml");
  Touch(tmp / "drop.txt");
  Touch(tmp / "sub/also.xml");
  EXPECT_EQ(Walk(tmp.path(), "*.xml", true),
            (std::vector<std::string>{"keep.xml", "sub/", "sub/also.xml"}));
}

TEST(FileWalkerTest, MissingDirectoryYieldsNothing) {
  testsupport::TempDir tmp;
  EXPECT_TRUE(Walk(tmp / "absent", "*", true).empty());
}

TEST(FileWalkerTest, ReportsFileSizes) {
  testsupport::TempDir tmp;
  Touch(tmp / "five.xml", "12345");
  std::uint64_t size = 0;
  archive::WalkDirectory(tmp.path(), "*", true, 0x39,
                         [&](const archive::WalkEntry& e) { size = e.size; });
  EXPECT_EQ(size, 5u);
}

}  // namespace

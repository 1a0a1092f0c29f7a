#include "status_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>

namespace vesk {
namespace {
namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class StatusFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/status_file_test.XXXXXX";
    home_ = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(home_); }
  fs::path home_;
};

TEST_F(StatusFileTest, CreatesEveryFolderPrivately) {
  // A umask that strips owner bits must not leave the folders unusable.
  const mode_t old = umask(0277);
  const std::string dir = makeStatusDirectory(home_.string());
  umask(old);
  EXPECT_EQ(dir, (home_ / "Library/Application Support/Vesk/agents").string());
  for (fs::path p = dir; p != home_; p = p.parent_path()) {
    EXPECT_EQ(modeOf(p), 0700u) << p;
  }
  EXPECT_EQ(modeOf(home_), 0700u);  // mkdtemp's own mode, left alone.

  chmod(dir.c_str(), 0755);
  chmod((home_ / "Library").c_str(), 0755);
  makeStatusDirectory(home_.string() + "/");
  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(home_ / "Library"), 0755u);  // existed: not ours to change
}

TEST_F(StatusFileTest, LoadsOnlyAWholeJsonObject) {
  const fs::path path = home_ / "k.json";
  const std::pair<const char*, bool> cases[] = {
      {"", false},    {"{\"startedAt\":1", false},
      {"[1]", false}, {"not json", false},
      {"{}", true},   {"{\"a\":[1]} ", true},
  };
  for (const auto& [content, loads] : cases) {
    writeFile(path, content);
    EXPECT_EQ(loadPreviousRecord(path).has_value(), loads) << content;
  }
  fs::remove(path);
  EXPECT_FALSE(loadPreviousRecord(path));

  // A link or a FIFO at the path is not a previous record, and the FIFO
  // without a writer must not stall the run.
  writeFile(home_ / "target", "{}");
  fs::create_symlink(home_ / "target", path);
  EXPECT_FALSE(loadPreviousRecord(path));
  fs::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(loadPreviousRecord(path));
}

TEST_F(StatusFileTest, ReplacesAtomicallyWithPrivateMode) {
  const fs::path path = home_ / "k.json";
  const boost::json::object record{{"agent", "Cursor"}};

  writeFile(path, "old");
  chmod(path.c_str(), 0644);
  EXPECT_TRUE(writeStatusRecord(record, path));
  EXPECT_EQ(readFile(path), R"({"agent":"Cursor"})");
  EXPECT_EQ(modeOf(path), 0600u);

  // A planted link is replaced, its target left alone.
  fs::remove(path);
  writeFile(home_ / "target", "keep");
  fs::create_symlink(home_ / "target", path);
  EXPECT_TRUE(writeStatusRecord(record, path));
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(readFile(path), R"({"agent":"Cursor"})");
  EXPECT_EQ(readFile(home_ / "target"), "keep");

  // A record without JSON form touches nothing, mode included.
  chmod(path.c_str(), 0644);
  const boost::json::object bad{
      {"startedAt", std::numeric_limits<double>::infinity()}};
  EXPECT_FALSE(writeStatusRecord(bad, path));
  EXPECT_EQ(modeOf(path), 0644u);

  // A missing folder: nothing written, nothing thrown.
  EXPECT_FALSE(writeStatusRecord(record, (home_ / "none/k.json").string()));

  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(home_)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);  // k.json and target: no temporary file left
}

}  // namespace
}  // namespace vesk

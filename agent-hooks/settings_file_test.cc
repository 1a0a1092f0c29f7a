#include "settings_file.h"

#include <stdlib.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace vesk {
namespace {

// A change another program saves between the read and the rename must be
// noticed, whatever it is.
TEST(SettingsFileTest, NoticesChangesMadeAfterTheRead) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file
    const char* after;   // nullptr: removed
    bool unchanged;
  } cases[] = {
      {"untouched", "{\"a\": 1}\n", "{\"a\": 1}\n", true},
      {"one byte more", "{\"a\": 1}\n", "{\"a\": 12}\n", false},
      {"same size, other bytes", "{\"a\": 1}\n", "{\"b\": 1}\n", false},
      {"removed", "{}\n", nullptr, false},
      {"created", nullptr, "{}\n", false},
      {"still missing", nullptr, nullptr, true},
      {"cut short by a writer", "{\"a\": 1}\n", "{\"a\"", false},
  };
  char pattern[] = "/tmp/vesk-settings-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::filesystem::path path = std::filesystem::path(pattern) / "s.json";
  auto put = [&](const char* text) {
    std::filesystem::remove(path);
    if (text != nullptr) std::ofstream(path) << text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put(c.before);
    std::string error;
    auto file = readSettingsFile(path, &error);
    ASSERT_TRUE(file) << error;
    put(c.after);
    EXPECT_EQ(unchangedSince(*file, &error), c.unchanged);
  }
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace vesk

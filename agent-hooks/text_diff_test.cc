#include "text_diff.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(UnifiedDiffTest, ShowsChangedLinesInHunksWithContext) {
  struct Case {
    const char* name;
    const char* before;
    const char* after;
    const char* expected;
  } cases[] = {
      {"equal", "a\nb\n", "a\nb\n", ""},
      {"new file", "", "{\n}\n", "@@ -0,0 +1,2 @@\n+{\n+}\n"},
      {"removed file", "x\n", "", "@@ -1,1 +0,0 @@\n-x\n"},
      {"one line changed in the middle", "1\n2\n3\n4\n5\n6\n7\n8\n9\n",
       "1\n2\n3\n4\nfive\n6\n7\n8\n9\n",
       "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n"},
      {"far apart changes make two hunks", "a\n1\n2\n3\n4\n5\n6\n7\nb\n",
       "A\n1\n2\n3\n4\n5\n6\n7\nB\n",
       "@@ -1,4 +1,4 @@\n-a\n+A\n 1\n 2\n 3\n"
       "@@ -6,4 +6,4 @@\n 5\n 6\n 7\n-b\n+B\n"},
      {"a last line without newline is marked", "{\n}", "{\n \"a\": 1\n}",
       "@@ -1,2 +1,3 @@\n {\n+ \"a\": 1\n }\n\\ No newline at end of file\n"},
      {"a newline added at the end", "x", "x\n",
       "@@ -1,1 +1,1 @@\n-x\n\\ No newline at end of file\n+x\n"},
      {"lines moved keep the common ones", "x\ny\nz\n", "y\nz\nx\n",
       "@@ -1,3 +1,3 @@\n-x\n y\n z\n+x\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unifiedDiff(c.before, c.after), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace vesk

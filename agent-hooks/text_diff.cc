#include "text_diff.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vesk {
namespace {

constexpr size_t kContext = 3;
// The comparison table has one cell per pair of changed lines.
constexpr size_t kMaxTableCells = size_t{1} << 24;

using Lines = std::vector<std::string_view>;

struct Edit {
  char op;  // ' ', '-' or '+'
  std::string_view line;
};

// The lines of `text`, each with its newline: a last line without one
// differs from the same line with one, as it does to patch.
Lines splitLines(std::string_view text) {
  Lines lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

// Appends the edits turning old[a, aEnd) into new[b, bEnd), through the
// longest common subsequence of the two ranges.
void diffMiddle(const Lines& old, size_t a, size_t aEnd, const Lines& now,
                size_t b, size_t bEnd, std::vector<Edit>& edits) {
  const size_t n = aEnd - a, m = bEnd - b;
  if (n * m > kMaxTableCells) {
    for (size_t i = a; i < aEnd; ++i) edits.push_back({'-', old[i]});
    for (size_t j = b; j < bEnd; ++j) edits.push_back({'+', now[j]});
    return;
  }
  // common[i * (m + 1) + j]: the common length of old[a+i..] and new[b+j..].
  std::vector<uint32_t> common((n + 1) * (m + 1), 0);
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      common[i * (m + 1) + j] = old[a + i] == now[b + j]
                                    ? common[(i + 1) * (m + 1) + j + 1] + 1
                                    : std::max(common[(i + 1) * (m + 1) + j],
                                               common[i * (m + 1) + j + 1]);
    }
  }
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && old[a + i] == now[b + j]) {
      edits.push_back({' ', old[a + i++]});
      ++j;
    } else if (j == m || (i < n && common[(i + 1) * (m + 1) + j] >=
                                       common[i * (m + 1) + j + 1])) {
      edits.push_back({'-', old[a + i++]});
    } else {
      edits.push_back({'+', now[b + j++]});
    }
  }
}

std::vector<Edit> editScript(const Lines& old, const Lines& now) {
  size_t prefix = 0;
  while (prefix < old.size() && prefix < now.size() &&
         old[prefix] == now[prefix]) {
    ++prefix;
  }
  size_t suffix = 0;
  while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
         old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix]) {
    ++suffix;
  }
  std::vector<Edit> edits;
  for (size_t i = 0; i < prefix; ++i) edits.push_back({' ', old[i]});
  diffMiddle(old, prefix, old.size() - suffix, now, prefix, now.size() - suffix,
             edits);
  for (size_t i = old.size() - suffix; i < old.size(); ++i) {
    edits.push_back({' ', old[i]});
  }
  return edits;
}

// "-start,count" in the unified format: a hunk without lines on one side
// names the line before it.
std::string range(size_t before, size_t count) {
  return std::to_string(count == 0 ? before : before + 1) + "," +
         std::to_string(count);
}

// Appends the hunk of edits[begin, end); `oldBefore` and `newBefore` count
// the lines of each side that come before it.
void appendHunk(std::string& out, const std::vector<Edit>& edits, size_t begin,
                size_t end, size_t oldBefore, size_t newBefore) {
  size_t oldCount = 0, newCount = 0;
  for (size_t k = begin; k < end; ++k) {
    oldCount += edits[k].op != '+';
    newCount += edits[k].op != '-';
  }
  out += "@@ -" + range(oldBefore, oldCount) + " +" +
         range(newBefore, newCount) + " @@\n";
  for (size_t k = begin; k < end; ++k) {
    out.push_back(edits[k].op);
    out.append(edits[k].line);
    if (!edits[k].line.ends_with('\n')) {
      out += "\n\\ No newline at end of file\n";
    }
  }
}

}  // namespace

std::string unifiedDiff(std::string_view oldText, std::string_view newText) {
  const std::vector<Edit> edits =
      editScript(splitLines(oldText), splitLines(newText));
  std::string out;
  size_t next = 0, oldBefore = 0, newBefore = 0;
  while (true) {
    size_t first = next;
    while (first < edits.size() && edits[first].op == ' ') ++first;
    if (first == edits.size()) break;
    // A hunk runs on while kept lines between changes are few enough that
    // their context would overlap.
    size_t last = first;
    for (size_t k = first; k < edits.size(); ++k) {
      if (edits[k].op != ' ') {
        last = k;
      } else if (k - last > 2 * kContext) {
        break;
      }
    }
    size_t begin = std::max(next, first >= kContext ? first - kContext : 0);
    size_t end = std::min(edits.size(), last + 1 + kContext);
    // Only kept lines lie between the previous hunk and this one.
    oldBefore += begin - next;
    newBefore += begin - next;
    appendHunk(out, edits, begin, end, oldBefore, newBefore);
    for (size_t k = begin; k < end; ++k) {
      oldBefore += edits[k].op != '+';
      newBefore += edits[k].op != '-';
    }
    next = end;
  }
  return out;
}

}  // namespace vesk

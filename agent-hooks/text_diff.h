// A line diff for showing a planned change to a settings file: the lines of
// `oldText` and `newText` compared in the unified format ("@@ -a,b +c,d @@"
// hunks, " " for kept lines, "-" removed, "+" added) with three lines of
// context, without the "---"/"+++" header; a last line without a newline
// is followed by "\ No newline at end of file", so that patch(1) recreates
// the new text byte for byte. Equal texts give "". A pure
// function, safe on any thread. When the changed middle of the two texts is
// too large to compare line by line (thousands of lines on both sides), it
// is shown as removed and added whole.
#ifndef VESK_AGENT_HOOKS_TEXT_DIFF_H_
#define VESK_AGENT_HOOKS_TEXT_DIFF_H_

#include <string>
#include <string_view>

namespace vesk {

std::string unifiedDiff(std::string_view oldText, std::string_view newText);

}  // namespace vesk

#endif  // VESK_AGENT_HOOKS_TEXT_DIFF_H_

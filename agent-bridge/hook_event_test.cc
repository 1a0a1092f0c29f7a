#include "hook_event.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "json_text.h"
#include "testing/stock_hook_event.h"

namespace vesk {
namespace {

struct DecodeCase {
  std::string input;
  bool decodes;
  std::string sessionId = "";
  std::optional<std::string> project = std::nullopt;
  std::string eventName = "";
};

std::string nested(std::size_t depth) {
  return R"({"session_id":"s","x":)" + std::string(depth, '[') +
         std::string(depth, ']') + "}";
}

TEST(DecodeHookEvent, FollowsTheSessionAndFieldRules) {
  const DecodeCase cases[] = {
      {"", false},
      {R"([{"session_id":"a"}])", false},
      {R"({"session_id":"a"} x)", false},
      {R"({"session_id":"a"/*c*/})", false},
      {"{\"session_id\":\"\xff\"}", false},
      {R"({"hook_event_name":"Stop"})", false},
      {R"({"session_id":null,"conversation_id":"c"})", false},
      {R"({"conversation_id":"c"})", true, "c"},
      {R"({"conversation_id":"c","session_id":""})", true, ""},
      {R"({"session_id":" A\u00e9","hook_event_name":3})", true, " A\xc3\xa9"},
      {R"({"session_id":"\t\ud83d\ude80\"\\","hook_event_name":"St\u006fp"})",
       true, "\t\xf0\x9f\x9a\x80\"\\", std::nullopt, "Stop"},
      {"{\"session_id\":\"caf\xc3\xa9\\n\",\"cwd\":\"/a/\\u00e9t\xc3\xa9\\/\"}",
       true, "caf\xc3\xa9\n", "\xc3\xa9t\xc3\xa9"},
      {R"({"session\u005fid":"k","x":{"session_id":"n"}})", true, "k"},
      {R"({"session_id":"s","x":"\ud800"})", false},
      {"{\"session_id\":\"s\",\"x\":\"\\n\xed\xa0\x80\"}", false},
      {R"({"session_id":"s","hook_event_name":"Stop","x":{"hook_event_name":1}})",
       true, "s", std::nullopt, "Stop"},
      {R"({"session_id":"s","cwd":"/home/u/proj/"})", true, "s", "proj"},
      {R"({"session_id":"s","cwd":1,"workspace_roots":["/a/one","/b/two"]})",
       true, "s", "one"},
      {R"({"session_id":"s","cwd":"/x/cwd","workspace_roots":["/a/one"]})",
       true, "s", "cwd"},
      {R"({"session_id":"s","workspace_roots":["/a/one",2]})", true, "s"},
      {nested(kMaxJsonDepth - 1), true, "s"},
      {nested(kMaxJsonDepth), false},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 80));
    std::optional<HookEvent> event =
        decodeHookEvent(c.input, "Cursor", AgentState::idle);
    ASSERT_EQ(event.has_value(), c.decodes);
    if (!event) continue;
    EXPECT_EQ(event->sessionId, c.sessionId);
    EXPECT_EQ(event->projectName, c.project);
    EXPECT_EQ(event->eventName, c.eventName);
  }
}

// Cursor runs Claude Code's entries too when its third-party option is on;
// its events carry "cursor_version" wherever they sit in the object.
TEST(DecodeHookEvent, ClaudeCodeRunsWithCursorsMarkAreNotDecoded) {
  const struct {
    std::string_view agent;
    std::string_view input;
    bool decodes;
  } cases[] = {
      {"Claude Code", R"({"session_id":"s","cursor_version":"2.1"})", false},
      {"Claude Code", R"({"cursor_version":null,"conversation_id":"c"})", false},
      {"Claude Code", R"({"session_id":"s","x":{"cursor_version":"2"}})", true},
      {"Claude Code", R"({"session_id":"s","cursor_versions":"2"})", true},
      {"Cursor", R"({"conversation_id":"c","cursor_version":"2.1"})", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(decodeHookEvent(c.input, c.agent, AgentState::working).has_value(),
              c.decodes);
  }
}

// Where a string goes decides how it is read: kept values and top-level
// keys are decoded; other strings are only checked.
constexpr std::string_view kPlacements[] = {
    R"({"session_id":"@","cwd":"/p/@"})",
    R"({"session_id":"s","@":1,"hook_event_name":"@"})",
    R"({"session_id":"s","x":["@",{"@":"@"}]})",
    R"({"session_id":"s","workspace_roots":["@","@"]})",
    R"({"session_id":"@)",
};

std::string place(std::string_view placement, const std::string& body) {
  std::string text;
  for (char c : placement) {
    if (c == '@') {
      text += body;
    } else {
      text += c;
    }
  }
  return text;
}

void expectSameAsStockParser(const std::string& body) {
  for (std::string_view placement : kPlacements) {
    const std::string input = place(placement, body);
    ASSERT_EQ(decodeHookEvent(input, "Cursor", AgentState::idle),
              testing::decodeHookEventWithStockParser(input, "Cursor",
                                                      AgentState::idle))
        << ::testing::PrintToString(input);
  }
}

TEST(DecodeHookEvent, ReadsStringsExactlyAsBoostsOwnParser) {
  const std::string kLong(70, 'x');
  // clang-format off
  const std::string bodies[] = {
      // plain text and control characters
      "", "plain", "\x7f", "\x01", "\x1f",
      // escapes, well formed or not
      "\\", "\\x", "\\u", "\\u12", "\\u12G4", "\\u00e9\\u20AC\\u0000",
      R"(\"\\\/\b\f\n\r\t)", "\\ud83d\\ude80", "\\uDBFF\\uDFFF", "\\ud800",
      "\\udc00", "\\ud800\\u0041", "\\ud800x", "\\ude80\\ud83d",
      "\\ud83d\\ude8",
      // well-formed UTF-8 at the edges of each form
      "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x9a\x80", "\xed\x9f\xbf",
      "\xef\xbf\xbf", "\xf4\x8f\xbf\xbf",
      // ill-formed: cut short, overlong, surrogates, beyond U+10FFFF
      "\xc3", "\xc3(", "\x80", "\xc0\x80", "\xc1\xbf", "\xe0\x80\x80",
      "\xe0\x9f\xbf", "\xed\xa0\x80", "\xf0\x80\x80\x80", "\xf0\x8f\xbf\xbf",
      "\xf4\x90\x80\x80", "\xf5\x80", "\xff", "\xe2\x82", "\xf0\x9f\x9a",
      // after a long plain run and an escape
      kLong + "\\n" + kLong + "\xc3\xa9", kLong + "\xe2\x82" + kLong,
      kLong + "\\n" + kLong + "\x01",
  };
  // clang-format on
  for (const std::string& body : bodies) expectSameAsStockParser(body);

  // Runs of valid 2-, 3- and 4-byte sequences that end in each kind of
  // ill-formed sequence, in ASCII, an escape or the quote, with the end of
  // the run on and around the 64-byte blocks of the search.
  // clang-format off
  const std::string runUnits[] = {"\xc3\xa9", "\xe4\xb8\xad",
                                  "\xf0\x9f\x98\x80", "\xed\x9f\xbf"};
  const std::string runEnds[] = {
      "", "a", "\\n", "\x01", "\xc3", "\xc3(", "\x80", "\xc1\xbf",
      "\xe0\x9f\xbf", "\xed\xa0\x80", "\xe2\x82", "\xe2\x82(",
      "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80",
      "\xf0\x9f\x9a", "\xf0\x9f\x9a(", "\xff"};
  // clang-format on
  for (const std::string& unit : runUnits) {
    for (const std::string& runEnd : runEnds) {
      for (std::size_t lead = 0; lead < 8; ++lead) {
        for (std::size_t units : {20u, 21u, 22u, 32u, 40u}) {
          std::string body(lead, 'p');
          for (std::size_t i = 0; i < units; ++i) body += unit;
          expectSameAsStockParser(body + runEnd);
          expectSameAsStockParser(body + runEnd + unit + "tail");
        }
      }
    }
  }

  // Strings built from the pieces above, with plain runs of every length
  // around the 8-, 16- and 64-byte steps of the search.
  const std::string pieces[] = {
      "a",        "\\n",     "\\u00e9",      "\\ud83d\\ude80",
      "\\ud83d",  "\\udc00", "\\",           "\\u",
      "\"",       "\x01",    "\xc3\xa9",     "\xe2\x82\xac",
      "\xc3",     "\x80",    "\xed\xa0\x80", "\xf0\x9f\x98\x80",
      "\xf4\x90",
  };
  std::mt19937 random(1);
  for (int round = 0; round < 20000; ++round) {
    std::string body;
    for (int n = random() % 8; n >= 0; --n) {
      body += std::string(random() % 3 == 0 ? random() % 130 : 0, 'p');
      body += pieces[random() % std::size(pieces)];
    }
    expectSameAsStockParser(body);
  }
}

}  // namespace
}  // namespace vesk

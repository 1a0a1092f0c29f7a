// The fields of an agent event that the hook reads, collected from
// Boost.JSON's streaming parser without building a document; shared by the
// hook's decoder and the tests that check its parser against Boost's own.
//
// Contract: EventFieldHandler receives the parser's events and keeps only
// what decodeHookEvent() needs. Its parser scans strings with the faster
// scan of json_string_scan.h, declared here so that every file that uses
// the parser uses the same one. decodeEventFields() is a pure function and
// may run on any thread.

#ifndef VESK_AGENT_BRIDGE_EVENT_FIELD_HANDLER_H_
#define VESK_AGENT_BRIDGE_EVENT_FIELD_HANDLER_H_

#include <boost/json/basic_parser_impl.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "hook_event.h"
#include "json_string_scan.h"
#include "json_text.h"

namespace vesk::event_fields {

namespace json = boost::json;

// The top-level keys the hook reads. Everything else in the event, tool
// input and output included, is checked for syntax and UTF-8 by the parser
// but never stored: an event of 1 MiB costs one pass and no copies.
enum Slot {
  kNone,
  kSessionId,
  kConversationId,
  kEventName,
  kToolName,
  kNotificationType,
  kCwd,
  kWorkspaceRoots,
  kCursorVersion,
  kSlotCount
};

constexpr std::string_view kSlotKeys[kSlotCount] = {"",
                                                    "session_id",
                                                    "conversation_id",
                                                    "hook_event_name",
                                                    "tool_name",
                                                    "notification_type",
                                                    "cwd",
                                                    "workspace_roots",
                                                    "cursor_version"};

// Receives the parser's events and keeps, for each key of interest at the
// top level, whether it was present, whether its value was a string and
// that string; for "workspace_roots" also whether it was an array of
// strings only and its first element. A repeated key counts as its last
// occurrence.
class EventFieldHandler {
 public:
  static constexpr std::size_t max_array_size = -1;
  static constexpr std::size_t max_object_size = -1;
  static constexpr std::size_t max_string_size = -1;
  static constexpr std::size_t max_key_size = -1;

  struct Field {
    bool present = false;
    bool isString = false;
    std::string text;
  };

  bool topLevelObject = false;
  Field fields[kSlotCount];
  bool rootsUsable = false;  // an array with at least one string, strings only
  std::string firstRoot;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) {
    if (depth_ == 0) topLevelObject = true;
    beginValue(false);
    ++depth_;
    return true;
  }
  bool on_object_end(std::size_t, json::error_code&) { return endContainer(); }
  bool on_array_begin(json::error_code&) {
    beginValue(false);
    if (depth_ == 1 && slot_ == kWorkspaceRoots) {
      inRoots_ = true;
      rootsUsable = true;
      rootCount_ = 0;
    }
    ++depth_;
    return true;
  }
  bool on_array_end(std::size_t, json::error_code&) {
    if (depth_ == 2 && inRoots_ && rootCount_ == 0) rootsUsable = false;
    return endContainer();
  }
  // Whether the text of the string that starts now is read: top-level
  // keys, and the values kept above.
  bool keepsText(bool isKey) {
    return isKey ? depth_ == 1 : textTarget() != nullptr;
  }

  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    if (depth_ == 1 && key_.size() < kLongestKey)
      key_.append(s.data(), s.size());
    return true;
  }
  bool on_key(json::string_view s, std::size_t n, json::error_code& ec) {
    if (depth_ != 1) return true;
    on_key_part(s, n, ec);
    slot_ = kNone;
    for (int i = 1; i < kSlotCount; ++i) {
      if (kSlotKeys[i] == key_) slot_ = static_cast<Slot>(i);
    }
    key_.clear();
    return true;
  }
  bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
    if (!inString_) {
      target_ = textTarget();
      beginValue(true);
      inString_ = true;
    }
    if (target_ != nullptr) target_->append(s.data(), s.size());
    return true;
  }
  bool on_string(json::string_view s, std::size_t n, json::error_code& ec) {
    on_string_part(s, n, ec);
    inString_ = false;
    return true;
  }
  bool on_number_part(json::string_view, json::error_code&) { return true; }
  bool on_int64(std::int64_t, json::string_view, json::error_code&) {
    return scalar();
  }
  bool on_uint64(std::uint64_t, json::string_view, json::error_code&) {
    return scalar();
  }
  bool on_double(double, json::string_view, json::error_code&) {
    return scalar();
  }
  bool on_bool(bool, json::error_code&) { return scalar(); }
  bool on_null(json::error_code&) { return scalar(); }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

 private:
  static constexpr std::size_t kLongestKey = 32;

  bool scalar() {
    beginValue(false);
    return true;
  }
  bool endContainer() {
    if (--depth_ == 1) inRoots_ = false;
    return true;
  }
  // Called once at the start of every value, before its depth is entered.
  void beginValue(bool isString) {
    if (depth_ == 1 && slot_ != kNone) {
      Field& field = fields[slot_];
      field.present = true;
      field.isString = isString;
      field.text.clear();
      if (slot_ == kWorkspaceRoots) {
        rootsUsable = false;
        firstRoot.clear();
      }
    } else if (depth_ == 2 && inRoots_) {
      if (!isString) rootsUsable = false;
      ++rootCount_;
    }
  }
  // Where the text of a string value that starts now goes, if anywhere.
  std::string* textTarget() {
    if (depth_ == 1 && slot_ != kNone && slot_ != kWorkspaceRoots &&
        slot_ != kCursorVersion)
      return &fields[slot_].text;
    if (depth_ == 2 && inRoots_ && rootCount_ == 0) return &firstRoot;
    return nullptr;
  }

  std::size_t depth_ = 0;
  Slot slot_ = kNone;
  std::string key_;
  bool inString_ = false;
  std::string* target_ = nullptr;
  bool inRoots_ = false;
  std::size_t rootCount_ = 0;
};

}  // namespace vesk::event_fields

VESK_JSON_FAST_STRINGS(vesk::event_fields::EventFieldHandler)

namespace vesk::event_fields {

// Decodes as decodeHookEvent() does, with Boost.JSON's parser for `Fields`:
// EventFieldHandler itself, or a type derived from it to get the parser as
// Boost ships it.
template <class Fields>
std::optional<HookEvent> decodeEventFields(std::string_view input,
                                           std::string_view agent,
                                           AgentState baseState) {
  json::basic_parser<Fields> parser(strictParseOptions());
  json::error_code ec;
  const std::size_t used =
      parser.write_some(false, input.data(), input.size(), ec);
  if (ec || !parser.done() || used != input.size()) return std::nullopt;
  Fields& found = parser.handler();
  if (!found.topLevelObject) return std::nullopt;
  // Cursor marks every event it sends with "cursor_version". With its
  // third-party option on, it also runs the entries in Claude Code's
  // settings, so a "Claude Code" run carrying that key is a Cursor event
  // that Cursor's own entries already report: recording it would show the
  // conversation a second time, as a Claude Code session.
  if (agent == "Claude Code" && found.fields[kCursorVersion].present)
    return std::nullopt;

  EventFieldHandler::Field& session = found.fields[kSessionId].present
                                          ? found.fields[kSessionId]
                                          : found.fields[kConversationId];
  if (!session.present || !session.isString) return std::nullopt;

  auto text = [&](Slot slot) {
    EventFieldHandler::Field& field = found.fields[slot];
    return field.isString ? std::move(field.text) : std::string();
  };
  HookEvent event;
  event.agent = std::string(agent);
  event.baseState = baseState;
  event.sessionId = std::move(session.text);
  event.eventName = text(kEventName);
  event.toolName = text(kToolName);
  event.notificationType = text(kNotificationType);
  // "cwd" wins whenever it is a string; otherwise the first of
  // "workspace_roots", provided the whole array is strings.
  if (found.fields[kCwd].isString) {
    event.projectName = lastPathComponent(found.fields[kCwd].text);
  } else if (found.fields[kWorkspaceRoots].present && found.rootsUsable) {
    event.projectName = lastPathComponent(found.firstRoot);
  }
  return event;
}

}  // namespace vesk::event_fields

#endif  // VESK_AGENT_BRIDGE_EVENT_FIELD_HANDLER_H_

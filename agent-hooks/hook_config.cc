#include "hook_config.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <boost/json/serialize.hpp>

namespace vesk {
namespace {

constexpr int kTimeoutSeconds = 10;

// How the file writes what we add: one member per line (with its line end
// and indentation step) or compact, and the spacing after ":" and ",".
struct Style {
  std::string newline;  // "\n" or "\r\n"; empty for a compact file
  std::string unit = "  ";
  std::string colon = ": ";
  std::string comma = ", ";  // between members of a compact container
};

// The white space that starts the line holding byte `pos`.
std::string lineIndent(std::string_view text, size_t pos) {
  size_t lineStart = text.rfind('\n', pos == 0 ? 0 : pos - 1);
  lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
  size_t end = lineStart;
  while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
  return std::string(text.substr(lineStart, end - lineStart));
}

Style styleOf(std::string_view text, const JsonNode& root) {
  Style style;
  std::string_view inside = text.substr(root.begin, root.end - root.begin);
  // An empty object gets one member per line, as the agents write it.
  if (inside.find('\n') != std::string_view::npos || root.children.empty()) {
    style.newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  }
  if (root.children.empty()) return style;
  const JsonNode& first = root.children.front();
  std::string indent = lineIndent(text, first.start);
  if (!style.newline.empty() && !indent.empty()) style.unit = indent;
  if (text[first.begin - 1] != ' ') style.colon = ":";
  if (root.children.size() > 1) {
    std::string_view gap = text.substr(first.end, root.children[1].start -
                                                      first.end);
    if (gap.find('\n') == std::string_view::npos) {
      style.comma = std::string(gap.substr(gap.find(',')));
    }
  } else if (style.colon == ":") {
    style.comma = ",";
  }
  return style;
}

// Writes one of our values (objects, arrays, strings, integers) in `style`,
// its first line at the current position and the rest indented by `indent`.
void format(const boost::json::value& value, const Style& style,
            const std::string& indent, std::string& out) {
  bool pretty = !style.newline.empty();
  std::string inner = indent + style.unit;
  auto separator = [&](bool first) {
    if (!first) out += pretty ? "," : style.comma;
    if (pretty) out += style.newline + inner;
  };
  if (value.is_object() && !value.get_object().empty()) {
    out += '{';
    bool first = true;
    for (const auto& member : value.get_object()) {
      separator(first);
      first = false;
      out += boost::json::serialize(boost::json::value(member.key()));
      out += style.colon;
      format(member.value(), style, inner, out);
    }
    out += pretty ? style.newline + indent + "}" : "}";
  } else if (value.is_array() && !value.get_array().empty()) {
    out += '[';
    bool first = true;
    for (const auto& element : value.get_array()) {
      separator(first);
      first = false;
      format(element, style, inner, out);
    }
    out += pretty ? style.newline + indent + "]" : "]";
  } else {
    out += boost::json::serialize(value);  // strings, integers, {} and []
  }
}

// A member or element to add to a container: `key` is empty for arrays.
struct Child {
  std::string key;
  boost::json::value value;
};

// Byte edits on the original text, applied together at the end.
class Editor {
 public:
  Editor(std::string_view text, Style style)
      : text_(text), style_(std::move(style)) {}

  bool empty() const { return edits_.empty(); }

  // Takes out the children of `node` marked in `removed` and appends
  // `added` after the last child kept. When nothing is kept and nothing is
  // added, the node itself is left for the caller to remove (returns
  // false); `keepEmpty` instead leaves "{}" or "[]".
  bool change(const JsonNode& node, const std::vector<bool>& removed,
              const std::vector<Child>& added, bool keepEmpty = false) {
    const std::vector<JsonNode>& children = node.children;
    size_t kept = std::count(removed.begin(), removed.end(), false);
    if (kept == 0) {
      if (added.empty() && !keepEmpty && !children.empty()) return false;
      // Empty, or only stale entries of ours: its inside is written afresh.
      if (!added.empty()) {
        appendToEmpty(node, added);
      } else if (!children.empty()) {
        replace(node.begin + 1, node.end - 1, "");
      }
      return true;
    }
    size_t last = children.size() - 1;
    while (removed[last]) --last;
    for (size_t i = 0; i < last; ++i) {
      if (removed[i]) replace(children[i].start, children[i + 1].start, "");
    }
    std::string tail;
    if (!added.empty()) {
      std::string separator = gapBefore(node, children.size() - 1);
      std::string indent = lineIndent(text_, children.back().start);
      Style style = style_;
      if (separator.find('\n') == std::string::npos) style.newline.clear();
      for (const Child& child : added) {
        tail += "," + separator + childText(child, style, indent);
      }
    }
    if (last != children.size() - 1 || !tail.empty()) {
      replace(children[last].end, children.back().end, tail);
    }
    return true;
  }

  // Puts `child` before the first child of the non-empty object `node`.
  void prepend(const JsonNode& node, const Child& child) {
    std::string separator = gapBefore(node, 0);
    Style style = style_;
    if (separator.find('\n') == std::string::npos) style.newline.clear();
    std::string indent = lineIndent(text_, node.children[0].start);
    replace(node.children[0].start, node.children[0].start,
            childText(child, style, indent) + "," + separator);
  }

  std::string apply() const {
    std::vector<Edit> edits = edits_;
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.from > b.from; });
    std::string out(text_);
    for (const Edit& edit : edits) {
      out.replace(edit.from, edit.to - edit.from, edit.text);
    }
    return out;
  }

 private:
  struct Edit {
    size_t from, to;
    std::string text;
  };

  void replace(size_t from, size_t to, std::string text) {
    edits_.push_back({from, to, std::move(text)});
  }

  // The white space that leads to child `i` after its "," or the opening
  // bracket; for the last child, that of its predecessor, as the pattern a
  // new last child follows.
  std::string gapBefore(const JsonNode& node, size_t i) const {
    size_t from = i == 0 ? node.begin + 1 : node.children[i - 1].end;
    std::string_view gap =
        text_.substr(from, node.children[i].start - from);
    if (i > 0) gap.remove_prefix(gap.find(',') + 1);
    return std::string(gap);
  }

  std::string childText(const Child& child, const Style& style,
                        const std::string& indent) const {
    std::string out;
    if (!child.key.empty()) {
      out = boost::json::serialize(boost::json::value(child.key)) + style.colon;
    }
    format(child.value, style, indent, out);
    return out;
  }

  void appendToEmpty(const JsonNode& node, const std::vector<Child>& added) {
    std::string indent = lineIndent(text_, node.start);
    bool pretty = !style_.newline.empty();
    std::string inner = indent + style_.unit;
    std::string out;
    for (size_t i = 0; i < added.size(); ++i) {
      if (i > 0) out += pretty ? "," : style_.comma;
      if (pretty) out += style_.newline + inner;
      out += childText(added[i], style_, inner);
    }
    if (pretty) out += style_.newline + indent;
    replace(node.begin + 1, node.end - 1, out);
  }

  std::string_view text_;
  Style style_;
  std::vector<Edit> edits_;
};

boost::json::object hookObject(Agent agent, std::string_view bridgePath,
                               const HookRow& row) {
  boost::json::object hook;
  if (agent == Agent::kClaudeCode) hook["type"] = "command";
  hook["command"] = bridgeCommand(bridgePath, agent, row.baseState);
  hook["timeout"] = kTimeoutSeconds;
  return hook;
}

// Claude Code entries sit in a matcher group; Cursor entries sit directly in
// the event's array.
boost::json::value eventEntry(Agent agent, std::string_view bridgePath,
                              const HookRow& row) {
  boost::json::object hook = hookObject(agent, bridgePath, row);
  if (agent == Agent::kCursor) return hook;
  boost::json::object group;
  if (!row.matcher.empty()) group["matcher"] = row.matcher;
  group["hooks"] = boost::json::array{std::move(hook)};
  return group;
}

bool isOurs(const boost::json::value& hook) {
  if (!hook.is_object()) return false;
  const boost::json::value* command = hook.get_object().if_contains("command");
  return command != nullptr && command->is_string() &&
         isBridgeCommand(command->get_string());
}

// The wanted rows of one event, each with a flag set once an existing entry
// has been kept for it.
struct Wanted {
  HookRow row;
  boost::json::object hook;
  bool satisfied = false;
};
using WantedEvents =
    std::vector<std::pair<std::string_view, std::vector<Wanted>>>;

// The index of `event` in `wanted`, or wanted.size() when it has no rows.
size_t eventIndex(const WantedEvents& wanted, std::string_view event) {
  size_t i = 0;
  while (i < wanted.size() && wanted[i].first != event) ++i;
  return i;
}

WantedEvents wantedEvents(Agent agent, std::span<const HookRow> rows,
                          std::string_view bridgePath) {
  WantedEvents wanted;
  if (bridgePath.empty()) return wanted;
  for (const HookRow& row : rows) {
    size_t i = eventIndex(wanted, row.event);
    if (i == wanted.size()) wanted.emplace_back(row.event, std::vector<Wanted>());
    wanted[i].second.push_back({row, hookObject(agent, bridgePath, row)});
  }
  return wanted;
}

// Marks the first unsatisfied wanted row equal to `hook` under `matcher` as
// kept; false when none is left for it.
bool claim(std::vector<Wanted>& wanted, std::string_view matcher,
           const boost::json::value& hook) {
  for (Wanted& w : wanted) {
    if (!w.satisfied && w.row.matcher == matcher && w.hook == hook) {
      w.satisfied = true;
      return true;
    }
  }
  return false;
}

// Marks our hooks in `list` (the parsed `values`) that no wanted row claims.
std::vector<bool> staleHooks(const boost::json::array& values,
                             std::string_view matcher,
                             std::vector<Wanted>& wanted) {
  std::vector<bool> stale(values.size(), false);
  for (size_t i = 0; i < values.size(); ++i) {
    stale[i] = isOurs(values[i]) && !claim(wanted, matcher, values[i]);
  }
  return stale;
}

// Whether a member is the last of its name in `node`: the one readers see.
bool isLastOfItsName(const JsonNode& node, size_t i) {
  for (size_t j = i + 1; j < node.children.size(); ++j) {
    if (node.children[j].key == node.children[i].key) return false;
  }
  return true;
}

class HookEditor {
 public:
  HookEditor(std::string_view text, const JsonNode& root, Agent agent,
             std::string_view bridgePath, WantedEvents wanted)
      : text_(text), root_(root), agent_(agent), bridgePath_(bridgePath),
        wanted_(std::move(wanted)), editor_(text, styleOf(text, root)) {}

  std::string run() {
    const JsonNode* hooks = root_.member("hooks");
    std::vector<Child> newEvents;
    std::vector<bool> removedEvents(hooks ? hooks->children.size() : 0, false);
    std::vector<bool> seen(wanted_.size(), false);
    for (size_t i = 0; hooks && i < hooks->children.size(); ++i) {
      const JsonNode& event = hooks->children[i];
      if (!isLastOfItsName(*hooks, i)) continue;
      std::vector<Wanted> none;
      size_t k = eventIndex(wanted_, event.key);
      if (k < wanted_.size()) seen[k] = true;
      removedEvents[i] =
          !changeEvent(event, k < wanted_.size() ? wanted_[k].second : none);
    }
    for (size_t i = 0; i < wanted_.size(); ++i) {
      std::vector<Child> entries = missing(wanted_[i].second);
      if (seen[i] || entries.empty()) continue;
      boost::json::array list;
      for (Child& entry : entries) list.push_back(std::move(entry.value));
      newEvents.push_back({std::string(wanted_[i].first), std::move(list)});
    }
    bool adding = false;
    for (const auto& [event, rows] : wanted_) {
      for (const Wanted& w : rows) adding = adding || !w.satisfied;
    }
    // Cursor reads hooks only from a file that says "version": 1.
    bool needsVersion =
        adding && agent_ == Agent::kCursor && !root_.member("version");
    if (needsVersion && !root_.children.empty()) {
      editor_.prepend(root_, {"version", 1});
    }
    if (hooks != nullptr) {
      if (!editor_.change(*hooks, removedEvents, newEvents)) removeHooks();
    } else if (!newEvents.empty()) {
      boost::json::object all;
      for (Child& event : newEvents) all[event.key] = std::move(event.value);
      std::vector<Child> added;
      if (needsVersion && root_.children.empty()) added.push_back({"version", 1});
      added.push_back({"hooks", std::move(all)});
      editor_.change(root_, std::vector<bool>(root_.children.size()), added);
    }
    return editor_.empty() ? std::string(text_) : editor_.apply();
  }

 private:
  // The wanted rows no existing entry satisfied, as entries to append.
  std::vector<Child> missing(const std::vector<Wanted>& rows) const {
    std::vector<Child> entries;
    for (const Wanted& w : rows) {
      if (!w.satisfied) {
        entries.push_back({"", eventEntry(agent_, bridgePath_, w.row)});
      }
    }
    return entries;
  }

  // Brings one event's array in line; false when it is to be removed whole.
  bool changeEvent(const JsonNode& event, std::vector<Wanted>& rows) {
    boost::json::value parsed = nodeValue(text_, event);
    const boost::json::array& values = parsed.get_array();
    std::vector<bool> removed;
    if (agent_ == Agent::kCursor) {
      removed = staleHooks(values, {}, rows);
    } else {
      removed.assign(values.size(), false);
      for (size_t i = 0; i < values.size(); ++i) {
        removed[i] = !changeGroup(event.children[i], values[i], rows);
      }
    }
    return editor_.change(event, removed, missing(rows));
  }

  // Takes our stale hooks out of one Claude Code matcher group; false when
  // the group held only those and is to be removed whole.
  bool changeGroup(const JsonNode& group, const boost::json::value& value,
                   std::vector<Wanted>& rows) {
    const JsonNode* hooks = group.member("hooks");
    if (!value.is_object() || hooks == nullptr ||
        hooks->kind != JsonNode::kArray) {
      return true;
    }
    const boost::json::value* matcher = value.get_object().if_contains("matcher");
    std::string_view matcherText =
        matcher && matcher->is_string() ? std::string_view(matcher->get_string())
                                        : std::string_view();
    std::vector<bool> stale = staleHooks(
        value.get_object().at("hooks").get_array(), matcherText, rows);
    if (std::find(stale.begin(), stale.end(), true) == stale.end()) return true;
    return editor_.change(*hooks, stale, {});
  }

  // Takes the emptied "hooks" member out of the settings, and with it a
  // Cursor "version": 1 that has nothing left to describe.
  void removeHooks() {
    const JsonNode* version = root_.member("version");
    bool onlyVersionLeft =
        agent_ == Agent::kCursor && root_.children.size() == 2 &&
        version != nullptr && nodeValue(text_, *version) == boost::json::value(1);
    std::vector<bool> removed(root_.children.size(), false);
    for (size_t i = 0; i < root_.children.size(); ++i) {
      removed[i] = &root_.children[i] == root_.member("hooks") ||
                   (onlyVersionLeft && &root_.children[i] == version);
    }
    editor_.change(root_, removed, {}, /*keepEmpty=*/true);
  }

  std::string_view text_;
  const JsonNode& root_;
  Agent agent_;
  std::string_view bridgePath_;
  WantedEvents wanted_;
  Editor editor_;
};

// Refuses a "hooks" part the agent would not accept either.
bool checkShape(const JsonNode& root, std::string* error) {
  if (root.kind != JsonNode::kObject) {
    *error = "the file does not hold a JSON object";
    return false;
  }
  const JsonNode* hooks = root.member("hooks");
  if (hooks == nullptr) return true;
  if (hooks->kind != JsonNode::kObject) {
    *error = "\"hooks\" is not a JSON object";
    return false;
  }
  for (const JsonNode& event : hooks->children) {
    if (event.kind != JsonNode::kArray) {
      *error = "\"hooks\".\"" + event.key + "\" is not a JSON array";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> editHooks(std::string_view text,
                                     const JsonNode* root, Agent agent,
                                     std::span<const HookRow> rows,
                                     std::string_view bridgePath,
                                     std::string* error) {
  WantedEvents wanted = wantedEvents(agent, rows, bridgePath);
  if (root == nullptr) {
    if (wanted.empty()) return std::string(text);
    std::string empty = "{\n}";
    std::optional<JsonNode> layout = scanJson(empty, error);
    std::string made = HookEditor(empty, *layout, agent, bridgePath,
                                  std::move(wanted)).run();
    return made == empty ? std::string(text) : made + "\n";
  }
  if (!checkShape(*root, error)) return std::nullopt;
  return HookEditor(text, *root, agent, bridgePath, std::move(wanted)).run();
}

std::string hookTemplate(Agent agent, std::span<const HookRow> rows,
                         std::string_view bridgePath) {
  std::string error;
  return *editHooks("", nullptr, agent, rows, bridgePath, &error);
}

}  // namespace vesk

#include "json_layout.h"

#include <boost/json/parse.hpp>
#include <boost/json/stream_parser.hpp>

namespace vesk {
namespace {

// Line and column (both from 1) of byte `offset` in `text`.
std::string position(std::string_view text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Walks text that Boost.JSON has accepted, so it only has to find where
// things are, not whether they are well formed.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  JsonNode value() {
    skipSpace();
    JsonNode node;
    node.begin = node.start = pos_;
    char c = text_[pos_];
    if (c == '{' || c == '[') {
      node.kind = c == '{' ? JsonNode::kObject : JsonNode::kArray;
      container(node, c == '{' ? '}' : ']');
    } else if (c == '"') {
      skipString();
    } else {
      while (pos_ < text_.size() && !isDelimiter(text_[pos_])) ++pos_;
    }
    node.end = pos_;
    return node;
  }

 private:
  static bool isDelimiter(char c) {
    return c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' ||
           c == '\n' || c == '\r';
  }

  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  void skipString() {
    for (++pos_; text_[pos_] != '"'; ++pos_) {
      if (text_[pos_] == '\\') ++pos_;
    }
    ++pos_;
  }

  void container(JsonNode& node, char close) {
    ++pos_;
    skipSpace();
    while (text_[pos_] != close) {
      if (node.kind == JsonNode::kObject) {
        size_t keyBegin = pos_;
        skipString();
        std::string_view keyText = text_.substr(keyBegin, pos_ - keyBegin);
        skipSpace();
        ++pos_;  // ':'
        JsonNode member = value();
        member.start = keyBegin;
        boost::system::error_code ec;
        boost::json::value key = boost::json::parse(keyText, ec);
        if (!ec && key.is_string()) member.key = key.get_string();
        node.children.push_back(std::move(member));
      } else {
        node.children.push_back(value());
      }
      skipSpace();
      if (text_[pos_] == ',') ++pos_;
      skipSpace();
    }
    ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

const JsonNode* JsonNode::member(std::string_view name) const {
  const JsonNode* found = nullptr;
  for (const JsonNode& child : children) {
    if (child.key == name) found = &child;
  }
  return found;
}

std::optional<JsonNode> scanJson(std::string_view text, std::string* error) {
  boost::json::stream_parser parser;
  boost::system::error_code ec;
  size_t used = parser.write(text.data(), text.size(), ec);
  if (!ec) parser.finish(ec);
  if (ec) {
    bool comment = used + 1 < text.size() && text[used] == '/' &&
                   (text[used + 1] == '/' || text[used + 1] == '*');
    *error = position(text, used) + ": " +
             (comment ? "a comment, which JSON does not allow"
                      : ec.message());
    return std::nullopt;
  }
  return Scanner(text).value();
}

boost::json::value nodeValue(std::string_view text, const JsonNode& node) {
  boost::system::error_code ec;
  boost::json::value value =
      boost::json::parse(text.substr(node.begin, node.end - node.begin), ec);
  if (ec) return nullptr;
  return value;
}

}  // namespace vesk

#include "protocol.h"

namespace vesk {

std::optional<Request> parseRequest(std::string_view message) {
  if (message == kRenewSelector) return Request::kRenew;
  if (message == kReleaseSelector) return Request::kRelease;
  return std::nullopt;
}

std::string_view selectorFor(Request request) {
  return request == Request::kRenew ? kRenewSelector : kReleaseSelector;
}

char replyByte(bool answer) { return answer ? '\x01' : '\x00'; }

std::optional<bool> parseReply(std::string_view message) {
  if (message.size() != 1) return std::nullopt;
  if (message[0] == '\x01') return true;
  if (message[0] == '\x00') return false;
  return std::nullopt;
}

}  // namespace vesk

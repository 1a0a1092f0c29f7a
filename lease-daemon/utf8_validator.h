// Incremental UTF-8 validation: bytes may arrive in pieces split anywhere,
// also inside a character. Well-formed means exactly the Unicode definition
// (no overlong forms, no surrogates, nothing above U+10FFFF). Not
// thread-safe; one validator per byte stream.

#ifndef VESK_LEASE_DAEMON_UTF8_VALIDATOR_H_
#define VESK_LEASE_DAEMON_UTF8_VALIDATOR_H_

#include <string_view>

namespace vesk {

class Utf8Validator {
 public:
  // Takes the next piece of the stream; once a piece is malformed the whole
  // stream stays malformed.
  void feed(std::string_view bytes);
  // True when everything fed so far is well-formed and no character is left
  // unfinished.
  bool complete() const { return valid_ && pending_ == 0; }

 private:
  bool valid_ = true;
  // Continuation bytes still expected for the current character.
  int pending_ = 0;
  // The allowed range of the next continuation byte.
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_UTF8_VALIDATOR_H_

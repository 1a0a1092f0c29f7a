#include "utf8_validator.h"

namespace vesk {

// Well-formed byte sequences, after table 3-7 of the Unicode standard: the
// lead byte fixes the length and the range of the first continuation byte;
// later continuation bytes are 80..BF.
void Utf8Validator::feed(std::string_view bytes) {
  for (char c : bytes) {
    if (!valid_) return;
    auto b = static_cast<unsigned char>(c);
    if (pending_ > 0) {
      if (b < low_ || b > high_) {
        valid_ = false;
        return;
      }
      --pending_;
      low_ = 0x80;
      high_ = 0xBF;
      continue;
    }
    if (b <= 0x7F) continue;
    if (b >= 0xC2 && b <= 0xDF) {
      pending_ = 1;
    } else if (b == 0xE0) {
      pending_ = 2;
      low_ = 0xA0;
    } else if (b == 0xED) {
      pending_ = 2;
      high_ = 0x9F;
    } else if (b >= 0xE1 && b <= 0xEF) {
      pending_ = 2;
    } else if (b == 0xF0) {
      pending_ = 3;
      low_ = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      pending_ = 3;
    } else if (b == 0xF4) {
      pending_ = 3;
      high_ = 0x8F;
    } else {
      valid_ = false;
    }
  }
}

}  // namespace vesk

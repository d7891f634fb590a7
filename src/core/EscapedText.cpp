#include "core/EscapedText.h"

namespace {

// The length of the printable character that `text` begins with, 0 when it begins with a control
// character or a byte that starts no well-formed UTF-8 sequence.
size_t printableLength(std::string_view text) {
  const auto byte = [text](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(0);
  if (lead >= 0x20 && lead < 0x7f) return 1;
  // The second byte's range for each lead byte rules out overlong forms, surrogates, code points
  // past U+10FFFF and, after 0xc2, the C1 controls U+0080 to U+009F.
  size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;
  if (lead == 0xc2) length = 2, low = 0xa0;
  else if (lead > 0xc2 && lead <= 0xdf) length = 2;
  else if (lead == 0xe0) length = 3, low = 0xa0;
  else if (lead == 0xed) length = 3, high = 0x9f;
  else if (lead > 0xe0 && lead <= 0xef) length = 3;
  else if (lead == 0xf0) length = 4, low = 0x90;
  else if (lead > 0xf0 && lead < 0xf4) length = 4;
  else if (lead == 0xf4) length = 4, high = 0x8f;
  if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(k) < 0x80 || byte(k) > 0xbf) return 0;
  return length;
}

}  // namespace

std::string escapedText(std::string_view text) {
  static const char HEX[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    size_t length = printableLength(text);
    if (length > 0) {
      shown.append(text.substr(0, length));
    } else {
      const auto c = static_cast<unsigned char>(text.front());
      shown += "\\x";
      shown += HEX[c >> 4];
      shown += HEX[c & 15];
      length = 1;
    }
    text.remove_prefix(length);
  }
  return shown;
}

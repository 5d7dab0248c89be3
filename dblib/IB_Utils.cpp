#include "dblib/IB_Utils.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

}  // namespace

std::string BinaryToHexText(const void* Buffer, size_t Count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  std::string text(2 * Count, '0');
  for (size_t i = 0; i < Count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return text;
}

void HexTextToBinary(std::string_view Text, void* Buffer, size_t Count) {
  if (Text.size() < 2 * Count) throw Exception("Invalid text in HexTextToBinary");
  auto* bytes = static_cast<uint8_t*>(Buffer);
  for (size_t i = 0; i < Count; ++i) {
    const int hi = HexValue(Text[2 * i]);
    const int lo = HexValue(Text[2 * i + 1]);
    if (hi < 0 || lo < 0) throw Exception("Invalid text in HexTextToBinary");
    bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
}

std::string DateTimeToTimestampText(TDateTime Value) {
  if (!(Value > 0)) return FormatDateTime("yyyy/mm/dd hh:nn:ss", Value) + ".0000";
  uint16_t y, mo, d, h, mi, s, ms;
  DecodeDate(Value, y, mo, d);
  DecodeTime(Value, h, mi, s, ms);
  char text[64];
  std::snprintf(text, sizeof(text), "%.4u/%.2u/%.2u %.2u:%.2u:%.2u.%.3u0", unsigned(y), unsigned(mo), unsigned(d),
                unsigned(h), unsigned(mi), unsigned(s), unsigned(ms));
  return text;
}

TDateTime TimestampTextToDateTime(const std::string& Text) {
  if (Text == "12/30/1899 00:00") return 0;
  try {
    auto field = [&](size_t From, size_t Len) -> uint16_t {
      if (Text.size() < From - 1 + Len) throw EConvertError("short");
      return static_cast<uint16_t>(StrToInt(Text.substr(From - 1, Len)));
    };
    const TDateTime date = EncodeDate(field(1, 4), field(6, 2), field(9, 2));
    std::string fraction = Text.size() > 20 ? Trim(Text.substr(20, 4)) : std::string();
    fraction = (fraction + "0000").substr(0, 3);
    const TDateTime time = EncodeTime(field(12, 2), field(15, 2), field(18, 2), static_cast<uint16_t>(StrToInt(fraction)));
    return date >= 0 ? date + time : date - time;
  } catch (const Exception&) {
    return StrToDateTime(Text);
  }
}

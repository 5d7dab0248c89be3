// Small free-standing routines of the library: hexadecimal text of bytes and the library's fixed
// text form of a timestamp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Locale.h"

// 2 x Count upper-case hexadecimal digits, high nibble first.
std::string BinaryToHexText(const void* Buffer, size_t Count);
// Fills Count bytes from Text; raises Exception "Invalid text in HexTextToBinary" when Text is shorter
// than 2 x Count or holds a character that is not a hexadecimal digit.
void HexTextToBinary(std::string_view Text, void* Buffer, size_t Count);

// "yyyy/mm/dd hh:nn:ss.zzz0" for a value above 0; the same layout through the date-time formatter
// (with ".0000") otherwise.
std::string DateTimeToTimestampText(TDateTime Value);
// Reads that layout by fixed positions; "12/30/1899 00:00" gives 0; any other text the fixed reading
// fails on goes through the locale's date-time conversion (whose EConvertError passes).
TDateTime TimestampTextToDateTime(const std::string& Text);

// Helpers shared by the source files of the SQL text toolkit; not part of its interface.
#pragma once

#include <string>
#include <string_view>

namespace ib_parse {

// A character that continues a parameter name: letters, digits, '_', '$', '.', and bytes 128..255.
bool IsParamNameChar(char Ch);
// The next word (letters, digits, '_', '$') at P (0-based), upper-cased, after blanks and comments;
// empty when something else comes first. P ends behind the word.
std::string NextWord(std::string_view S, size_t& P);

}  // namespace ib_parse

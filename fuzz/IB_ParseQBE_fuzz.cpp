// Fuzz target of the query-by-example and filter translators: whatever is typed, the WHERE lines they write
// hold no second statement, no comment and no unbalanced quote or parenthesis; bad input is refused with
// the library's exceptions only.
//
// The first byte picks the translator, the column a search text is for (and its attributes) or the filter
// options, and the decimal separator; the rest is the typed text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dblib/sql/IB_ParseQBE.h"
#include "platform/Locale.h"

namespace {

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

// The text outside literals has no ';', no comment opener or closer, and quotes and parentheses balance.
void CheckSQL(const std::string& S, bool Parentheses) {
  char quote = 0;
  int depth = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    const char c = S[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    const char n = i + 1 < S.size() ? S[i + 1] : '\0';
    Check(c != ';' && !(c == '-' && n == '-') && !(c == '/' && n == '*') && !(c == '*' && n == '/'));
    if (c == '\'' || c == '"') quote = c;
    if (c == '(') ++depth;
    if (c == ')') Check(--depth >= 0 || !Parentheses);
  }
  Check(quote == 0 && (!Parentheses || depth == 0));
}

TIB_QBEColumn Column(int16_t Type, const char* Name, bool Text, bool Numeric, bool DateTime) {
  TIB_QBEColumn c;
  c.SQLType = Type;
  c.IsText = Text;
  c.IsNumeric = Numeric;
  c.IsDateTime = DateTime;
  c.Position = 3;
  c.SQLName = Name;
  c.FullName = std::string("T.") + Name;
  c.BestName = Name;
  return c;
}

const TIB_QBEColumn kColumns[] = {
    Column(449, "NAME", true, false, false), Column(496, "ID", false, true, false),
    Column(480, "DBL", false, true, false),  Column(570, "D", false, false, true),
    Column(510, "TS", false, false, true),   Column(560, "TM", false, false, true),
    Column(520, "MEMO", true, false, false), Column(32764, "B", false, false, false),
};
constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const uint8_t mode = Data[0];
  const std::string text(reinterpret_cast<const char*>(Data + 1), Size - 1);
  FormatSettings.DecimalSeparator = mode & 0x80 ? ',' : '.';
  TStringList lines, params;
  bool finished = false;
  try {
    if (mode & 1) {
      FilterToSQL(
          text, static_cast<TIB_FilterOptions>((mode >> 1) & 3),
          [](const std::string& Name) -> const TIB_QBEColumn* {
            for (const TIB_QBEColumn& c : kColumns)
              if (c.SQLName == Name) return &c;
            return nullptr;
          },
          lines);
    } else {
      TIB_QBEColumn c = kColumns[(mode >> 1) % kColumnCount];
      c.NoTrailing = mode & 0x10;
      c.YesLike = mode & 0x20;
      if (mode & 0x40) c.NoCase = "UPPER( T.NAME )";
      // The NOCASE text is upper-cased in the column's character set: UTF8, WIN1251 or NONE.
      if (c.IsText) c.CharSetId = mode & 0x08 ? 4 : mode & 0x10 ? 52 : 0;
      if (c.SQLType == 480 && (mode & 0x10)) c.RoundAttr = "CURR";
      if (mode & 0x20) c.SoundexColumn = "SX";
      TIB_QBEContext ctx;
      ctx.SoundExParse = [](const std::string& S) { return std::to_string(S.size()); };
      SearchBufferToSQL(c, text, lines, params, ctx);
    }
    finished = true;
  } catch (const Exception&) {
    // Refused input: the library's own exceptions (EIB_Error, EConvertError, the plain syntax messages).
  }
  std::string all;
  for (int i = 0; i < lines.Count(); ++i) {
    CheckSQL(lines[i], false);
    all += lines[i] + "\n";
  }
  // The lines before a refusal are kept; a finished translation balances as a whole.
  if (finished) CheckSQL(all, true);
  return 0;
}

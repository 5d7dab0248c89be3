// The extended edit mask of the edit controls, as the columns use it to lay out and read back the text of
// a masked value.
//
// A mask text may carry a six-character kind tag in front: "::NO::" no mask, "::SM::" standard mask,
// "::SL::" list of standard masks, "::EM::" extended mask, "::EL::" list of extended masks, "::NM::"
// numeric mask. A text without a tag is a standard mask in the classic edit-mask language:
//   !        optional positions are filled from the right (leading blanks)
//   > <      what follows is turned to upper / lower case; "<>" ends the conversion
//   \        the next character is a literal
//   L l      letter (required / optional)      A a   letter or digit
//   C c      any character                     0 9   digit           #  digit or sign
//   : /      the locale's time / date separator
//   _        a literal blank
// followed by up to two ';'-separated fields: "0" not to keep literals in the text (anything else keeps
// them), and the blank character shown for unfilled positions. In this mask object "," and "." also stand
// for the locale's thousand and decimal separators.
//
// A numeric mask uses the same characters; its text is a number whose digits are aligned on the decimal
// point. The list kinds keep their masks but choose none (list index -1), and the extended kinds keep
// their text: none of these three has positions, so a column treats them as inactive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum TMaskEnhKind : int {
  mkNone = 0,
  mkStandard = 1,
  mkStandardList = 2,
  mkExtended = 3,
  mkExtendedList = 4,
  mkNumeric = 5,
};

// Owned by the column that created it; copies are independent.
class TMaskEnh {
public:
  // No mask, blank character '_', unfilled positions shown as blanks, literals saved, list index -1.
  TMaskEnh();

  // Parses a mask text, tagged or not (see above). An empty text means no mask; an unknown tag is no
  // error: the whole text is then a mask of the kind already set (a standard mask when none is).
  void SetMaskText(std::string_view Text);
  int GetMaskKind() const noexcept { return FKind; }

  // Empties every input position, sets every literal position to its character (the locale's
  // separators for "," "." "/" ":") and puts the cursor on the first position.
  void Clear();

  // The current text as BuildText gives it: literals as the save-literals flag says, unfilled positions
  // as the blank-showing flag says.
  std::string GetText() const;
  // Loads Text into the input positions: with saved literals Text holds the literal positions too,
  // otherwise only the entered characters. Blanks and the blank character leave a position unfilled.
  void SetText(std::string_view Text);

  // Builds a text from the positions: the entered characters, the literal positions only WithLiterals
  // (a numeric mask's decimal point always), unfilled positions as blanks or as the blank character.
  // A numeric value that did not fit the mask comes back as it was given, so that nothing is hidden.
  // Flag has no effect on the text; callers pass false.
  void BuildText(bool WithLiterals, bool BlanksForUnfilled, std::string& Text, bool Flag = false) const;

  int GetPositionCount() const noexcept { return static_cast<int>(FPositions.size()); }
  char GetBlankChar() const noexcept { return FBlankChar; }
  bool GetShowBlanks() const noexcept { return FShowBlanks; }
  void SetShowBlanks(bool Value) { FShowBlanks = Value; }
  bool GetSaveLiterals() const noexcept { return FSaveLiterals; }
  int GetListIndex() const noexcept { return FListIndex; }
  int GetCursor() const noexcept { return FCursor; }
  // The mask text after the tag; for the list kinds, its masks.
  const std::string& GetMask() const noexcept { return FMask; }
  const std::vector<std::string>& GetMaskList() const noexcept { return FMaskList; }

private:
  friend std::string FormatMaskText(std::string_view EditMask, std::string_view Value);

  enum TCaseMode : char { cmNone, cmUpper, cmLower };
  struct TPosition {
    bool Literal = false;
    bool Localized = false;  // a separator taken from the locale
    char MaskChar = 0;       // the mask character (input) or the literal's own character
    TCaseMode CaseMode = cmNone;
    char Value = 0;  // entered or shown character; 0 while an input position is unfilled
  };

  void ParseStandard(std::string_view Mask, bool LocalizeNumberSeparators);
  void SetStandardText(std::string_view Text);
  void SetNumericText(std::string_view Text);

  int FKind = mkNone;
  std::string FMask;
  std::vector<std::string> FMaskList;
  std::vector<TPosition> FPositions;
  char FBlankChar = '_';
  bool FShowBlanks = true;
  bool FSaveLiterals = true;
  bool FReverse = false;
  int FListIndex = -1;
  int FCursor = 0;
  int FDecimalPoint = -1;  // position of a numeric mask's decimal point, -1 when it has none
  bool FOverflow = false;  // a numeric text that did not fit; FOverflowText is shown instead
  std::string FOverflowText;
};

// The edit controls' standard mask formatting: Value laid out by a mask in the classic edit-mask
// language, literals in place and unfilled positions as blanks. With the save-literals field "0", Value
// holds only the entered characters. An empty mask returns Value unchanged.
std::string FormatMaskText(std::string_view EditMask, std::string_view Value);

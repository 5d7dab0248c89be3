#include "dblib/data/IB_MaskEnh.h"

#include <cctype>

#include "platform/Locale.h"
#include "platform/SysUtils.h"

namespace {

struct TKindTag {
  const char* Tag;
  int Kind;
};
const TKindTag KindTags[] = {
    {"::NO::", mkNone},     {"::SM::", mkStandard},     {"::SL::", mkStandardList},
    {"::EM::", mkExtended}, {"::EL::", mkExtendedList}, {"::NM::", mkNumeric},
};

bool IsInputChar(char C) {
  switch (C) {
    case 'L':
    case 'l':
    case 'A':
    case 'a':
    case 'C':
    case 'c':
    case '0':
    case '9':
    case '#': return true;
    default: return false;
  }
}

char LocaleSeparator(char MaskChar) {
  switch (MaskChar) {
    case ',': return FormatSettings.ThousandSeparator;
    case '.': return FormatSettings.DecimalSeparator;
    case '/': return FormatSettings.DateSeparator;
    case ':': return FormatSettings.TimeSeparator;
    default: return MaskChar;
  }
}

// Splits Text at every Separator that no '\' escapes; the parts keep their escapes.
std::vector<std::string> SplitUnescaped(std::string_view Text, char Separator, size_t MaxParts) {
  std::vector<std::string> Parts(1);
  for (size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '\\' && I + 1 < Text.size()) {
      Parts.back() += C;
      Parts.back() += Text[++I];
    } else if (C == Separator && Parts.size() < MaxParts) {
      Parts.emplace_back();
    } else {
      Parts.back() += C;
    }
  }
  return Parts;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

}  // namespace

TMaskEnh::TMaskEnh() = default;

void TMaskEnh::SetMaskText(std::string_view Text) {
  int Kind = FKind;
  std::string_view Body = Text;
  bool Tagged = false;
  if (Text.size() >= 6) {
    for (const TKindTag& T : KindTags) {
      if (Text.substr(0, 6) == T.Tag) {
        Kind = T.Kind;
        Body = Text.substr(6);
        Tagged = true;
        break;
      }
    }
  }
  if (Text.empty()) {
    Kind = mkNone;
  } else if (!Tagged && Kind == mkNone) {
    Kind = mkStandard;
  }

  FKind = Kind;
  FMask = Kind == mkNone ? std::string() : std::string(Body);
  FMaskList.clear();
  FPositions.clear();
  FBlankChar = '_';
  FSaveLiterals = true;
  FReverse = false;
  FListIndex = -1;
  FDecimalPoint = -1;
  switch (Kind) {
    case mkStandard:
    case mkNumeric: ParseStandard(FMask, true); break;
    case mkStandardList:
    case mkExtendedList:
      if (!FMask.empty()) FMaskList = SplitUnescaped(FMask, ',', FMask.size() + 1);
      break;
    default: break;
  }
  Clear();
}

void TMaskEnh::ParseStandard(std::string_view Mask, bool LocalizeNumberSeparators) {
  const std::vector<std::string> Fields = SplitUnescaped(Mask, ';', 3);
  if (Fields.size() > 1 && !Fields[1].empty()) FSaveLiterals = Fields[1] != "0";
  if (Fields.size() > 2 && !Fields[2].empty()) FBlankChar = Fields[2][0];

  const std::string& M = Fields[0];
  TCaseMode CaseMode = cmNone;
  for (size_t I = 0; I < M.size(); ++I) {
    const char C = M[I];
    TPosition P;
    switch (C) {
      case '!': FReverse = true; continue;
      case '>':
      case '<':
        if (I + 1 < M.size() && M[I + 1] == (C == '>' ? '<' : '>')) {
          CaseMode = cmNone;
          ++I;
        } else {
          CaseMode = C == '>' ? cmUpper : cmLower;
        }
        continue;
      case '\\':
        if (I + 1 >= M.size()) continue;  // a lone escape at the end stands for nothing
        P.Literal = true;
        P.MaskChar = M[++I];
        break;
      case '_':
        P.Literal = true;
        P.MaskChar = ' ';
        break;
      case ':':
      case '/':
        P.Literal = true;
        P.Localized = true;
        P.MaskChar = C;
        break;
      case ',':
      case '.':
        P.Literal = true;
        P.Localized = LocalizeNumberSeparators;
        P.MaskChar = C;
        if (C == '.' && LocalizeNumberSeparators && FKind == mkNumeric && FDecimalPoint < 0)
          FDecimalPoint = static_cast<int>(FPositions.size());
        break;
      default:
        P.Literal = !IsInputChar(C);
        P.MaskChar = C;
        P.CaseMode = CaseMode;
        break;
    }
    FPositions.push_back(P);
  }
}

void TMaskEnh::Clear() {
  for (TPosition& P : FPositions) P.Value = P.Literal ? (P.Localized ? LocaleSeparator(P.MaskChar) : P.MaskChar) : 0;
  FCursor = 0;
  FOverflow = false;
  FOverflowText.clear();
}

std::string TMaskEnh::GetText() const {
  std::string Text;
  BuildText(FSaveLiterals, FShowBlanks, Text, false);
  return Text;
}

void TMaskEnh::SetText(std::string_view Text) {
  Clear();
  if (FKind == mkNumeric)
    SetNumericText(Text);
  else
    SetStandardText(Text);
}

void TMaskEnh::SetStandardText(std::string_view Text) {
  // The slots that Text maps onto, one character each.
  std::vector<size_t> Slots;
  for (size_t I = 0; I < FPositions.size(); ++I)
    if (FSaveLiterals || !FPositions[I].Literal) Slots.push_back(I);
  size_t Offset = 0;
  if (FReverse && Text.size() < Slots.size()) Offset = Slots.size() - Text.size();
  for (size_t K = 0; K < Text.size() && Offset + K < Slots.size(); ++K) {
    TPosition& P = FPositions[Slots[Offset + K]];
    if (P.Literal) continue;
    const char C = Text[K];
    if (C == ' ' || C == FBlankChar) continue;
    const auto U = static_cast<unsigned char>(C);
    P.Value = P.CaseMode == cmUpper   ? static_cast<char>(std::toupper(U))
              : P.CaseMode == cmLower ? static_cast<char>(std::tolower(U))
                                      : C;
  }
}

void TMaskEnh::SetNumericText(std::string_view Text) {
  const std::string Trimmed = Trim(Text);
  if (Trimmed.empty()) return;
  auto Overflow = [&] {
    Clear();
    FOverflow = true;
    FOverflowText = std::string(Text);
  };

  // Sign, whole digits (thousand separators skipped), decimal separator, fraction digits.
  size_t I = 0;
  bool Negative = false;
  if (Trimmed[0] == '-' || Trimmed[0] == '+') {
    Negative = Trimmed[0] == '-';
    ++I;
  }
  std::string Whole, Fraction;
  bool InFraction = false;
  for (; I < Trimmed.size(); ++I) {
    const char C = Trimmed[I];
    if (IsDigit(C)) {
      (InFraction ? Fraction : Whole) += C;
    } else if (!InFraction && C == FormatSettings.ThousandSeparator && !Whole.empty() &&
               C != FormatSettings.DecimalSeparator) {
      continue;
    } else if (!InFraction && (C == FormatSettings.DecimalSeparator || C == '.')) {
      InFraction = true;
    } else {
      return Overflow();  // not a number: shown as given
    }
  }
  if (Whole.empty() && Fraction.empty()) return Overflow();
  while (Whole.size() > 1 && Whole[0] == '0') Whole.erase(0, 1);
  while (!Fraction.empty() && Fraction.back() == '0') Fraction.pop_back();

  const size_t Point = FDecimalPoint < 0 ? FPositions.size() : static_cast<size_t>(FDecimalPoint);
  std::vector<size_t> WholeSlots, FractionSlots;
  for (size_t K = 0; K < FPositions.size(); ++K)
    if (!FPositions[K].Literal) (K < Point ? WholeSlots : FractionSlots).push_back(K);
  if (Whole.size() > WholeSlots.size() || Fraction.size() > FractionSlots.size()) return Overflow();

  for (size_t K = 0; K < Whole.size(); ++K)
    FPositions[WholeSlots[WholeSlots.size() - Whole.size() + K]].Value = Whole[K];
  for (size_t K = 0; K < Fraction.size(); ++K) FPositions[FractionSlots[K]].Value = Fraction[K];
  // Required digits show as zeros.
  for (TPosition& P : FPositions)
    if (!P.Literal && P.MaskChar == '0' && P.Value == 0) P.Value = '0';
  size_t First = Point;  // leftmost filled whole position
  for (size_t K : WholeSlots)
    if (FPositions[K].Value != 0) {
      First = K;
      break;
    }
  if (Negative) {
    size_t Sign = FPositions.size();
    for (size_t K : WholeSlots)
      if (K < First) Sign = K;
    if (Sign == FPositions.size()) return Overflow();
    FPositions[Sign].Value = '-';
    First = Sign;
  }
  // Group separators in front of the number show as unfilled.
  for (size_t K = 0; K < First && K < Point; ++K)
    if (FPositions[K].Literal && FPositions[K].Localized && FPositions[K].MaskChar == ',') FPositions[K].Value = 0;
}

void TMaskEnh::BuildText(bool WithLiterals, bool BlanksForUnfilled, std::string& Text, bool /*Flag*/) const {
  if (FOverflow) {
    Text = FOverflowText;
    return;
  }
  const char Unfilled = BlanksForUnfilled ? ' ' : FBlankChar;
  Text.clear();
  for (size_t I = 0; I < FPositions.size(); ++I) {
    const TPosition& P = FPositions[I];
    if (P.Literal && !WithLiterals && !(FKind == mkNumeric && static_cast<int>(I) == FDecimalPoint)) continue;
    Text += P.Value != 0 ? P.Value : Unfilled;
  }
}

std::string FormatMaskText(std::string_view EditMask, std::string_view Value) {
  if (EditMask.empty()) return std::string(Value);
  TMaskEnh Mask;
  Mask.FKind = mkStandard;
  Mask.FMask = std::string(EditMask);
  // The classic formatting knows only the date and time separators of the locale.
  Mask.ParseStandard(EditMask, false);
  Mask.SetText(Value);
  std::string Text;
  Mask.BuildText(true, true, Text, false);
  return Text;
}

// TIB_Column: the typed view of one XSQLVAR of a row. The base class holds what does not depend on the
// SQL type (null state, old values, the change protocol, names, attributes, display settings, masks)
// and gives every typed getter and setter a text-based default; the typed column classes override the
// pairs their storage makes exact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "dblib/IB_Alive.h"
#include "dblib/IB_Header.h"
#include "dblib/data/IB_RowStatement.h"
#include "platform/Classes.h"
#include "platform/Locale.h"
#include "platform/Variants.h"

class TIB_Row;
class TMaskEnh;

// The two numbered notifications that the column base reserves (as 16-bit codes, -1 and -2). The base
// takes neither: it raises "Not implemented at this level"; a column class may answer them.
inline constexpr int32_t cnColumnReserved1 = 65535;
inline constexpr int32_t cnColumnReserved2 = 65534;

using TIB_ColumnEvent = std::function<void(TIB_Column* Column)>;
using TIB_ColumnTextEvent = std::function<void(TIB_Column* Column, std::string& Text)>;

// A column lives as long as its row's description: TIB_Row::AllocateXSQLDA destroys and recreates all
// columns, so a pointer to a column must not be kept across a re-prepare.
class TIB_Column : public TObject {
public:
  TIB_Column(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);
  ~TIB_Column() override;

  TIB_Row* GetRow() const noexcept { return FRow; }
  int16_t GetFieldNo() const noexcept { return FFieldNo; }
  XSQLVAR* GetPSQLVAR() const noexcept { return FPSQLVAR; }
  TIB_RowStatement* GetStatement() const;

  // Type.
  int16_t GetSQLType() const noexcept { return FPSQLVAR->sqltype; }
  int16_t GetSQLScale() const noexcept { return FPSQLVAR->sqlscale; }
  int16_t GetSQLSubType() const noexcept { return FPSQLVAR->sqlsubtype; }
  int16_t GetSQLLen() const noexcept { return FPSQLVAR->sqllen; }
  bool GetIsNullable() const noexcept { return (FPSQLVAR->sqltype & 1) != 0; }
  // Bytes of the value in the record buffers: sqllen, plus the length word of a VARCHAR.
  size_t DataSize() const noexcept {
    const size_t len = FPSQLVAR->sqllen > 0 ? static_cast<size_t>(FPSQLVAR->sqllen) : 0;
    return IsVarChar() ? len + 2 : len;
  }

  // Names.
  std::string GetSQLName() const;
  std::string GetRelName() const;
  std::string GetColumnName() const;
  std::string GetFullName() const;
  std::string GetBestName() const;
  std::string GetDomainName();
  const std::string& GetUniqueName() const noexcept { return FUniqueName; }
  const std::string& GetShortName() const noexcept { return FShortName; }

  bool GetNoSourceField() const;
  bool GetComputed();
  bool GetIsDefaulted();
  // A fields-row column that is an IDENTITY column of its relation (asked of the schema cache for NOT
  // NULL whole-number columns only).
  bool GetIsIdentity();
  bool GetNoTime() const noexcept { return !FDateOnlyFormat.empty(); }
  bool GetNoDate() const noexcept { return !FTimeOnlyFormat.empty(); }
  bool GetRequired();
  bool GetReadOnly();
  bool GetPreventChange();

  // Null state.
  bool GetIsNull() const noexcept { return IndAt(FReadingOld ? FOldSlot : FSlot) == -1; }
  bool GetOldIsNull() const noexcept { return OldNullInd() == -1; }
  void SetNull(bool Value);

  // Virtual operations, in the order the column classes override them.
  virtual int64_t GetBlobSize();
  virtual bool GetIsLoaded();
  virtual bool GetIsModified();
  virtual std::string GetOldAsString();
  virtual Variant GetOldAsVariant();
  virtual std::string GetAsString() = 0;
  virtual std::string GetAsXml();
  virtual std::u16string GetAsRawText();
  virtual TDateTime GetAsDate();
  virtual TDateTime GetAsDateTime();
  virtual std::string GetAsTimestampText();
  virtual int32_t GetAsInteger();
  virtual double GetAsFloat();
  virtual int16_t GetAsSmallint();
  virtual double GetAsDouble();
  virtual Currency GetAsCurrency();
  virtual int64_t GetAsComp();
  virtual long double GetAsExtended();
  virtual Variant GetAsVariant();
  virtual void SetAsString(const std::string& Value) = 0;
  virtual void SetAsRawText(const std::u16string& Value);
  virtual void SetAsDate(TDateTime Value);
  virtual void SetAsDateTime(TDateTime Value);
  virtual void SetAsTimestampText(const std::string& Value);
  virtual void SetAsInteger(int32_t Value);
  virtual void SetAsFloat(double Value);
  virtual void SetAsSmallint(int16_t Value);
  virtual void SetAsDouble(double Value);
  virtual void SetAsCurrency(Currency Value);
  virtual void SetAsComp(int64_t Value);
  virtual void SetAsExtended(long double Value);
  virtual void SetAsVariant(const Variant& Value);
  virtual std::string GetSQLTypeSource();
  virtual std::string GetDisplayText();
  virtual int GetDefaultWidth();
  virtual bool GetIsChanged();
  virtual void SetIsNull(bool Value);
  virtual void Clear();
  virtual void Assign(TObject* Source);
  virtual void AssignTo(TObject* Dest);
  virtual void SetFromBuffer(const void* Buffer, int Count);
  // Takes a numbered notification: the base raises Exception "Not implemented at this level" for the
  // two codes it reserves (cnColumnReserved1, cnColumnReserved2) and ignores every other code.
  virtual void Perform(int32_t Code);

  // Further typed access through the text.
  bool GetAsBoolean();
  void SetAsBoolean(bool Value);
  int64_t GetAsInt64();
  void SetAsInt64(int64_t Value);
  // The true and false texts in use (defaults by kind when neither is set).
  std::string GetTrueText() const;
  std::string GetFalseText() const;

  // Raw bytes of the value.
  std::string GetColData() const;
  void SetColData(const std::string& Bytes);
  // Puts the old value back (a no-op when the value is not modified).
  virtual void Revert();
  static void ApplyTrimming(std::string& Text, int Kind);

  // Display.
  std::string GetDisplayLabel() const;
  std::string GetGridLabel() const;
  int GetDisplayWidth();
  void SetDisplayWidth(int Value);
  int GetIndex() const;
  void SetIndex(int Value);
  int GetOrderingItemNo();
  // Forgets the cached ordering position: the next GetOrderingItemNo asks the statement again.
  void ResetOrderingItemNo() noexcept { FOrderingItemNo = -999; }
  bool IsValidChar(char Ch) const;
  void FocusColumn();

  // Edit masks.
  void SetEditMask(const std::string& Value);
  std::string GetEditMask();
  bool GetMaskActive();
  std::string GetEmptyMaskText();
  std::string FormatMaskedText(const std::string& Value);
  TMaskEnh* GetMaskEnh() const noexcept { return FMaskEnh.get(); }

  // The change protocol that every typed setter runs inside.
  void BeforeModify();
  // Asked by the setters that read a text before they store it: a write the statement refuses (a dataset
  // in search mode) is refused before the text is read.
  void CheckWrite();
  void AfterModify();

  // Attributes.
  bool HasAttribute(const std::string& Name);
  std::string GetAttributeParam(const std::string& Name, bool& Found);
  void InitDateTimeFormats();

  // XML text of the value.
  std::string GetXmlName() const;

  // Settings (the statement's Fields lists apply most of them).
  uint8_t GetAlignment() const noexcept { return FAlignment; }
  void SetAlignment(uint8_t Value) { FAlignment = Value; }
  // The alignment the column's type gives (right for numbers, centred for booleans, else left).
  void ResetAlignment();
  uint8_t GetCharCase() const noexcept { return FCharCase; }
  void SetCharCase(uint8_t Value) { FCharCase = Value; }
  const std::string& GetRawEditMask() const noexcept { return FEditMask; }
  const std::string& GetDisplayFormat() const noexcept { return FDisplayFormat; }
  void SetDisplayFormat(const std::string& Value) { FDisplayFormat = Value; }
  const std::string& GetRawDisplayLabel() const noexcept { return FDisplayLabel; }
  void SetDisplayLabel(const std::string& Value) { FDisplayLabel = Value; }
  const std::string& GetRawGridLabel() const noexcept { return FGridLabel; }
  void SetGridLabel(const std::string& Value) { FGridLabel = Value; }
  int32_t GetDisplayWidthSetting() const noexcept { return FDisplayWidthSetting; }
  void SetDisplayWidthSetting(int32_t Value) { FDisplayWidthSetting = Value; }
  uint8_t GetTrimming() const noexcept { return FTrimming; }
  void SetTrimming(uint8_t Value) { FTrimming = Value; }
  bool GetVisible() const noexcept { return FVisible; }
  void SetVisible(bool Value) { FVisible = Value; }
  bool GetOwnReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool GetSelectDerived() const noexcept { return FSelectDerived; }
  void SetSelectDerived(bool Value) { FSelectDerived = Value; }
  void SetPreventChange(bool Value) { FPreventChange = Value; }
  bool GetPreventEditing() const noexcept { return FPreventEditing; }
  void SetPreventEditing(bool Value) { FPreventEditing = Value; }
  bool GetPreventInserting() const noexcept { return FPreventInserting; }
  void SetPreventInserting(bool Value) { FPreventInserting = Value; }
  bool GetPreventSearching() const noexcept { return FPreventSearching; }
  void SetPreventSearching(bool Value) { FPreventSearching = Value; }
  bool GetBlankIsNull() const noexcept { return FBlankIsNull; }
  void SetBlankIsNull(bool Value) { FBlankIsNull = Value; }
  bool GetIsBoolean() const noexcept { return FIsBoolean; }
  bool GetIsTextKind() const noexcept { return FIsTextKind; }
  bool GetIsNumericKind() const noexcept { return FIsNumericKind; }
  bool GetIsDateTimeKind() const noexcept { return FIsDateTimeKind; }
  bool GetIsBlobKind() const noexcept { return FIsBlobKind; }
  bool GetIsArrayKind() const noexcept { return FIsArrayKind; }
  bool GetCurrencyDisplay() const noexcept { return FCurrencyDisplay; }
  uint8_t GetPadChar() const noexcept { return FPadChar; }
  const std::string& GetDateOnlyFormat() const noexcept { return FDateOnlyFormat; }
  const std::string& GetTimeOnlyFormat() const noexcept { return FTimeOnlyFormat; }
  const std::string& GetUpperExpression() const noexcept { return FUpperExpression; }

  TIB_ColumnEvent OnBeforeModify;
  TIB_ColumnEvent OnAfterModify;
  TIB_ColumnEvent OnValidate;
  TIB_ColumnTextEvent OnGetText;
  TIB_ColumnTextEvent OnSetText;

  // The column's liveness token (see IB_Alive.h).
  const TIB_AliveFlag& GetAlive() const noexcept { return FAlive; }

protected:
  // The column's liveness token, cleared by its destructor: a handler may destroy the column's row or
  // describe it again.
  TIB_AliveFlag FAlive;

  // OnGetText and OnSetText through the guarded call out: a handler that destroys the column (its
  // dataset, its row) ends the getter or setter with the silent abort.
  void DoGetText(std::string& Text) {
    if (OnGetText) IB_CallOut(FAlive, OnGetText, this, Text);
  }
  void DoSetText(std::string& Text) {
    if (OnSetText) IB_CallOut(FAlive, OnSetText, this, Text);
  }

  // Value access for the column classes. Data() is the current value's bytes (the old value's while
  // an old-value reader runs); all access goes through memcpy, as positions in the record are unaligned.
  uint8_t* Data() const noexcept {
    uint8_t* slot = FReadingOld ? FOldSlot : FSlot;
    return slot ? slot + 2 : nullptr;
  }
  uint8_t* OldData() const noexcept {
    TakeOldValues();
    return FOldSlot ? FOldSlot + 2 : nullptr;
  }
  int16_t NullInd() const noexcept { return IndAt(FReadingOld ? FOldSlot : FSlot); }
  // The writers of the current value below leave taking the old record's copy to their callers
  // (SetIsNull, which every setter calls before it writes, SetColData, the row's clear).
  void SetNullInd(int16_t Value);
  int16_t OldNullInd() const noexcept {
    TakeOldValues();
    return IndAt(FOldSlot);
  }
  // A VARCHAR's stored length, never above sqllen (0 when null).
  uint16_t GetVarLength() const;
  void SetVarLength(uint16_t Value);
  bool IsVarChar() const noexcept { return (FPSQLVAR->sqltype & ~1) == SQL_VARYING; }
  // Fills the value bytes with PadChar (a VARCHAR's length word becomes 0).
  void FillPad();
  // memcpy, with the few bytes of most values (an indicator and a number or a date) copied in place.
  static void CopyBytes(void* To, const void* From, size_t Count) noexcept {
    auto* to = static_cast<uint8_t*>(To);
    const auto* from = static_cast<const uint8_t*>(From);
    if (Count >= 8 && Count <= 16) {
      uint64_t head, tail;
      std::memcpy(&head, from, 8);
      std::memcpy(&tail, from + Count - 8, 8);
      std::memcpy(to, &head, 8);
      std::memcpy(to + Count - 8, &tail, 8);
    } else if (Count >= 4 && Count < 8) {
      uint32_t head, tail;
      std::memcpy(&head, from, 4);
      std::memcpy(&tail, from + Count - 4, 4);
      std::memcpy(to, &head, 4);
      std::memcpy(to + Count - 4, &tail, 4);
    } else {
      std::memcpy(to, from, Count);
    }
  }
  // The short road of a typed setter for a change that nothing hears: the column has no handler of its
  // own, is neither calculated nor boolean nor inside a change already, and its row's changes go unheard
  // (TIB_Row::GetChangesUnheard). Then the old value is saved for GetIsChanged as BeforeModify saves it
  // and the answer is true: the setter stores its value and closes with EndUnheardModify, which leaves
  // what AfterModify leaves for such a change. False does nothing: the setter runs BeforeModify, its
  // change and AfterModify.
  bool BeginUnheardModify();
  void EndUnheardModify();
  // A setter's change of the value by Write: the full change protocol, or its short road.
  template <class Write>
  void ModifyValue(Write&& W) {
    const bool unheard = BeginUnheardModify();
    if (!unheard) BeforeModify();
    W();
    if (unheard) {
      EndUnheardModify();
    } else {
      AfterModify();
    }
  }
  // Writes Count value bytes (at most the value's size), not null, inside the change protocol. Callers
  // convert and check first, so a value that cannot be stored never reaches the protocol and the column
  // stays exactly as it was.
  void StoreBytes(const void* Bytes, size_t Count) {
    ModifyValue([&] {
      if (NullInd() != 0) SetIsNull(false);
      if (uint8_t* data = Data()) CopyBytes(data, Bytes, Count < DataSize() ? Count : DataSize());
    });
  }
  // The value as an integer that stands for value / 10^Scale, for the classes whose storage is one
  // (16-, 32- and 64-bit integers, scaled or not); false for the others and for null. Display texts
  // use it to show every digit, which no floating value holds past 18.
  virtual bool GetScaledValue(int64_t& Value, int& Scale);

  bool FIsTextKind = false;
  bool FIsNumericKind = false;
  bool FIsDateTimeKind = false;
  bool FIsBlobKind = false;
  bool FIsArrayKind = false;
  bool FCurrencyDisplay = false;
  uint8_t FPadChar = 0;
  std::string FUpperExpression;
  uint8_t FTrimming = 0;

private:
  friend class TIB_Row;

  // Has the row take its old record's copy when it is still due (before the old record is read or the
  // current one written).
  void TakeOldValues() const noexcept;
  // The null indicator at Slot; a column not laid out reads as null.
  static int16_t IndAt(const uint8_t* Slot) noexcept {
    if (!Slot) return -1;
    int16_t ind;
    std::memcpy(&ind, Slot, 2);
    return ind;
  }

  TIB_Row* FRow;
  int16_t FFieldNo;
  XSQLVAR* FPSQLVAR;
  // Positions in the row's buffers (set by the row's layout): null indicator, value 2 bytes further.
  // The slots point at the indicator in the current and the old record buffer; both are null until the
  // column is laid out, and the row frees its buffers only together with its columns.
  size_t FOffset = 0;
  uint8_t* FSlot = nullptr;
  uint8_t* FOldSlot = nullptr;
  // True while an old-value reader has switched the column onto the old buffer.
  bool FReadingOld = false;
  std::string FDomainName;
  bool FDomainNameKnown = false;
  bool FSelectDerived = false;
  bool FReadOnly = false;
  bool FPreventChange = false;
  uint8_t FAlignment = 0;
  uint8_t FCharCase = 0;
  std::string FEditMask;
  std::unique_ptr<TMaskEnh> FMaskEnh;
  std::string FDisplayFormat;
  std::string FDisplayLabel;
  std::string FGridLabel;
  int32_t FDisplayWidthSetting = -1;
  bool FVisible = true;
  std::string FTrueText;
  std::string FFalseText;
  bool FIsBoolean = false;
  std::string FDateOnlyFormat;
  std::string FTimeOnlyFormat;
  bool FPreventEditing = false;
  bool FPreventInserting = false;
  bool FPreventSearching = false;
  std::string FUniqueName;
  std::string FShortName;
  bool FBlankIsNull = false;
  bool FInModify = false;
  std::unique_ptr<uint8_t[]> FSavedValue;
  int32_t FOrderingItemNo = -999;
};

// The NAME=VALUE lists behind the library's list properties (parameters, key links, ordering items,
// column attributes, field lists) and the schema cache's name lists.
//
// Items are split quote-aware: the link name is the text before the first '=' outside double quotes, a
// qualified name RELATION.FIELD ends its qualifier at the first '.' outside double quotes, and a value may
// carry attributes "KEYWORD;KEYWORD=VALUE;...". Lookups by name fall back from a qualified name to its
// field part, and from a field name to the first item qualified by any relation.
#pragma once

#include <string>
#include <string_view>

#include "platform/Classes.h"

class TStream;

// A string list that can drop its blank items at every change notification (KeepBlankLines false), adds
// blank items silently, and keeps its sorted order when an item is replaced.
class TIB_StringList : public TStringList {
public:
  TIB_StringList() = default;

  bool GetKeepBlankLines() const noexcept { return FKeepBlankLines; }
  void SetKeepBlankLines(bool Value) { FKeepBlankLines = Value; }

  // Adding a blank item fires no notification and removes no blank items.
  int Add(const std::string& S) override;
  int AddObject(const std::string& S, TObject* AObject) override;
  // In a sorted list the item moves to its sorted place, keeping its object.
  void Put(int Index, const std::string& S) override;

  std::string GetLinkName(int Index) const;
  // The link name without its qualifier; empty when Index is out of range.
  std::string GetLinkFieldName(int Index) const;
  std::string GetLinkValue(int Index) const;
  void SetLinkValue(int Index, const std::string& Value);

  // Binary search of a sorted list for the item named Name (an item "Name" without '=' is not found).
  // With duplicates accepted, the first of equal names. Names compare as the list sorts its items.
  // Raises EIB_Error on an unsorted list.
  bool FindName(std::string_view Name, int& Index) const;
  bool FindValue(std::string_view Name, std::string& Value) const;

  int IndexOfLinkName(std::string_view Name) const;
  std::string GetLinkValueByName(std::string_view Name) const;
  void SetLinkValueByName(std::string_view Name, const std::string& Value);

  void GetLinkAttributeAt(int Index, std::string_view Attr, std::string& Value) const;
  void FindLinkAttribute(std::string_view Name, std::string_view Attr, std::string& Value, bool& Present) const;
  void GetLinkAttribute(std::string_view Name, std::string_view Attr, std::string& Value) const;
  bool HasLinkAttribute(std::string_view Name, std::string_view Attr) const;

  // Writes the bytes of the text (each item followed by CR LF), with no length prefix or terminator;
  // nothing for a null stream.
  virtual void SaveToStream(TStream* Stream) const;

  // Replaces the items by the trimmed pieces of a text split at the commas outside double quotes.
  void SetCommaList(std::string_view Text);
  void RemoveBlankLines();

protected:
  void Changed() override;
  void Changing() override;
  void SetUpdateState(bool Updating) override;

  bool FKeepBlankLines = true;

private:
  int IndexByNameOrItem(std::string_view Name) const;
  std::string ValueByName(std::string_view Name) const;
  int ScanFieldName(std::string_view Name) const;

  bool FInternalChange = false;
  bool FUpdating = false;
};

// The class of the components' list properties: drops its blank items at every change notification.
class TIB_StringProperty : public TIB_StringList {
public:
  TIB_StringProperty() { FKeepBlankLines = false; }
};

// The class of the schema cache's lists: sorted, blank items kept.
class TIB_StringCache : public TIB_StringList {
public:
  TIB_StringCache() { SetSorted(true); }
};

// Query by example and filter translation: turns what a user typed into WHERE conditions. SearchBufferToSQL
// takes the search text typed for one column in search mode; FilterToSQL takes a dataset's filter text.
// Both only add lines to a list; the caller joins them into its WHERE clause.
//
// Nothing typed is pasted into the SQL unchecked: a value counts as quoted only when it is exactly one
// well-formed literal, a value for a numeric column must be a number, a date becomes a date literal this
// unit writes itself, and every other value is quoted with its inner quotes doubled. Column names come
// from the column descriptions (the statement's own text), never from the typed text, except in a filter,
// where a name must be a plain or double-quoted identifier.
//
// The routines work on descriptions of the columns (TIB_QBEColumn), not on the column objects, and keep no
// state between calls; a description holds copies and may outlive the column it was made from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Classes.h"

// What the translators read of one column.
struct TIB_QBEColumn {
  int16_t SQLType = 0;  // XSQLVAR sqltype; the nullable bit is ignored
  bool IsText = false;
  bool IsNumeric = false;
  bool IsDateTime = false;
  int32_t Position = 0;    // the column's position in its row (part of generated parameter names)
  std::string SQLName;     // empty for an expression
  std::string FullName;    // relation.column
  std::string BestName;    // the name that is best understood in a WHERE clause
  std::string SelectItem;  // the column's item of the SELECT list without its alias, for an expression
  // For a column the SELECT list renames (ID AS J): its source column as the list writes it. A WHERE
  // clause cannot name the alias.
  std::string Source;
  std::string NoCase;  // the NOCASE search expression; empty without a NOCASE attribute
  int32_t CharSetId = 0;  // a CHAR or VARCHAR column's character set (its values are upper-cased in it)
  // Attributes that change the translation.
  bool NoTrailing = false;
  bool YesLike = false;
  bool NoSoundex = false;
  std::string SoundexColumn;  // the parameter of SOUNDEX: the column holding the soundex code
  std::string RoundAttr;      // NOROUNDERR, CURR or COMP when the column has one (the first of them)
};

// What the search-text translation needs of the connection and the statement.
struct TIB_QBEContext {
  char EscapeChar = '\\';
  int32_t Dialect = 3;
  // Keeps generated parameter names of different search texts apart; any number that differs between
  // the texts one statement translates.
  int32_t Serial = 0;
  // The soundex code and the highest code that shares its prefix, as SQL text (the maximum falls back on
  // SoundExParse). Without SoundExParse no soundex condition is written.
  std::function<std::string(const std::string&Text)> SoundExParse, SoundExMaxParse;
  // Told of each generated parameter, with the column's attribute that converts its value.
  std::function<void(const std::string& ParamName, const std::string& Attribute)> OnParamAttribute;
};

// Adds the WHERE lines of SearchText for Column to WhereLines and name=value pairs of generated
// parameters to ParamValues. Nothing for an empty text. Raises "Invalid SearchBuffer IN() clause" for an
// IN list without ')', EIB_Error "BETWEEN value AND value syntax error" for a BETWEEN without AND,
// EIB_Error "Invalid number ..." for a numeric column's value that is no number, and EConvertError for
// a date that does not convert. WhereLines keeps the lines added before a failure.
void SearchBufferToSQL(const TIB_QBEColumn& Column, std::string_view SearchText, TStrings& WhereLines,
                       TStrings& ParamValues, const TIB_QBEContext& Context);

enum TIB_FilterOption : uint8_t { fopCaseInsensitive, fopNoPartialCompare };
using TIB_FilterOptions = uint8_t;  // bits 1 << TIB_FilterOption

// The description of the column a filter names; nullptr when there is none (the name then stands as
// written, when it is an identifier).
using TIB_QBEFindColumn = std::function<const TIB_QBEColumn*(const std::string& Name)>;

// Adds "(", the conditions of Filter and ")" to WhereLines; nothing when Filter is blank. Raises EIB_Error
// "Invalid Filter syntax..." for a text that is no filter (unclosed quote, unbalanced parentheses, an
// unknown operator, a name that is no identifier, BETWEEN without AND, IN without its list) and
// "Invalid Filter Syntax: " + the rest when the text cannot be read on.
void FilterToSQL(std::string_view Filter, TIB_FilterOptions Options, const TIB_QBEFindColumn& FindColumn,
                 TStrings& WhereLines);

// True when S, trimmed, is exactly one well-formed literal enclosed in Quote (inner Quote characters
// doubled).
bool IsSQLLiteral(std::string_view S, char Quote);
// True when S is a plain decimal number: optional sign, digits with an optional '.', optional exponent.
bool IsSQLNumber(std::string_view S);

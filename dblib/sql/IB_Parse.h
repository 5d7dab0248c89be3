// The library's SQL text toolkit: pure routines over 8-bit strings that find and replace the clauses of a
// SELECT, turn named parameters into the server's '?' markers, recognise statement kinds, expand macros,
// spell identifiers for a dialect, and read the escaped NAME=VALUE and attribute texts of string lists.
// Nothing here talks to the server or keeps state between calls. Positions are 1-based; 0 means "none".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/IB_Header.h"
#include "platform/Classes.h"

// ---------------------------------------------------------------------------------------------------------
// Scanner and clause search

// Updates the scanner state for the character at Pos (1-based). Callers advance Pos, scan, then add Skip,
// so the second character of a comment opener or closer ("/*", "*/", "//", "--") is never scanned alone.
// A depth set to -1 by the caller stays frozen.
void ScanSQLChar(std::string_view S, int32_t& Pos, bool& InSingle, int32_t& Skip, int32_t& BracketDepth,
                 int32_t& ParenDepth, bool& InBlockComment, bool& InLineComment, bool& InDouble);

// Word delimiter for keyword matching: a character below 33, '(', ')' or ';'.
bool IsSQLWordDelimiter(char Ch);
// Delimiter of names, filter tokens and AND/OR detection: below 33, '!', '(', ')', '*', ',', '/', ':', ';',
// '<', '=', '>', '?'.
bool IsNameDelimiter(char Ch);

// Finds Keyword and the terminator that ends its clause, outside quotes, comments and parentheses.
// StartPos (0 = 1) and EndPos (0 = end of text) bound the search on entry; on return StartPos is the
// keyword's position (0 when absent) and EndPos the terminator's position (end + 1 when none matched,
// in which case the result is false).
bool FindSQLClause(std::string_view SQL, std::string_view Keyword, bool MustBeFirst,
                   const std::vector<std::string>& Terminators, int32_t& StartPos, int32_t& EndPos,
                   std::string& Matched, bool AnyPosition, bool NextWordOnly);

// Clause locators: StartPos = 0 when the clause is absent, else the clause is SQL[StartPos .. EndPos - 1].
void LocateSQLSelect(std::string_view SQL, int32_t& StartPos, int32_t& EndPos, bool MustBeFirst);
void LocateSQLFrom(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLWhere(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLGroup(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLHaving(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLUnion(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLPlan(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLOrder(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);
void LocateSQLForUpdate(std::string_view SQL, int32_t& StartPos, int32_t& EndPos);

// Clause getters: the clause with its keyword, trimmed; empty when absent.
std::string GetSQLSelect(std::string_view SQL);
std::string GetSQLFrom(std::string_view SQL);
std::string GetSQLWhere(std::string_view SQL);
std::string GetSQLGroup(std::string_view SQL);
std::string GetSQLHaving(std::string_view SQL);
std::string GetSQLUnion(std::string_view SQL);
std::string GetSQLPlan(std::string_view SQL);
std::string GetSQLOrder(std::string_view SQL);
std::string GetSQLForUpdate(std::string_view SQL);

// The lock clause WITH LOCK ends a SELECT, after its FOR UPDATE (whose clause then holds it) or alone.
// HasSQLLock tells whether SQL (or a FOR clause) holds one; RemoveSQLLock takes it out.
bool HasSQLLock(std::string_view SQL);
void RemoveSQLLock(std::string& SQL);

// Clause setters: NewClause is a whole clause with its keyword; an empty NewClause removes the clause. A new
// FOR clause goes before a WITH LOCK that stands alone.
void SetSQLSelect(std::string& SQL, std::string_view NewClause);
void SetSQLFrom(std::string& SQL, std::string_view NewClause);
void SetSQLWhere(std::string& SQL, std::string_view NewClause);
void SetSQLGroup(std::string& SQL, std::string_view NewClause);
void SetSQLHaving(std::string& SQL, std::string_view NewClause);
void SetSQLUnion(std::string& SQL, std::string_view NewClause);
void SetSQLPlan(std::string& SQL, std::string_view NewClause);
void SetSQLOrder(std::string& SQL, std::string_view NewClause);
void SetSQLForUpdate(std::string& SQL, std::string_view NewClause);

// The splice behind every setter: Trim(text before StartPos) + CRLF (when StartPos <> 0) + Trim(NewText) +
// CRLF + Trim(text from EndPos on) (when EndPos <> 0).
void ReplaceSQLRange(std::string& SQL, std::string_view NewText, int32_t StartPos, int32_t EndPos);

// ---------------------------------------------------------------------------------------------------------
// Statement kinds and statement builders

// True for the DDL of stored code whose body holds ':variables': CREATE, ALTER, CREATE OR ALTER and
// RECREATE of a PROCEDURE, TRIGGER, FUNCTION, PACKAGE or PACKAGE BODY, and EXECUTE BLOCK.
bool IsProcedureOrTriggerDDL(std::string_view S);
bool IsInsertInto(std::string_view S);
bool IsGrantOrRevokeSelect(std::string_view S);

// The columns of a FOR UPDATE OF clause (Columns is cleared first).
void GetForUpdateColumns(std::string_view SQL, TStrings& Columns);

// A statement that counts the rows SQL returns. The count leaves clauses out (the ORDER BY, say), and
// with them the parameter markers that stand there: KeptMarkers, when given, receives the numbers
// (0-based, in the order of SQL) of the markers Result holds, in their order in Result.
void MakeRecordCountSQL(std::string_view SQL, std::string& Result, std::vector<int32_t>* KeptMarkers = nullptr);
// A statement that looks one row up by its key fields (KeyFields items are NAME or NAME=...). Returns
// the number of parameters in the new FROM clause; SelectParamCount receives the number of parameters
// in the SELECT clause of SQL.
int32_t MakeKeyLookupSQL(std::string_view SQL, std::string_view NewSelect, const TStrings& KeyFields,
                         int32_t& SelectParamCount, std::string& Result);
// Add Condition after / before the criteria of a whole WHERE clause (Where may be empty).
void AppendWhereCondition(std::string& Where, std::string_view Condition);
void PrependWhereCondition(std::string& Where, std::string_view Condition);

// What a database command needs of a connection. The connection class implements it.
class TIB_DatabaseCommandTarget {
public:
  virtual ~TIB_DatabaseCommandTarget() = default;
  virtual bool GetConnected() = 0;
  virtual void SetDatabaseName(const std::string& Value) = 0;
  // Connection parameters by index: 1 USER NAME, 2 PASSWORD, 4 ROLE NAME.
  virtual void SetIndexedParam(int32_t Index, const std::string& Value) = 0;
};

// Finds the first of Verbs as first word of SQL followed by DATABASE or SCHEMA; Value receives the first
// quoted literal after DATABASE (for Keyword DATABASE) or after Keyword (empty when Keyword is absent).
bool FindCommandClause(std::string_view SQL, std::string_view Keyword, const std::vector<std::string>& Verbs,
                       std::string& Verb, std::string& Value);
// Applies a CREATE / CONNECT / DISCONNECT / DROP DATABASE text to Connection; false when SQL is none of them.
bool ApplyDatabaseCommand(TIB_DatabaseCommandTarget& Connection, std::string_view SQL, std::string& Verb);

// ---------------------------------------------------------------------------------------------------------
// Parameters and macros

// Turns every parameter ('?' or MarkerChar followed by a name, outside quotes, comments and brackets) into
// "?" + " /* name */ " in ServerSQL and collects the names in ParamNames in the order of the text (the order
// in which the server describes the markers). SelectItems receives the escaped items of the SELECT list.
// Analysis is accepted and not used. Any list may be null. Returns the number of parameters of the SELECT
// clause (its list and its FIRST / SKIP).
int32_t ParseSQLParams(std::string_view SQL, TStrings* ParamNames, TStrings* SelectItems, TStrings* Analysis,
                       std::string& ServerSQL, char MarkerChar, bool KeepComments, int32_t& KeptCommentChars);
// ParseSQLParams with no lists, '?' markers only, comments dropped.
int32_t ConvertParamsToMarkers(std::string_view SQL, std::string& ServerSQL);
// Splits one item of a SELECT list (control characters taken as blanks) into its expression and the
// alias that names its column: after a top-level AS, else the last top-level word when what stands
// before it can end an expression. False when the item gives its column no alias of its own.
bool SplitSelectItem(std::string Item, std::string& Expression, std::string& Alias);

// Gives the text of the macro Name.
using TIB_MacroHandler = std::function<std::string(const std::string& Name)>;
// Replaces every macro <<NAME>> (BeginChar twice, name, EndChar twice) by the handler's text.
void ExpandSQLMacros(std::string_view Text, char BeginChar, char EndChar, std::string& Result,
                     const TIB_MacroHandler& Handler);

// ---------------------------------------------------------------------------------------------------------
// Words of a statement

// The text with every control character (below ' ') turned into a blank.
std::string BlankControlChars(std::string S);
// The first Max words of a text, upper case, outside comments; a quoted text counts as the word "?".
// Enough for the short command texts (COMMIT RETAIN, SET TRANSACTION, the first word of a DML).
std::vector<std::string> SQLWords(std::string_view S, size_t Max);
// True when a SELECT clause folds its rows by a DISTINCT: SELECT DISTINCT or an aggregate's DISTINCT
// ("COUNT( DISTINCT X )"); neither IS [NOT] DISTINCT FROM nor a sub-select's DISTINCT counts.
bool SelectsDistinct(std::string_view Select);
// The words of a FROM clause: names (a quoted one whole, quotes kept), and ",", "(" and ")" apart.
std::vector<std::string> FromClauseWords(std::string_view From);
// True when Item (a SELECT list item without its alias) is a plain column reference: a name or a
// qualifier and a name, each a simple or a double-quoted identifier.
bool IsPlainColumnReference(std::string_view Item);
// How the WHERE clause of SQL qualifies the columns of Relation (an identifier, quoted when it needs to
// be): the alias the FROM clause gives the relation, or its name as written there; the
// alias of a derived table that reads it; the one item of a FROM clause with a single item (a WITH query,
// a view). Empty when the FROM clause tells none of these.
std::string FromClauseQualifier(std::string_view SQL, std::string_view Relation);
// True when SQL names Relation (an identifier, quoted when it needs to be) as a source outside its select list: in its FROM
// clause, a derived table, its WITH list or a condition's sub-select; not only in a scalar sub-select of
// the select list.
bool RelationNamedOutsideSelectList(std::string_view SQL, std::string_view Relation);
// The relation that Qualifier (a relation's name or its alias) stands for in the FROM clause of SQL, as
// written there; empty when it names none. Quoted names compare exactly, others without regard to case.
std::string QualifiedRelation(std::string_view SQL, std::string_view Qualifier);

// ---------------------------------------------------------------------------------------------------------
// Identifiers, quotes and small text routines

bool IsReservedWord(std::string_view S);
// True when S is one whole quoted name: a double quote, the name with each of its double quotes doubled,
// and a closing double quote. MakeSQLIdent takes such a text as already quoted, and only such a text.
bool IsQuotedIdent(std::string_view S);
void MakeSQLIdent(int32_t Dialect, std::string_view Name, std::string& Result);
void MakeSQLIdentExact(int32_t Dialect, std::string_view Name, std::string& Result);

bool IsQuoted(std::string_view S, char QuoteChar);
void QuoteText(std::string_view S, char QuoteChar, std::string& Result);
void StripQuotes(std::string_view S, std::string& Result);
void DoubleChar(std::string_view S, char Ch, std::string& Result);
void UndoubleChar(std::string_view S, char Ch, std::string& Result);
void RemoveParenthesesAndLiterals(std::string_view S, int32_t Dialect, std::string& Result);

int32_t CharPosOutsideQuotes(char Ch, std::string_view S, int32_t Start);
int32_t StrPosOutsideQuotes(std::string_view Sub, std::string_view S, int32_t Start);
int32_t CharPosBackOutsideQuotes(char Ch, std::string_view S, int32_t Start, bool StopAtDelimiter);
bool ExtractQuotedText(std::string_view S, int32_t FromPos, int32_t ToPos, std::string& Value);

std::string NextListItem(std::string_view S, int32_t& Pos);
void SplitListText(std::string_view S, TStrings& Items);
void ReplaceChars(std::string& S, std::string_view Chars, char NewChar);
void ReplaceText(std::string& S, std::string_view Old, std::string_view New);
void RepeatChar(char Ch, int32_t Count, std::string& Result);
void PadString(std::string_view S, char FillChar, int32_t Len, std::string& Result, bool Truncate);

// The escaped form of list values: control characters as a backslash and the character 65 higher (CR is
// "\N", LF "\K") or, when that is no letter, '#' and three digits; '#', ';', '=' and '\' behind a
// backslash; bytes 128..255 as '#' and their three-digit code. UnescapeListText reverses it for every byte.
void EscapeListText(std::string_view S, std::string& Result);
void UnescapeListText(std::string_view S, std::string& Result);
// Reads the attribute Name of an attribute text "NAME;NAME=VALUE;...": NamePos its position (0 when
// absent), Value its unescaped value, EndPos where reading stopped (Length + 1 at the end of the text).
void ParseAttributeText(std::string_view Text, std::string_view Name, int32_t& NamePos, std::string& Value,
                        int32_t& EndPos);

// ---------------------------------------------------------------------------------------------------------
// XSQLVAR routines used by rows

// Fills Var from "[RELATION.]NAME TYPE [(len[,scale])] [NOT NULL]".
void XSQLVARFromDefString(std::string_view Def, int32_t Dialect, XSQLVAR& Var);
bool SQLTypesCompatible(int32_t A, int32_t B);
// Inline: every timestamp a column reads goes through it.
inline double IscTimestampToDateTime(const ISC_TIMESTAMP& Value) {
  constexpr int64_t kDateDelta = 15018;        // 1858-11-17 .. 1899-12-30
  constexpr int64_t kUnitsPerDay = 864000000;  // 1/10000 s
  int64_t day = static_cast<int64_t>(Value.timestamp_date) - kDateDelta;
  int64_t t = Value.timestamp_time;
  day += t / kUnitsPerDay;  // a time past midnight belongs to the following days
  t %= kUnitsPerDay;
  // Whole milliseconds of the day (as EncodeTime counts them: an exact integer, then one division).
  const double time = static_cast<double>(t / 10) / 86400000.0;
  // Before 1899-12-30 the time part counts backwards from the (negative) day.
  const auto d = static_cast<double>(day);
  return day < 0 ? d - time : d + time;
}
ISC_TIMESTAMP DateTimeToIscTimestamp(double Value);
bool QuadsEqual(const ISC_QUAD& A, const ISC_QUAD& B);
bool QuadIsNull(const ISC_QUAD& Q);
// Reallocates P from OldSize to NewSize bytes, keeping the common prefix (none for NewSize <= 0). P is a
// block of this routine (new[]), or null.
void ResizeBuffer(char*& P, int32_t OldSize, int32_t NewSize);

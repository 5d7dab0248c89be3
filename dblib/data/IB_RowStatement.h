// What a row and its columns ask of the statement that owns them: the statement's own settings and,
// through it, its connection, schema cache and (for datasets) ordering links. The statement class
// implements this interface; rows and columns never see the statement's concrete class.
#pragma once

#include <cstdint>
#include <string>

#include "dblib/IB_Header.h"
#include "platform/Classes.h"

class TIB_Row;
class TIB_Column;
struct TIB_BlobNode;

// Where a column-attribute text is looked up.
enum TIB_AttributeLevel : uint8_t { alStatement, alConnection };

// The schema-cache lists a column consults about itself.
// sclIdentity: the column is an IDENTITY column (its values come from its own generator).
enum TIB_SchemaColumnList : uint8_t { sclComputed, sclDefaulted, sclIdentity };

// The statement's per-column property lists that a column writes back to.
enum TIB_FieldsList : uint8_t { flDisplayWidth, flEditMask };

class TIB_RowStatement {
public:
  virtual ~TIB_RowStatement() = default;

  // The statement this one serves, when it has an owning statement; else nullptr.
  virtual TIB_RowStatement* GetOwningStatement() = 0;
  virtual int GetSQLDialect() = 0;
  virtual bool GetPrepared() = 0;
  virtual void Prepare() = 0;

  // Describing a row.
  // Fills the described XSQLVARs of Row's XSQLDA (a params row is then named, TIB_Row::AssignParamNames).
  virtual void SysDescribeFields(TIB_Row& Row) = 0;
  // The CalculatedFields lines: one XSQLVAR definition per line.
  virtual const TStrings& GetCalculatedFields() = 0;
  // The parameter names the SQL text scan found, and the count the scan reported.
  virtual const TStrings& GetParamNames() = 0;
  virtual int GetParamNameCount() = 0;
  // The OnCreateColumn hook: returns false when it is not assigned; when assigned it may set Column.
  virtual bool DoCreateColumn(TIB_Row& Row, int16_t FieldNo, XSQLVAR& Var, TIB_Column*& Column) = 0;

  // Column attributes: the link value of Key in the ColumnAttributes list of the level, with the
  // string lists' name fallbacks; empty when there is none.
  virtual std::string GetColumnAttributesValue(TIB_AttributeLevel Level, const std::string& Key) = 0;
  // The connection's ColumnAttributes list has entries.
  virtual bool HasConnectionColumnAttributes() = 0;
  // The connection's FieldEntryTypes include fetDomainName.
  virtual bool GetDomainNameEntries() = 0;
  virtual bool GetDefaultNoCase() = 0;
  virtual bool GetDefaultNoTrailing() = 0;

  // Schema information.
  virtual std::string GetFieldDomain(const std::string& RelName, const std::string& SQLName) = 0;
  virtual bool SchemaListContains(TIB_SchemaColumnList List, const std::string& Entry) = 0;

  // Column state hooks.
  virtual void GetColumnReadOnly(TIB_Column& Column, bool& ReadOnly) = 0;
  virtual void GetColumnPreventChange(TIB_Column& Column, bool& Prevent) = 0;
  virtual bool GetCalculatingFields() = 0;
  // Refuses a write into Column of the fields row when the statement cannot take one now (a dataset in
  // search mode keeps its criteria in its data links): the typed setters ask before they read their text.
  virtual void CheckFieldWrite(TIB_Column& /*Column*/) {}
  virtual void DoCalculateField(TIB_Row& Row, TIB_Column& Column) = 0;
  // The OnValidateField event (when assigned).
  virtual void DoValidateField(TIB_Row& Row, TIB_Column& Column) = 0;
  // Whether anything beyond the columns' own events hears a change of Row: the handlers the statement
  // set on the row (before-change, data-change and state notices), its links and OnValidateField. A
  // parameter change nobody hears skips them and only leaves the row in the state they would have.
  virtual bool GetRowChangesHeard(const TIB_Row& /*Row*/) { return true; }

  // Column display settings written back to the statement.
  virtual void SetFieldsListValue(TIB_FieldsList List, const std::string& Key, const std::string& Value) = 0;
  // A column of Row moved: the statement records the new order in FieldsIndex (unless it is rewriting
  // that list itself) and announces the layout change.
  virtual void ColumnOrderChanged(TIB_Row& Row) = 0;
  // Datasets: the ordering-links value for Name; false when the statement is no dataset or has none.
  virtual bool FindOrderingLink(const std::string& Name, std::string& Value) = 0;
  // Asks the statement's links to focus the control of Column.
  virtual void FocusColumn(TIB_Column& Column) = 0;

  // Writes a modified blob or array node to the server; the node receives its new id.
  virtual void StoreBlobNode(TIB_Column& Column, TIB_BlobNode& Node) = 0;
  // Reads the blob or array value whose id Node holds into Node; raises the engine's error.
  virtual void LoadBlobNode(TIB_Column& Column, TIB_BlobNode* Node) = 0;
  // The length of Column's blob Id as the server reports it, without reading the blob.
  virtual int64_t GetBlobLength(TIB_Column& Column, const ISC_QUAD& Id) = 0;
  // Fills Desc with the element type and bounds of array column Column; false when they are not found.
  virtual bool LookupArrayBounds(TIB_Column& Column, ISC_ARRAY_DESC& Desc) = 0;
};

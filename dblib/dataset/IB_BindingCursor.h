// The binding cursor: reads one row of a buffered dataset again from the server, by its key.
//
// A TIB_BindingCursor runs its buffered dataset's SELECT as a derived table restricted to one key
// ("SELECT * FROM (<the dataset's SELECT>) BIND_ROW (C1, C2, ...) WHERE C<n> = ? AND ..."; the derived
// table names the columns itself, so expressions without a name and repeated names are fine, and its
// fields row takes the dataset's column names back): the dataset's own parameters come first, then
// one parameter per key column, filled from a node's key bytes (the key the server knows the row by).
// It reads in the dataset's connection and transaction, also after the dataset was given others. It prepares its own statement the first time a row must really be
// read from the server (a row in the buffer is served from its packed record) and prepares again when
// the dataset's SQL changed. It has a cursor name of its own, distinct from the dataset's.
//
// Ownership: owned by its dataset (a component it owns) and lives as long as it.
#pragma once

#include "dblib/dataset/IB_Cursor.h"

class TIB_BDataset;
struct TIB_Node;

class TIB_BindingCursor : public TIB_Cursor {
public:
  TIB_BindingCursor(TIB_BDataset* ADataset);
  TIB_BDataset* GetBDataset() const noexcept { return FBDataset; }
  // Loads the node's row into the dataset's Fields row: from its record unless Force, else from the
  // server (the record is written again). False when the row is gone at the server. A nil node or a
  // sentinel, or a dataset without key columns in its select list, raises EIB_DatasetError "Cannot
  // open cursor without key data" when Raise, else answers false. A key that finds two rows raises
  // "Multiple rows in singleton fetch" followed by a blank line and the SQL text.
  // Into receives the row (the dataset's Fields row when nil).
  bool FetchNode(TIB_Node* Node, bool Force, bool Raise, TIB_Row* Into = nullptr);
  // Whether the dataset's SELECT has a row of this key (the key row's bytes), asked of the server; true
  // when the dataset's key cannot select its rows (the caller must then look by fetching).
  bool SeekKey(const uint8_t* Key);
  // Prepares the cursor so that its Fields row has the dataset's columns: by key when the dataset's key
  // can select its rows, else the dataset's SELECT as it is (for the description only).
  void PrepareDescription();
  // The text of the single-row SELECT (empty when the dataset's key cannot select its rows).
  std::string BuildSQL();
  void SysDescribeFields(TIB_Row& Row) override;

private:
  void PrepareOwn();
  void PrepareText(const std::string& SQL);
  void BindParams(const uint8_t* Key);
  TIB_BDataset* FBDataset;
  std::string FSourceSQL;
  // Per key column: the offset and size of its value in the key bytes.
  struct TKeyPart {
    size_t Offset;
    size_t Size;
  };
  std::vector<TKeyPart> FKeyParts;
};

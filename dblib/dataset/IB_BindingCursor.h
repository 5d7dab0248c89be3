// The binding cursor: reads one row of a buffered dataset again from the server, by its key.
//
// A TIB_BindingCursor runs its buffered dataset's own SELECT restricted to one key: each key column is
// paired with itself in its MasterLinks, so that the SQL building puts "<key column>=?BIND_0",
// "=?BIND_1"... in front of the WHERE conditions; the dataset's own parameters follow and get copies of
// its values. The key parameters are laid out like the dataset's key row, so a node's key bytes (its old
// key when the key was changed under cached updates: the key the server knows) fill them as one block.
// Where a condition on the key cannot select the row as the SELECT shows it (a UNION, an aggregate or
// DISTINCT, a window function, whose values depend on the other rows, a key column that is no table
// column, a relation the FROM clause knows only by an alias of a SELECT *), the SELECT is wrapped in a
// derived table restricted by its own column names instead ("SELECT * FROM (<SELECT>) BIND_ROW (C1,
// ...) WHERE C<n> =?BIND_0 ..."); its fields row takes the dataset's column names back.
// Fetching whole rows, the cursor works on the dataset's description: it holds a placeholder handle
// (never passed to the client library or the connection's handle cache) and prepares its statement on
// the server only when a row must really be read (a row in the buffer is served from its packed
// record); reading keys only, it prepares its own statement. It reads in the dataset's connection and
// transaction, prepares again when the dataset's SQL changed, and has a cursor name of its own.
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
  // The text the cursor is prepared with (the key condition is added to it while it is built): the
  // dataset's SELECT, or the derived table over it; empty when the dataset's key cannot select its rows.
  std::string BuildSQL();
  void SysDescribeFields(TIB_Row& Row) override;
  // Calculated columns are computed by the dataset (its OnCalculateField), whichever row they are in.
  void DoCalculateField(TIB_Row& Row, TIB_Column& Column) override;

  // Whether the cursor prepared and described its statement itself (false: it works on the dataset's
  // description and holds no statement handle until a row must be read from the server).
  bool GetOwnPrepared() const noexcept { return FOwnPrepared; }
  // Whether its statement is prepared on the server (its parameter description set up there).
  bool GetDescribed() const noexcept { return FDescribed; }
  // The value of the statement handle while the description is borrowed: never a real handle.
  static constexpr isc_stmt_handle kBorrowedHandle = static_cast<isc_stmt_handle>(~0u);

protected:
  bool GetIsBindingCursor() override { return true; }
  bool GetBindingKeyNullable(int Index) override;
  bool SysAllocateHandle() override;
  ISC_STATUS API_Prepare(const std::string& Text, int32_t& InCount, int32_t& OutCount) override;
  uint8_t GetStatementType() override;
  void DoAfterUnprepare() override;

private:
  void PrepareOwn();
  void PrepareText(const std::string& SQL, const std::string& Links, bool Own);
  // Gives a borrowed description a statement on the server: the fields keep the dataset's layout.
  void PrepareOnServer();
  // The rows' descriptions without the server: the dataset's parameters and key columns, its columns.
  void DescribeBorrowed(TIB_Row& Row);
  // Copies the dataset's parameter values and finds FirstBindParam (the key parameters, laid out like
  // the key row's buffer). Raises "Problem in BindingCursor" when the parameters do not fit.
  void BindParams();
  // Prepared and bound, the key bytes in the key parameters, opened.
  void OpenForKey(const uint8_t* Key);
  TIB_BDataset* FBDataset;
  // The text and key pairs the cursor is prepared with.
  std::string FSourceSQL;
  std::string FSourceLinks;
  // What BuildSQL worked out, and for which SQL, key links and description of the dataset.
  std::string FPlanSQL;
  std::string FPlanLinks;
  std::string FPlanSource;
  std::string FPlanKeyLinks;
  const XSQLDA* FPlanDescription = nullptr;
  bool FOwnPrepared = false;
  bool FDescribed = false;
  // The data of parameter "BIND_0": its indicator, where the key bytes go.
  uint8_t* FFirstBindParam = nullptr;
};

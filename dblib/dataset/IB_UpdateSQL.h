// The update SQL of a dataset: the statements that write the dataset's changes back to the database.
//
// TIB_UpdateSQL belongs to one dataset, which creates it and alone uses it. For each kind of change
// (edit, insert, delete, row lock) it takes the custom statement the application wrote into the
// dataset's EditSQL, InsertSQL, DeleteSQL or LockSQL, or generates one from the dataset's columns, key
// relation and key columns. A statement is prepared on first use and its parameters read straight
// from the dataset's rows: the current values, the record as fetched (OLD_ names) and the key row.
// Values never reach the SQL text. The statements take the dataset's column attributes and Fields
// lists as their own; a change of any Fields list unprepares them. Edits and deletes under cached updates, and edits with
// PreparedEdits off, run through a statement prepared for that one change and freed after it.
//
// Ownership: the dataset owns its update SQL and the four lists; the update SQL owns its statements. The statements' parameters
// point into the dataset's row buffers, so they are unprepared whenever the dataset's rows are laid
// out again (a prepare or unprepare of the dataset) and bound again at their next use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_StringList.h"
#include "platform/Classes.h"

class TIB_Dataset;
class TIB_Statement;
class TIB_Column;
class TIB_Row;

// Kinds of change, in the order of the dataset's custom-DML kinds.
enum TIB_UpdateSQLKind : uint8_t { uskEdit, uskInsert, uskDelete, uskLock };

class TIB_UpdateSQL : public TComponent {
public:
  explicit TIB_UpdateSQL(TIB_Dataset* ADataset);
  ~TIB_UpdateSQL() override;
  void BeforeDestruction() override;

  TIB_Dataset* GetDataset() const noexcept { return FDataset; }
  // The dataset's SearchedEdits changed: the edit and lock statements are built again.
  void SearchedEditsChanged();
  // The dataset's SearchedDeletes changed: the delete statement is built again.
  void SearchedDeletesChanged();

  // The custom statements (the dataset's EditSQL, InsertSQL, DeleteSQL, LockSQL); a change unprepares
  // the matching statement.
  TIB_StringList& GetSQL(TIB_UpdateSQLKind Kind) noexcept { return *FLists[Kind]; }

  // The statements, built and prepared when needed (nil when the dataset is not prepared).
  TIB_Statement* GetEditStatement() { return NeedStatement(uskEdit); }
  TIB_Statement* GetInsertStatement() { return NeedStatement(uskInsert); }
  TIB_Statement* GetDeleteStatement() { return NeedStatement(uskDelete); }
  TIB_Statement* GetLockStatement() { return NeedStatement(uskLock); }

  void ExecEdit();
  void ExecInsert();
  void ExecDelete();
  // True when the row is locked.
  bool ExecLockRow();

  // Unprepares the four statements (they are built again at their next use).
  void UnprepareAll();
  // The same, and their server handles go back to the connection's cache.
  void DeallocateAll();

  // The text of the last statement prepared for a single change (empty before the first).
  const std::string& GetLastOneOffSQL() const noexcept { return FLastOneOffSQL; }

private:
  // Where a parameter reads its value: a column's current or old buffers.
  struct TBinding {
    TIB_Column* Column = nullptr;
    bool Old = false;
  };
  struct TEntry {
    TIB_Statement* Statement = nullptr;
    std::vector<TBinding> Bindings;
    bool Bound = false;
    bool Searched = false;  // built with a searched WHERE (by key) rather than WHERE CURRENT OF
  };

  TIB_Statement* NewStatement();
  TIB_Statement* NeedStatement(TIB_UpdateSQLKind Kind);
  void BuildStatement(TIB_UpdateSQLKind Kind, TEntry& E);
  void CheckKeyRelation();
  // Whether a change of Kind finds its row by key: as SearchedEdits / SearchedDeletes say, and also when
  // the dataset's cursor no longer stands on the row. Raises when the row can be found neither way.
  bool UseSearched(TIB_UpdateSQLKind Kind);
  // Whether the row is found by the values it holds as fetched or written: under cached updates, and for
  // a row a retaining post inserted when the dataset has no key links.
  bool ByRowValues();
  bool IsUpdatable(TIB_Column& Column);
  // The WHERE of a prepared statement; adds the bindings of its trailing parameters to Trailing.
  // Custom is set when the statement must be bound by parameter names instead.
  std::string BuildWhere(bool Searched, std::vector<TBinding>& Trailing, bool& Custom);
  void BindCustom(TIB_Statement& S, std::vector<TBinding>& Bindings);
  // The column of Fields a custom statement's parameter name stands for: over a join, the key
  // relation's column of that name before another relation's column of the same name.
  bool FindCustomColumn(TIB_Row& Fields, const std::string& Name, TIB_Column*& Column);
  // The values an insert returned (INSERT ... RETURNING: a key the engine gave) into the dataset's
  // columns of the same names.
  void TakeReturnedValues(TIB_Statement& S);
  static void ApplyBindings(TIB_Statement& S, const std::vector<TBinding>& Bindings);
  // Executes S, bound, inside a savepoint that is undone when more than one row changed.
  int32_t RunDML(TIB_Statement& S, const std::vector<TBinding>& Bindings, bool Guard);
  void RaiseCount(int32_t Rows, uint8_t Type, TIB_UpdateSQLKind Kind);
  // Whether the prepared statement of Kind may change more than one row (and needs a savepoint).
  bool MayTouchSeveral(TIB_UpdateSQLKind Kind);
  void RunOneOff(const std::string& SQL, const std::vector<TBinding>& Bindings, TIB_UpdateSQLKind Kind);
  void OneOffEdit();
  void OneOffDelete();
  void Announce(int Kind);
  void ListChanged(TIB_UpdateSQLKind Kind);
  void Release(TEntry& E, bool Deallocate);

  TIB_Dataset* FDataset;
  TIB_StringList* FLists[4];
  TEntry FEntries[4];
  std::string FLastOneOffSQL;
};

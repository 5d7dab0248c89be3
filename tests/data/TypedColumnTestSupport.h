// Rows described in memory with the library's own column classes, for the typed-column tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RowTestSupport.h"
#include "dblib/IB_Errors.h"
#include "dblib/data/IB_ColumnTypes.h"

// Expects Statement to raise Type with exactly Text as its message.
#define EXPECT_RAISES(Statement, Type, Text)          \
  try {                                               \
    Statement;                                        \
    ADD_FAILURE() << "no exception from " #Statement; \
  } catch (const Type& e) {                           \
    EXPECT_EQ(e.Message(), Text);                     \
  }

namespace typedtest {

using rowtest::MakeVar;

class TypedColumnTest : public ::testing::Test {
protected:
  rowtest::TFakeStatement St;
  TFormatSettings SavedSettings = FormatSettings;
  std::vector<std::unique_ptr<TIB_Row>> Rows;
  int DataChanges = 0;

  // Every text conversion below runs with the US settings, whatever the machine's locale.
  void SetUp() override { FormatSettings = TFormatSettings(); }
  void TearDown() override { FormatSettings = SavedSettings; }

  TIB_Row* MakeRow(uint8_t Type, std::vector<XSQLVAR> Vars) {
    St.Vars = std::move(Vars);
    Rows.push_back(std::make_unique<TIB_Row>(&St, Type));
    TIB_Row* row = Rows.back().get();
    row->AllocateXSQLDA(static_cast<int>(St.Vars.size()));
    row->OnDataChange = [this](TIB_Row*, TIB_Column*) { ++DataChanges; };
    return row;
  }

  // The single column of a one-column row.
  TIB_Column* Column(uint8_t Type, const XSQLVAR& Var) { return MakeRow(Type, {Var})->GetColumns(0); }

  // The value bytes of Column as they stand in the record buffer (null or not).
  static std::string Bytes(TIB_Column* Column) {
    return std::string(Column->GetPSQLVAR()->sqldata, Column->DataSize());
  }

  // What a failed store must leave as it was: the bytes, the null indicator, the row state, the notices.
  struct Snapshot {
    std::string Bytes;
    short Ind;
    uint8_t RowState;
    int DataChanges;
  };
  Snapshot Take(TIB_Column* Column) const {
    return {Bytes(Column), *Column->GetPSQLVAR()->sqlind, Column->GetRow()->GetRowState(), DataChanges};
  }
  void ExpectSame(TIB_Column* Column, const Snapshot& Before) const {
    EXPECT_EQ(Bytes(Column), Before.Bytes);
    EXPECT_EQ(*Column->GetPSQLVAR()->sqlind, Before.Ind);
    EXPECT_EQ(Column->GetRow()->GetRowState(), Before.RowState);
    EXPECT_EQ(DataChanges, Before.DataChanges);
  }

  template <typename T>
  static T Stored(TIB_Column* Column) {
    T value;
    const std::string b = Bytes(Column);
    std::memcpy(&value, b.data(), sizeof(T));
    return value;
  }
};

}  // namespace typedtest

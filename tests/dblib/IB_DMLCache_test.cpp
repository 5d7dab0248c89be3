#include "dblib/IB_DMLCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A receiver that records the notices it is handed.
class TReceiver : public TIB_TransactionDatasetIntf {
public:
  std::string GetDatasetName() const override { return "R"; }
  TIB_Connection* GetDatasetConnection() const override { return nullptr; }
  bool GetActive() const override { return true; }
  bool GetIsModifying() const override { return false; }
  bool GetCachedUpdates() const override { return false; }
  bool GetUpdatesPending() const override { return false; }
  bool GetBuffered() const override { return false; }
  bool GetUnidirectional() const override { return false; }
  bool GetCursorIsOpen() const override { return false; }
  TIB_CommitAction GetCommitAction() const override { return caClose; }
  bool GetHoldsRowLock() const override { return false; }
  void ClearRowLock() override {}
  bool GetHasPartner() const override { return Partner; }
  TIB_DMLCacheFlags GetDMLCacheFlags() const override { return Flags; }
  void Post() override {}
  void Cancel() override {}
  void Close() override {}
  void FetchAll() override {}
  void RefreshKeys() override {}
  void Refresh() override {}
  void ApplyUpdates() override {}
  void CommitUpdates() override {}
  void CancelUpdates() override {}
  void ProcessDMLCacheItem(const TIB_DMLCacheItem& Item) override { Received.push_back(Item.GetDMLCacheItemType()); }

  TIB_DMLCacheFlags Flags = 0;
  bool Partner = false;
  std::vector<int> Received;
};

TEST(TimeoutProps, CopyKeepsTheCommitFailedFlag) {
  TIB_TimeoutProps a;
  TIB_TimeoutProps b;
  b.SetAllowCheckOAT(7);
  b.SetForceClosed(99);
  b.SetCommitFailed(true);
  a.Assign(b);
  EXPECT_EQ(a.GetAllowCheckOAT(), 7);
  EXPECT_EQ(a.GetForceClosed(), 99u);
  EXPECT_FALSE(a.GetCommitFailed());
  a.SetCommitFailed(true);
  a.Assign(TIB_TimeoutProps());
  EXPECT_TRUE(a.GetCommitFailed());
}

TEST(TimeoutProps, StartResetsTheNextTimesFromTheSettings) {
  TIB_TimeoutProps p;
  p.SetAttempt(40);
  p.SetPromptUser(0x12345);
  p.SetCommitFailed(true);
  p.SetNextAttempt(1);
  p.ResetForStart();
  EXPECT_EQ(p.GetNextAttempt(), 40);
  EXPECT_EQ(p.GetNextPrompt(), 0x2345);  // the low 16 bits
  EXPECT_FALSE(p.GetCommitFailed());
}

TEST(DMLCacheDelivery, OnlyMatchingReceiveFlagsGetTheNotice) {
  const TIB_DMLCacheItem edit(nullptr, "ID", Variant(int32_t{1}), ditEdit);
  const TIB_DMLCacheItem insert(nullptr, "ID", Variant(int32_t{2}), ditInsert);
  const TIB_DMLCacheItem del(nullptr, "ID", Variant(int32_t{3}), ditDelete);

  TReceiver announcer;
  announcer.Flags =
      IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) | IB_DMLCacheFlag(dcfAnnounceDelete);
  for (const TIB_DMLCacheItem* i : {&edit, &insert, &del}) TIB_TransactionDMLCache::DeliverTo(&announcer, *i);
  EXPECT_TRUE(announcer.Received.empty());

  TReceiver inserts;
  inserts.Flags = IB_DMLCacheFlag(dcfReceiveInsert) | IB_DMLCacheFlag(dcfReceiveDelete);
  for (const TIB_DMLCacheItem* i : {&edit, &insert, &del}) TIB_TransactionDMLCache::DeliverTo(&inserts, *i);
  EXPECT_EQ(inserts.Received, (std::vector<int>{ditInsert, ditDelete}));

  TReceiver partner;
  partner.Flags = IB_DMLCacheFlag(dcfReceiveEdit);
  partner.Partner = true;
  TIB_TransactionDMLCache::DeliverTo(&partner, edit);
  TIB_TransactionDMLCache::DeliverTo(nullptr, edit);
  EXPECT_TRUE(partner.Received.empty());
}

}  // namespace

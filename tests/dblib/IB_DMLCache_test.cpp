#include "dblib/IB_DMLCache.h"

#include <gtest/gtest.h>

#include "TransactionTestSupport.h"

namespace {

TEST(TimeoutProps, CopyKeepsTheCommitFailedFlag) {
  TIB_TimeoutProps a, b;
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

TEST(DMLCacheDelivery, OnlyMatchingReceiveFlagsGetTheNoticeAndPartnersNone) {
  const TIB_DMLCacheItem items[] = {{nullptr, "E", Variant(int32_t{1}), ditEdit},
                                    {nullptr, "I", Variant(int32_t{2}), ditInsert},
                                    {nullptr, "D", Variant(int32_t{3}), ditDelete}};
  const struct {
    TIB_DMLCacheFlags Flags;
    bool Partner;
    TLog Received;
  } cases[] = {
      {IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) | IB_DMLCacheFlag(dcfAnnounceDelete),
       false,
       {}},
      {IB_DMLCacheFlag(dcfReceiveInsert) | IB_DMLCacheFlag(dcfReceiveDelete), false, {"R.DML1:I", "R.DML2:D"}},
      {IB_DMLCacheFlag(dcfReceiveEdit), false, {"R.DML0:E"}},
      {IB_DMLCacheFlag(dcfReceiveEdit), true, {}},
  };
  for (const auto& k : cases) {
    TLog log;
    TFakeDataset receiver("R", log);
    receiver.Flags = k.Flags;
    receiver.Partner = k.Partner;
    for (const TIB_DMLCacheItem& i : items) TIB_TransactionDMLCache::DeliverTo(&receiver, i);
    EXPECT_EQ(log, k.Received);
  }
  TIB_TransactionDMLCache::DeliverTo(nullptr, items[0]);
}

}  // namespace

#include "dblib/IB_StringList.h"

#include <gtest/gtest.h>

#include "dblib/IB_Errors.h"
#include "platform/Streams.h"

namespace {

std::vector<std::string> Items(const TStrings& L) {
  std::vector<std::string> R;
  for (int I = 0; I < L.Count(); ++I) R.push_back(L.Get(I));
  return R;
}
using V = std::vector<std::string>;

struct TEventCounter {
  int Changing = 0;
  int Changed = 0;
  void Attach(TStringList& L) {
    L.OnChanging = [this](TObject*) { ++Changing; };
    L.OnChange = [this](TObject*) { ++Changed; };
  }
};

class TDummy : public TObject {};

TEST(StringListItems, LinkNameAndValueSplitAtTheFirstEqualsOutsideQuotes) {
  TIB_StringList L;
  L.Add("ABC");
  L.Add("A=B=C");
  L.Add("\"X=Y\"=Z");
  L.Add("\"A.B\".C=X");
  EXPECT_EQ(L.GetLinkName(0), "ABC");
  EXPECT_EQ(L.GetLinkValue(0), "");
  EXPECT_EQ(L.GetLinkName(1), "A");
  EXPECT_EQ(L.GetLinkValue(1), "B=C");
  EXPECT_EQ(L.GetLinkName(2), "\"X=Y\"");
  EXPECT_EQ(L.GetLinkValue(2), "Z");
  EXPECT_EQ(L.GetLinkFieldName(3), "C");
  EXPECT_EQ(L.GetLinkFieldName(1), "A");
  EXPECT_EQ(L.GetLinkFieldName(4), "");
  EXPECT_EQ(L.GetLinkFieldName(-1), "");
  EXPECT_THROW(L.GetLinkName(4), EStringListError);
}

TEST(StringListItems, SetLinkValueReplacesOrAppendsTheValuePart) {
  TIB_StringList L;
  L.Add("\"A=1\"=old");
  L.Add("B");
  L.SetLinkValue(0, "new");
  L.SetLinkValue(1, "2");
  EXPECT_EQ(Items(L), (V{"\"A=1\"=new", "B=2"}));
}

TEST(StringListLookup, QualifiedAndUnqualifiedFallbacks) {
  TIB_StringList L;
  L.Add("C=1");
  L.Add("T.D=2");
  EXPECT_EQ(L.IndexOfLinkName("T.C"), 0);
  EXPECT_EQ(L.IndexOfLinkName("D"), 1);
  EXPECT_EQ(L.IndexOfLinkName("t.d"), 1);
  EXPECT_EQ(L.IndexOfLinkName("X.E"), -1);
  EXPECT_EQ(L.IndexOfLinkName("E"), -1);
  L.Add("NAMEONLY");
  EXPECT_EQ(L.IndexOfLinkName("nameonly"), 2);
  EXPECT_EQ(L.IndexOfLinkName("R.NAMEONLY"), 2);
}

TEST(StringListLookup, ValueByNameTreatsAnEmptyValueAsMissing) {
  TIB_StringList L;
  L.Add("T.C=");
  L.Add("X.C=7");
  L.Add("C=");
  EXPECT_EQ(L.GetLinkValueByName("C"), "");  // T.C comes first in the scan, with its empty value
  L.Delete(0);
  EXPECT_EQ(L.GetLinkValueByName("C"), "7");
  EXPECT_EQ(L.GetLinkValueByName("Q.C"), "");
  L.Add("D=4");
  EXPECT_EQ(L.GetLinkValueByName("Q.D"), "4");
  L.Add("NAMEONLY");
  EXPECT_EQ(L.GetLinkValueByName("NAMEONLY"), "");
}

TEST(StringListLookup, SetLinkValueByNameChangesEveryQualifiedMatchOrAppends) {
  TIB_StringList L;
  L.Add("A.C=1");
  L.Add("B.C=2");
  L.Add("D=3");
  L.SetLinkValueByName("C", "9");
  EXPECT_EQ(Items(L), (V{"A.C=9", "B.C=9", "D=3"}));
  L.SetLinkValueByName("T.C", "8");
  EXPECT_EQ(Items(L), (V{"A.C=8", "B.C=8", "D=3"}));
  L.SetLinkValueByName("X.D", "5");
  EXPECT_EQ(Items(L), (V{"A.C=8", "B.C=8", "D=5"}));
  L.SetLinkValueByName("A.C", "1");
  EXPECT_EQ(Items(L), (V{"A.C=1", "B.C=8", "D=5"}));
  // A name not in the list is appended without its qualifier.
  L.SetLinkValueByName("T.E", "6");
  EXPECT_EQ(Items(L), (V{"A.C=1", "B.C=8", "D=5", "E=6"}));
}

TEST(StringListLookup, SortedListsKeepTheirOrderWhenValuesChange) {
  TIB_StringCache L;
  L.Add("B.C=2");
  L.Add("A.C=1");
  L.Add("M=0");
  L.SetLinkValueByName("C", "9");
  EXPECT_EQ(Items(L), (V{"A.C=9", "B.C=9", "M=0"}));
  EXPECT_EQ(L.GetLinkValueByName("b.c"), "9");
  EXPECT_EQ(L.GetLinkValueByName("m"), "0");
}

TEST(StringListSorted, FindNameSearchesNamesFollowedByEquals) {
  TIB_StringCache L;
  for (const char* S : {"DELTA=4", "ALPHA=1", "CHARLIE=3", "BRAVO", "BRAVO2=2"}) L.Add(S);
  int Index = -7;
  EXPECT_TRUE(L.FindName("charlie", Index));
  EXPECT_EQ(L.Get(Index), "CHARLIE=3");
  EXPECT_TRUE(L.FindName("BRAVO2", Index));
  EXPECT_EQ(Index, 2);
  EXPECT_FALSE(L.FindName("BRAVO", Index));  // the item without '=' is not found this way
  EXPECT_EQ(Index, -1);
  EXPECT_EQ(L.IndexOfLinkName("BRAVO"), 1);  // but the lookup falls back to the whole item
  std::string Value = "stale";
  EXPECT_TRUE(L.FindValue("delta", Value));
  EXPECT_EQ(Value, "4");
  EXPECT_FALSE(L.FindValue("ECHO", Value));
  EXPECT_EQ(Value, "");
}

TEST(StringListSorted, FindNameGivesTheFirstOfAcceptedDuplicates) {
  TIB_StringCache L;
  L.SetDuplicates(dupAccept);
  for (const char* S : {"B=3", "A=1", "B=1", "B=2", "C=1"}) L.Add(S);
  int Index = -1;
  ASSERT_TRUE(L.FindName("B", Index));
  EXPECT_EQ(Index, 1);
  EXPECT_EQ(L.Get(Index).substr(0, 2), "B=");
  EXPECT_EQ(L.Get(Index - 1), "A=1");
}

TEST(StringListSorted, FindNameOnAnUnsortedListRaises) {
  TIB_StringList L;
  L.Add("A=1");
  int Index = 0;
  try {
    L.FindName("A", Index);
    FAIL() << "no exception";
  } catch (const EIB_Error& E) {
    EXPECT_EQ(E.Message(), "Stringlist must be sorted for this operation");
  }
  std::string Value;
  EXPECT_THROW(L.FindValue("A", Value), EIB_Error);
  EXPECT_EQ(L.IndexOfLinkName("A"), 0);  // lookups by name search unsorted lists linearly
}

TEST(StringListSorted, PutMovesTheItemAndKeepsItsObject) {
  TIB_StringCache L;
  TDummy Obj;
  L.Add("A=1");
  L.AddObject("B=2", &Obj);
  L.Add("C=3");
  TEventCounter Events;
  Events.Attach(L);
  L.Put(1, "D=4");
  EXPECT_EQ(Items(L), (V{"A=1", "C=3", "D=4"}));
  EXPECT_EQ(L.GetObject(2), &Obj);
  EXPECT_EQ(Events.Changing, 1);
  EXPECT_EQ(Events.Changed, 1);
  L.SetLinkValue(0, "9");  // stays in place
  EXPECT_EQ(Items(L), (V{"A=9", "C=3", "D=4"}));
}

TEST(StringListSorted, APutRefusedAsADuplicateKeepsTheOldItem) {
  TIB_StringCache L;
  L.SetDuplicates(dupError);
  TDummy Obj;
  L.Add("A=1");
  L.AddObject("B=2", &Obj);
  EXPECT_THROW(L.Put(1, "A=1"), EStringListError);
  EXPECT_EQ(Items(L), (V{"A=1", "B=2"}));
  EXPECT_EQ(L.GetObject(1), &Obj);
}

TEST(StringListBlanks, PropertyDropsBlankItemsAtTheNextChange) {
  TIB_StringProperty P;
  TEventCounter Events;
  Events.Attach(P);
  P.Add("A=1");
  EXPECT_EQ(Events.Changed, 1);
  P.Add("  ");
  EXPECT_EQ(Items(P), (V{"A=1", "  "}));  // added silently and kept for now
  EXPECT_EQ(Events.Changing, 1);
  EXPECT_EQ(Events.Changed, 1);
  P.Add("B=2");
  EXPECT_EQ(Items(P), (V{"A=1", "B=2"}));
  EXPECT_EQ(Events.Changed, 2);
}

TEST(StringListBlanks, NoBlankItemIsLeftAfterAnUpdate) {
  TIB_StringProperty P;
  TEventCounter Events;
  Events.Attach(P);
  P.BeginUpdate();
  P.Add("");
  P.Add("A=1");
  P.Add("\t");
  P.Add("B=2");
  P.Add("");
  EXPECT_EQ(P.Count(), 5);
  EXPECT_EQ(Events.Changed, 0);
  P.EndUpdate();
  EXPECT_EQ(Items(P), (V{"A=1", "B=2"}));
  EXPECT_EQ(Events.Changing, 1);
  EXPECT_EQ(Events.Changed, 1);
  P.SetText("X=1\r\n\r\nY=2\r\n");
  EXPECT_EQ(Items(P), (V{"X=1", "Y=2"}));
  EXPECT_EQ(Events.Changed, 2);
}

TEST(StringListBlanks, PlainListKeepsBlankItems) {
  TIB_StringList L;
  TEventCounter Events;
  Events.Attach(L);
  L.SetText("X=1\r\n\r\nY=2");
  L.Add("Z=3");
  EXPECT_EQ(Items(L), (V{"X=1", "", "Y=2", "Z=3"}));
  EXPECT_EQ(Events.Changed, 2);
  L.RemoveBlankLines();
  EXPECT_EQ(Items(L), (V{"X=1", "Y=2", "Z=3"}));
  EXPECT_EQ(Events.Changed, 2);  // removing blanks fires nothing
  TIB_StringCache C;
  C.Add("");
  C.Add("A");
  EXPECT_EQ(Items(C), (V{"", "A"}));
}

TEST(StringListBlanks, AHandlerThatRaisesLeavesTheListWorking) {
  TIB_StringProperty P;
  P.OnChange = [](TObject*) { throw Exception("handler"); };
  EXPECT_THROW(P.SetText("A=1\r\n\r\nB=2"), Exception);
  P.OnChange = nullptr;
  int Changed = 0;
  P.OnChange = [&](TObject*) { ++Changed; };
  P.Add("C=3");
  EXPECT_EQ(Changed, 1);
  EXPECT_EQ(Items(P), (V{"A=1", "B=2", "C=3"}));
}

TEST(StringListAttributes, ReadKeywordsAndValuesOfALinkValue) {
  TIB_StringList L;
  L.Add("T.FLAG=BOOLEAN=Y,N;REQUIRED");
  L.Add("PLAIN=");
  std::string Value = "stale";
  bool Present = false;
  L.FindLinkAttribute("FLAG", "BOOLEAN", Value, Present);
  EXPECT_TRUE(Present);
  EXPECT_EQ(Value, "Y,N");
  L.FindLinkAttribute("T.FLAG", "REQUIRED", Value, Present);
  EXPECT_TRUE(Present);
  EXPECT_EQ(Value, "");
  EXPECT_TRUE(L.HasLinkAttribute("flag", "required"));
  EXPECT_FALSE(L.HasLinkAttribute("FLAG", "NOCASE"));
  EXPECT_FALSE(L.HasLinkAttribute("PLAIN", "REQUIRED"));
  EXPECT_FALSE(L.HasLinkAttribute("MISSING", "REQUIRED"));
  Value = "stale";
  L.GetLinkAttribute("FLAG", "NOCASE", Value);
  EXPECT_EQ(Value, "");
  L.GetLinkAttributeAt(0, "BOOLEAN", Value);
  EXPECT_EQ(Value, "Y,N");
}

TEST(StringListCommaList, SplitsAtCommasOutsideQuotes) {
  TIB_StringList L;
  TEventCounter Events;
  Events.Attach(L);
  L.SetCommaList("");
  EXPECT_TRUE(Items(L).empty());
  L.SetCommaList("A,");
  EXPECT_EQ(Items(L), (V{"A", ""}));
  L.SetCommaList("A,,B");
  EXPECT_EQ(Items(L), (V{"A", "", "B"}));
  L.SetCommaList("\"a,b\",c");
  EXPECT_EQ(Items(L), (V{"\"a,b\"", "c"}));
  L.SetCommaList(" X = 1 ,\tY\r\n");
  EXPECT_EQ(Items(L), (V{"X = 1", "Y"}));
  EXPECT_EQ(Events.Changed, 5);
  TIB_StringProperty P;
  P.SetCommaList("A,,B,");
  EXPECT_EQ(Items(P), (V{"A", "B"}));
}

TEST(StringListStream, SavesTheTextBytesOnly) {
  TIB_StringList L;
  L.Add("A=1");
  L.Add("");
  L.SaveToStream(nullptr);
  TMemoryStream S;
  L.SaveToStream(&S);
  EXPECT_EQ(std::string(S.GetMemory(), static_cast<size_t>(S.GetSize())), "A=1\r\n\r\n");
}

}  // namespace

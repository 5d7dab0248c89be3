#include "platform/Classes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Forms.h"

namespace {

std::vector<std::string>* gLog = nullptr;

class TLogged : public TComponent {
public:
  TLogged(TComponent* AOwner, const std::string& AName) : TComponent(AOwner) { SetName(AName); }
  void BeforeDestruction() override {
    if (gLog) gLog->push_back("destroy " + GetName() + (HasState(csDestroying) ? " (destroying)" : ""));
    TComponent::BeforeDestruction();
  }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (gLog && Operation == opRemove && AComponent != this)
      gLog->push_back(GetName() + " told " + AComponent->GetName() + " leaves");
    TComponent::Notification(AComponent, Operation);
  }
};

TEST(Component, OwnerDeletesOwnedLastCreatedFirst) {
  std::vector<std::string> log;
  gLog = &log;
  auto* form = new TLogged(nullptr, "form");
  new TLogged(form, "a");
  new TLogged(form, "b");
  EXPECT_EQ(form->GetComponentCount(), 2);
  delete form;
  gLog = nullptr;
  // The owner's destruction runs first, then its components, last created first.
  std::erase_if(log, [](const std::string& s) { return !s.starts_with("destroy"); });
  EXPECT_EQ(
      log, (std::vector<std::string>{"destroy form (destroying)", "destroy b (destroying)", "destroy a (destroying)"}));
}

TEST(Component, FreeNotificationReachesTheOtherSide) {
  std::vector<std::string> log;
  gLog = &log;
  auto* x = new TLogged(nullptr, "x");
  auto* y = new TLogged(nullptr, "y");
  x->FreeNotification(y);
  delete y;
  EXPECT_EQ(log, (std::vector<std::string>{"destroy y (destroying)", "x told y leaves"}));
  log.clear();
  delete x;  // y is gone: nothing must reach it
  EXPECT_EQ(log, (std::vector<std::string>{"destroy x (destroying)"}));
  gLog = nullptr;
}

TEST(Component, SiblingsHearOfRemovalThroughTheOwner) {
  std::vector<std::string> log;
  auto* form = new TLogged(nullptr, "form");
  auto* a = new TLogged(form, "a");
  new TLogged(form, "b");
  gLog = &log;
  delete a;
  gLog = nullptr;
  EXPECT_NE(std::find(log.begin(), log.end(), "b told a leaves"), log.end());
  EXPECT_EQ(form->GetComponentCount(), 1);
  EXPECT_EQ(form->FindComponent("B")->GetName(), "b");
  delete form;
}

TEST(StringList, NamesAndValues) {
  TStringList l;
  l.Add("USER NAME=SYSDBA");
  l.Add("novalue");
  l.Add("a=b=c");
  EXPECT_EQ(l.IndexOfName("user name"), 0);
  EXPECT_EQ(l.GetValue("A"), "b=c");
  EXPECT_EQ(l.GetName(1), "");
  l.SetValue("a", "");
  EXPECT_EQ(l.Count(), 2);
  l.SetValue("new", "1");
  EXPECT_EQ(l.Get(2), "new=1");
}

TEST(StringList, TextSplitsOnAnyLineBreak) {
  TStringList l;
  l.SetText("a\r\n\r\nb\nc\rd\r\n");
  ASSERT_EQ(l.Count(), 5);
  EXPECT_EQ(l.Get(1), "");
  EXPECT_EQ(l.Get(4), "d");
  EXPECT_EQ(l.GetText(), "a\r\n\r\nb\r\nc\r\nd\r\n");
}

TEST(StringList, CommaTextRoundTrip) {
  TStringList l;
  l.Add("plain");
  l.Add("with space");
  l.Add("with \"quote\"");
  l.Add("a,b");
  l.Add("");
  std::string t = l.GetCommaText();
  EXPECT_EQ(t, "plain,\"with space\",\"with \"\"quote\"\"\",\"a,b\",");
  TStringList m;
  m.SetCommaText("x, y ,\"z z\",,w");
  ASSERT_EQ(m.Count(), 5);
  EXPECT_EQ(m.Get(1), "y");
  EXPECT_EQ(m.Get(2), "z z");
  EXPECT_EQ(m.Get(3), "");
  TStringList one;
  one.Add("");
  EXPECT_EQ(one.GetCommaText(), "\"\"");
}

TEST(StringList, SortedFindAndDuplicates) {
  TStringList l;
  l.SetSorted(true);
  l.Add("b");
  l.Add("A");
  l.Add("c");
  EXPECT_EQ(l.Get(0), "A");
  EXPECT_EQ(l.Add("B"), 1);  // ignored duplicate: index of the existing one
  EXPECT_EQ(l.Count(), 3);
  int i = -1;
  EXPECT_FALSE(l.Find("bb", i));
  EXPECT_EQ(i, 2);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add("C"), EStringListError);
  EXPECT_THROW(l.Insert(0, "x"), EStringListError);
  l.SetDuplicates(dupAccept);
  l.Add("a");
  EXPECT_TRUE(l.Find("A", i));
  EXPECT_EQ(i, 0);
}

TEST(StringList, ChangeEventsOncePerUpdate) {
  TStringList l;
  int changing = 0, changed = 0;
  l.OnChanging = [&](TObject*) { ++changing; };
  l.OnChange = [&](TObject*) { ++changed; };
  l.Add("a");
  EXPECT_EQ(changed, 1);
  l.SetText("x\r\ny\r\nz");
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 2);
  l.Clear();
  l.Clear();  // already empty: no event
  EXPECT_EQ(changed, 3);
  EXPECT_THROW(l.Get(5), EStringListError);
}

// A derived list overrides the notifications; the start and end of an update must reach them.
class TCountingList : public TStringList {
public:
  int ChangingCalls = 0, ChangedCalls = 0;

protected:
  void Changing() override {
    ++ChangingCalls;
    TStringList::Changing();
  }
  void Changed() override {
    ++ChangedCalls;
    TStringList::Changed();
  }
};

TEST(StringList, UpdateBracketGoesThroughTheVirtualNotifications) {
  TCountingList l;
  int changed = 0;
  l.OnChange = [&](TObject*) { ++changed; };
  l.BeginUpdate();
  EXPECT_EQ(l.ChangingCalls, 1);
  l.Add("a");
  l.EndUpdate();
  EXPECT_EQ(l.ChangedCalls, 2);  // the add, then the end of the update
  EXPECT_EQ(changed, 1);         // only the end of the update reaches the event
}

TEST(StringList, AnOnChangeThatRaisesAtTheEndOfAnUpdateIsNeverLost) {
  TStringList l;
  l.OnChange = [](TObject*) { throw Exception("change refused"); };
  TStringList source;
  source.Add("a");
  // On a normal exit the handler's exception reaches the caller.
  EXPECT_THROW(l.Assign(source), Exception);
  EXPECT_EQ(l.Count(), 1);
  // While another exception leaves the update, that one goes on: the update ends quietly (no handler
  // runs from the unwinding) and the list is not left deaf.
  std::vector<std::string> reported;
  Application->OnException = [&](const std::exception& E) { reported.push_back(E.what()); };
  l.SetSorted(true);
  l.SetDuplicates(dupError);
  source.Add("a");
  EXPECT_THROW(l.Assign(source), EStringListError);
  Application->OnException = nullptr;
  EXPECT_EQ(reported, std::vector<std::string>{});
  EXPECT_EQ(l.GetUpdateCount(), 0);
  EXPECT_THROW(l.Add("b"), Exception);
}

TEST(StringList, AMoveToABadIndexLosesNothing) {
  TStringList l;
  l.SetText("a\r\nb");
  EXPECT_THROW(l.Move(0, 5), EStringListError);
  l.Move(0, 1);
  EXPECT_EQ(l.GetText(), "b\r\na\r\n");
  l.SetSorted(true);
  EXPECT_THROW(l.Move(0, 1), EStringListError);
  EXPECT_EQ(l.GetText(), "a\r\nb\r\n");
}

TEST(Format, SubstitutesValuesNeverFormatText) {
  EXPECT_EQ(Format("Unable to locate DLL import %s", {std::string("isc_%s%d%n")}),
            "Unable to locate DLL import isc_%s%d%n");
  EXPECT_EQ(Format("Row# %d of %s", {int64_t(5)}), "Row# 5 of ");
  EXPECT_EQ(Format("%5.2f|%-4s|%03d|%%", {3.14159, std::string("ab"), int64_t(7)}), " 3.14|ab  |007|%");
  EXPECT_EQ(Format("%q stays", {}), "%q stays");
}

}  // namespace

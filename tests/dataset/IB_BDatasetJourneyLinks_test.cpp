// Seeded random journeys over a master-detail pair and a lookup: the master scrolls, the detail
// (MasterSource + MasterLinks) is moved in, edited, inserted into and deleted from, with and without
// cached updates, and a lookup query on the master table follows the detail's group column through its
// KeySource, and is refreshed and reopened. After every step the detail is checked against a plain
// model, the master must stay where it was put and the lookup on the detail row's group; at the end the
// table read through a second attachment must hold what the model says. A failure prints the seed and
// the steps; DBLIB_JOURNEY_SEED=<n> replays one seed, DBLIB_JOURNEY_SEEDS=<count> runs more of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"

namespace {

using datasettest::DatasetDbTest;

struct Detail {
  int32_t Id;
  std::string Name;
  int32_t Grp;
  bool Inserted = false, Modified = false, Deleted = false;
  int32_t Before = -1;  // a deleted row: the row it stood before (-1 at the end)
  int32_t Seq = 0;      // a deleted row: when it was deleted
  bool Pending() const { return Inserted || Modified || Deleted; }
};

class LinkModel {
public:
  std::map<int32_t, std::pair<std::string, int32_t>> Server;  // ID -> NAME, GRP
  std::map<int32_t, Detail> Changes;                          // cached changes, by ID
  std::vector<int32_t> InsertOrder;                           // cached inserts in the order posted
  std::vector<Detail> Rows;                                   // the detail's rows as shown (deleted ones hidden)
  int32_t Cur = -1;
  int32_t Group = 1;  // the master row's ID

  bool AtEnd() const { return Cur >= static_cast<int32_t>(Rows.size()); }
  bool OnRow() const { return Cur >= 0 && !AtEnd(); }
  int32_t Count() const { return static_cast<int32_t>(Rows.size()); }
  int32_t RowNum() const { return Cur < 0 ? 0 : AtEnd() ? Count() + 1 : Cur + 1; }
  bool Bof() const { return Cur < 0 || Rows.empty(); }
  bool Eof() const { return AtEnd() || Rows.empty(); }
  void SetRowNum(int32_t n) { Cur = n <= 0 ? -1 : n > Count() ? Count() : n - 1; }
  // The detail read for the master row: its rows at the server in key order (cached edits shown,
  // cached deletes hidden), then the rows inserted under cached updates for it; at the first row.
  void Reopen() {
    Rows.clear();
    for (const auto& [id, v] : Server) {
      if (v.second != Group) continue;
      auto c = Changes.find(id);
      if (c == Changes.end()) {
        Rows.push_back(Detail{id, v.first, v.second});
      } else if (!c->second.Deleted) {
        Rows.push_back(c->second);
      }
    }
    for (int32_t id : InsertOrder) {
      const Detail& d = Changes.at(id);
      if (d.Grp == Group) Rows.push_back(d);
    }
    // Read again, the rows deleted under cached updates stand where the key order puts them: a cancel
    // brings each back before the row after it at the server (the larger keys first, and all of them
    // before any row deleted after this).
    int32_t next = -1;
    int32_t seq = 0;
    for (auto it = Server.rbegin(); it != Server.rend(); ++it) {
      if (it->second.second != Group) continue;
      if (auto c = Changes.find(it->first); c != Changes.end() && c->second.Deleted) {
        c->second.Before = next;
        c->second.Seq = INT32_MIN / 2 - seq++;
      }
      next = it->first;
    }
    Cur = Rows.empty() ? 0 : 0;
  }
  void Change(const Detail& D) {
    if (D.Inserted && std::find(InsertOrder.begin(), InsertOrder.end(), D.Id) == InsertOrder.end()) {
      InsertOrder.push_back(D.Id);
    }
    Changes[D.Id] = D;
  }
  void Apply() {
    for (const auto& [id, d] : Changes) {
      if (d.Deleted) {
        Server.erase(id);
      } else {
        Server[id] = {d.Name, d.Grp};
      }
    }
    Changes.clear();
    InsertOrder.clear();
    for (Detail& d : Rows) d.Inserted = d.Modified = false;
  }
  // Cached changes dropped in place: inserted rows leave, edited ones show the server's values again.
  void Cancel() {
    std::vector<Detail> deleted;
    for (const auto& [id, d] : Changes) {
      if (d.Deleted && d.Grp == Group) deleted.push_back(d);
    }
    Changes.clear();
    InsertOrder.clear();
    // Deleted rows come back where they stood (the last deleted first, as the rows then were).
    std::sort(deleted.begin(), deleted.end(), [](const Detail& a, const Detail& b) { return a.Seq > b.Seq; });
    for (Detail d : deleted) {
      d.Deleted = false;
      auto at = std::find_if(Rows.begin(), Rows.end(), [&](const Detail& r) { return r.Id == d.Before; });
      Rows.insert(at, d);
    }
    std::vector<Detail> rows;
    for (Detail d : Rows) {
      if (d.Inserted) continue;
      if (d.Modified) d.Name = Server.at(d.Id).first;
      d.Modified = false;
      rows.push_back(d);
    }
    Rows = std::move(rows);
  }
};

class BDatasetLinkJourneyTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE M (ID INTEGER NOT NULL PRIMARY KEY, TITLE VARCHAR(20))");
    Tr->Commit();
  }

  std::string Journey(uint32_t Seed, int Steps, bool WholeRows) {
    std::mt19937 rnd(Seed);
    auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rnd); };
    Exec("DELETE FROM T");
    Exec("DELETE FROM M");
    LinkModel m;
    const int32_t groups = 4;
    for (int32_t g = 1; g <= groups; ++g)
      Exec("INSERT INTO M VALUES (" + std::to_string(g) + ", 'm" + std::to_string(g) + "')");
    for (int32_t id = 1; id <= 24; ++id) {
      const int32_t grp = 1 + id % groups;
      m.Server[id] = {"n" + std::to_string(id), grp};
      Exec("INSERT INTO T VALUES (" + std::to_string(id) + ", 'n" + std::to_string(id) + "', " + std::to_string(grp) +
           ")");
    }
    Tr->Commit();
    auto* masterSource = new TIB_DataSource(Owner);
    TIB_Query* master = NewQuery("SELECT ID, TITLE FROM M ORDER BY ID");
    master->SetCommitAction(caRefresh);
    masterSource->SetDataset(master);
    master->Open();
    auto* detailSource = new TIB_DataSource(Owner);
    TIB_Query* detail = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
    detail->GetMasterLinks().SetText("GRP=M.ID");
    detail->SetMasterSource(masterSource);
    detail->SetRequestLive(true);
    detail->SetCommitAction(caRefresh);
    detail->SetFetchWholeRows(WholeRows);
    detailSource->SetDataset(detail);
    detail->Open();
    m.Reopen();
    // The lookup list of master rows, following the detail row's group.
    TIB_Query* lookup = NewQuery("SELECT ID, TITLE FROM M ORDER BY ID");
    TStringList links;
    links.SetText("M.ID=GRP");
    lookup->SetKeyLinks(links);
    const bool seeking = Seed % 2 == 0;
    lookup->SetKeySeeking(seeking);
    lookup->SetCommitAction(caRefresh);
    lookup->SetKeySource(detailSource);
    lookup->Open();
    std::ostringstream log;
    // Without KeySeeking the lookup's buffer row is only a highlight: a commit's refresh of the lookup
    // (or its own refresh) may reset it; it is checked until the first of those.
    bool loose = false;
    auto newId = [&] {
      for (;;) {
        const int32_t id = pick(30, 400);
        if (!m.Server.count(id) && !m.Changes.count(id)) return id;
      }
    };
    auto check = [&](bool All) -> std::string {
      std::ostringstream err;
      if (master->GetRowNum() != m.Group)
        err << " master RowNum " << master->GetRowNum() << " (model " << m.Group << ")";
      if (master->GetState() != dssBrowse) err << " master state " << master->GetState();
      if (detail->GetState() != dssBrowse) err << " detail state " << detail->GetState();
      if (detail->GetRowNum() != m.RowNum())
        err << " RowNum " << detail->GetRowNum() << " (model " << m.RowNum() << ")";
      if (detail->GetBof() != m.Bof()) err << " Bof " << detail->GetBof();
      if (detail->GetEof() != m.Eof()) err << " Eof " << detail->GetEof();
      const bool pending = !m.Changes.empty();
      if (detail->GetUpdatesPending() != pending) err << " UpdatesPending " << detail->GetUpdatesPending();
      TIB_Row* f = detail->GetFields();
      auto text = [](TIB_Row* R) {
        std::string s;
        for (int i = 0; i < R->GetColumnCount(); ++i) {
          s += (i ? ":" : "") + (R->GetColumns(i)->GetIsNull() ? std::string("null") : R->GetColumns(i)->GetAsString());
        }
        return s;
      };
      auto modelText = [](const Detail& d) {
        return std::to_string(d.Id) + ":" + d.Name + ":" + std::to_string(d.Grp);
      };
      if (m.OnRow()) {
        if (text(f) != modelText(m.Rows[m.Cur]))
          err << " row " << text(f) << " (model " << modelText(m.Rows[m.Cur]) << ")";
      }
      // The lookup stands on the detail row's group (nothing off the rows).
      const int32_t at = seeking ? lookup->GetRowNum() : lookup->GetBufferRowNum();
      const int32_t want = m.OnRow() ? m.Rows[m.Cur].Grp : 0;
      if (at != want && !(loose && !seeking)) err << " lookup at " << at << " (model " << want << ")";
      if (All && err.str().empty()) {
        std::string rows, model;
        for (int32_t i = 1; i <= m.Count(); ++i) {
          detail->SetBufferRowNum(i);
          if (detail->GetBufferRowNum() != i) break;
          rows += text(detail->GetBufferFields()) + ";";
        }
        for (const Detail& d : m.Rows) model += modelText(d) + ";";
        if (rows != model) err << " rows\n    " << rows << "\n  model\n    " << model;
      }
      return err.str();
    };
    // A failure the library reports to the application instead of raising it fails the journey too.
    testsupport::ExceptionSink sink;
    std::string failure;
    for (int step = 0; step < Steps && failure.empty(); ++step) {
      const int action = pick(0, 15);
      const bool cached = detail->GetCachedUpdates();
      if (action == 10 || action == 11 || action == 12) loose = true;
      bool all = step + 1 == Steps;
      try {
        switch (action) {
          case 0:
          case 1: {
            // The master scrolls: the detail shows the new master row's rows (read again also when the
            // master row is shown again).
            const int32_t g = pick(1, groups);
            log << "master " << g << "; ";
            master->SetRowNum(g);
            m.Group = g;
            m.Reopen();
            // The rows inserted under cached updates come back behind the fetched ones; their order
            // among themselves is not what this journey checks: the model takes the detail's.
            std::vector<int32_t> shown;
            for (int32_t i = 1; i <= m.Count(); ++i) {
              detail->SetBufferRowNum(i);
              if (detail->GetBufferRowNum() != i) break;
              shown.push_back(detail->GetBufferFields()->ColumnByName("ID")->GetAsInteger());
            }
            const auto firstInserted =
                std::find_if(m.Rows.begin(), m.Rows.end(), [](const Detail& d) { return d.Inserted; });
            const size_t from = static_cast<size_t>(firstInserted - m.Rows.begin());
            std::vector<int32_t> modelTail;
            for (auto it = firstInserted; it != m.Rows.end(); ++it) modelTail.push_back(it->Id);
            if (shown.size() == m.Rows.size() && std::is_permutation(shown.begin() + static_cast<std::ptrdiff_t>(from),
                                                                     shown.end(), modelTail.begin(), modelTail.end())) {
              std::vector<Detail> tail(firstInserted, m.Rows.end());
              for (size_t i = from; i < shown.size(); ++i) {
                m.Rows[i] = *std::find_if(tail.begin(), tail.end(), [&](const Detail& d) { return d.Id == shown[i]; });
              }
            }
            all = true;
            break;
          }
          case 2:
            if (m.Eof()) continue;
            log << "Next; ";
            detail->Next();
            m.SetRowNum(m.RowNum() + 1);
            break;
          case 3:
            if (m.Bof()) continue;
            log << "Prior; ";
            detail->Prior();
            m.SetRowNum(m.AtEnd() ? m.Count() : m.RowNum() - 1);
            break;
          case 4: {
            const int32_t n = pick(0, m.Count() + 1);
            log << "RowNum " << n << "; ";
            detail->SetRowNum(n);
            m.SetRowNum(n);
            break;
          }
          case 5:
          case 6: {
            if (!m.OnRow()) continue;
            const std::string name = "e" + std::to_string(step);
            const bool post = pick(0, 3) > 0;
            log << "Edit " << name << (post ? " Post; " : " Cancel; ");
            detail->Edit();
            detail->GetFields()->ColumnByName("NAME")->SetAsString(name);
            if (!post) {
              detail->Cancel();
              break;
            }
            detail->Post();
            Detail& d = m.Rows[m.Cur];
            d.Name = name;
            if (cached) {
              if (!d.Inserted) d.Modified = true;
              m.Change(d);
            } else {
              m.Server[d.Id] = {d.Name, d.Grp};
            }
            break;
          }
          case 7:
          case 8: {
            // A new detail row takes the master's key from the links.
            const int32_t id = newId();
            const bool post = pick(0, 3) > 0;
            log << "Insert " << id << (post ? " Post; " : " Cancel; ");
            detail->Insert();
            detail->GetFields()->ColumnByName("ID")->SetAsInteger(id);
            detail->GetFields()->ColumnByName("NAME")->SetAsString("i" + std::to_string(id));
            const int32_t at = m.Cur < 0 ? 0 : std::min(m.Cur, m.Count());
            if (!post) {
              detail->Cancel();
              m.Cur = std::min(at, m.Count());
              if (m.Cur >= m.Count() && m.Count() > 0) m.Cur = m.Count() - 1;
              break;
            }
            detail->Post();
            Detail d{id, "i" + std::to_string(id), m.Group};
            d.Inserted = cached;
            if (cached) {
              m.Change(d);
            } else {
              m.Server[id] = {d.Name, d.Grp};
            }
            m.Rows.insert(m.Rows.begin() + at, d);
            m.Cur = at;
            break;
          }
          case 9: {
            if (!m.OnRow()) continue;
            log << "Delete; ";
            detail->Delete();
            Detail d = m.Rows[m.Cur];
            if (!cached) {
              m.Server.erase(d.Id);
            } else if (d.Inserted) {
              m.Changes.erase(d.Id);
              m.InsertOrder.erase(std::find(m.InsertOrder.begin(), m.InsertOrder.end(), d.Id));
            } else {
              d.Deleted = true;
              d.Modified = false;
              d.Name = m.Server.at(d.Id).first;  // a deleted row goes by the values the server has
              d.Before = m.Cur + 1 < m.Count() ? m.Rows[m.Cur + 1].Id : -1;
              d.Seq = step;
              m.Change(d);
            }
            m.Rows.erase(m.Rows.begin() + m.Cur);
            if (m.Cur >= m.Count() && m.Count() > 0) m.Cur = m.Count() - 1;
            break;
          }
          case 10:
            if (cached) {
              if (!m.Changes.empty() && pick(0, 1)) {
                log << "CancelUpdates; ";
                detail->CancelUpdates();
                m.Cancel();
                // Where the detail stands after the cancel is not what this journey checks.
                m.SetRowNum(detail->GetRowNum());
              } else {
                log << "ApplyUpdates; ";
                Tr->ApplyUpdates();
                m.Apply();
                m.Reopen();
                m.SetRowNum(detail->GetRowNum());
              }
            } else {
              log << "Commit; ";
              Tr->Commit();
              m.Reopen();
              m.SetRowNum(detail->GetRowNum());
            }
            all = true;
            break;
          case 11:
            if (cached) {
              log << "CachedUpdates off; ";
              detail->SetCachedUpdates(false);
              m.Cancel();
              m.SetRowNum(detail->GetRowNum());
            } else {
              // Applying needs a transaction without other writes: what was written is committed first.
              log << "Commit, CachedUpdates on; ";
              if (Tr->GetStarted()) {
                Tr->Commit();
                m.Reopen();
                m.SetRowNum(detail->GetRowNum());
              }
              detail->SetCachedUpdates(true);
            }
            break;
          case 12:
            // The lookup list is read again, or closed and opened: the detail row stays as it is.
            if (pick(0, 1)) {
              log << "lookup Refresh; ";
              lookup->Refresh();
            } else {
              log << "lookup reopen; ";
              lookup->Close();
              lookup->Open();
            }
            break;
          case 13: {
            // The lookup list is painted by a drop-down.
            const int32_t from = pick(1, groups);
            log << "lookup paint " << from << "; ";
            for (int32_t i = from; i <= groups; ++i) lookup->SetBufferRowNum(i);
            if (!seeking) {
              // Without seeking, the drop-down goes back to the row of the detail's key.
              lookup->SetBufferRowNum(m.OnRow() ? m.Rows[m.Cur].Grp : 0);
            }
            break;
          }
          case 14: {
            // Editing the detail row while the master list is painted by a grid.
            if (!m.OnRow()) continue;
            const std::string name = "p" + std::to_string(step);
            log << "Edit " << name << " [master paint] Post; ";
            detail->Edit();
            detail->GetFields()->ColumnByName("NAME")->SetAsString(name);
            for (int32_t i = 1; i <= groups; ++i) master->SetBufferRowNum(i);
            detail->Post();
            Detail& d = m.Rows[m.Cur];
            d.Name = name;
            if (cached) {
              if (!d.Inserted) d.Modified = true;
              m.Change(d);
            } else {
              m.Server[d.Id] = {d.Name, d.Grp};
            }
            break;
          }
          case 15:
            log << "FetchAll; ";
            detail->FetchAll();
            all = true;
            break;
          default: break;
        }
      } catch (const std::exception& e) {
        failure = std::string(" raised: ") + e.what();
      }
      if (failure.empty()) failure = check(all);
      if (failure.empty() && !sink.Messages.empty()) failure = " reported: " + sink.Messages.front();
      if (!failure.empty()) failure = "after step " + std::to_string(step) + ":" + failure;
    }
    if (failure.empty()) {
      try {
        if (detail->GetCachedUpdates()) {
          Tr->ApplyUpdates();
          m.Apply();
        } else if (Tr->GetStarted()) {
          Tr->Commit();
        }
        std::string model;
        for (const auto& [id, v] : m.Server) {
          model += (model.empty() ? "" : ";") + std::to_string(id) + "," + v.first + "," + std::to_string(v.second);
        }
        const std::string table = ReadSecond("SELECT ID, NAME, GRP FROM T ORDER BY ID", ",");
        if (table != model) failure = "at the end the table holds\n    " + table + "\n  model\n    " + model;
        const std::string masters = ReadSecond("SELECT ID, TITLE FROM M ORDER BY ID", ",");
        if (masters != "1,m1;2,m2;3,m3;4,m4") failure += " the master table holds " + masters;
      } catch (const std::exception& e) {
        failure = std::string("at the end raised: ") + e.what();
      }
      if (failure.empty() && !sink.Messages.empty()) failure = "at the end reported: " + sink.Messages.front();
    }
    lookup->SetKeySource(nullptr);
    delete lookup;
    delete detail;
    delete master;
    delete detailSource;
    delete masterSource;
    if (Tr->GetStarted()) Tr->Rollback();
    return failure.empty() ? failure : failure + "\n  steps: " + log.str();
  }
};

// Every journey keeps the detail where the model has it, the master where it was put and the lookup on
// the detail row's group, and the tables end as the model says.
TEST_F(BDatasetLinkJourneyTest, MasterDetailAndLookupKeepTheRowsTheModelHolds) {
  for (uint32_t seed : datasettest::JourneySeeds(4, 4099, 7)) {
    for (bool whole : {true, false}) {
      const std::string failure = Journey(seed, 80, whole);
      EXPECT_TRUE(failure.empty()) << "seed " << seed << (whole ? "" : " keys only") << " " << failure;
      if (!failure.empty()) return;
    }
  }
}

}  // namespace

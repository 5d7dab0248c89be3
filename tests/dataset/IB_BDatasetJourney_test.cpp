// Seeded random journeys of grid actions on a TIB_Query (moves, row numbers, inserts, edits, deletes,
// cancels, refreshes, filter changes, commits, cached updates applied and cancelled), each step checked
// against a plain model of the rows: the visible rows in their order, the current row and its values,
// the row number, Bof/Eof and whether updates are pending. At the end the table read through a second
// attachment must hold exactly what the model says. A failure prints the seed and the steps taken;
// DBLIB_JOURNEY_SEED=<n> replays one seed, DBLIB_JOURNEY_SEEDS=<count> runs more of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

using datasettest::DatasetDbTest;

// One row as the dataset should hold it.
struct Entry {
  int32_t Id;
  std::string Name;     // as shown
  std::string OldName;  // as the server has it (cached edits)
  bool Inserted = false, Modified = false, Deleted = false;
  bool Visible() const { return !Deleted; }
  bool Pending() const { return Inserted || Modified || Deleted; }
};

class Model {
public:
  std::map<int32_t, std::string> Server;  // what the transaction holds
  std::map<int32_t, std::string> Committed;
  std::vector<Entry> Rows;                // the dataset's rows, hidden ones included
  std::map<int32_t, Entry> Retained;      // rows with cached changes that a filter keeps out of view
  int32_t Cur = -1;                       // index into Rows; -1 before the first, Rows.size() after the last
  bool Filtered = false;
  bool KeepDataPos = false;
  bool ByName = false;                    // the query's order: NAME, else ID               // the refresh action: the row by its key, else the row number
  int32_t FilterAbove = 0;                // the filter: ID > FilterAbove

  int32_t VisibleCount() const {
    return static_cast<int32_t>(std::count_if(Rows.begin(), Rows.end(), [](const Entry& e) { return e.Visible(); }));
  }
  bool AtEnd() const { return Cur >= static_cast<int32_t>(Rows.size()); }
  bool OnRow() const { return Cur >= 0 && !AtEnd(); }
  int32_t RowNum() const {
    if (Cur < 0) return 0;
    int32_t n = 0;
    for (int32_t i = 0; i <= Cur && i < static_cast<int32_t>(Rows.size()); ++i) n += Rows[i].Visible();
    return AtEnd() ? n + 1 : n;
  }
  bool Bof() const { return Cur < 0 || VisibleCount() == 0; }
  bool Eof() const { return AtEnd() || VisibleCount() == 0; }
  bool Pending() const {
    return !Retained.empty() || std::any_of(Rows.begin(), Rows.end(), [](const Entry& e) { return e.Pending(); });
  }
  // Index of visible row n (1-based).
  int32_t IndexOf(int32_t n) const {
    for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
      if (Rows[i].Visible() && --n == 0) return i;
    }
    return -1;
  }
  void SetRowNum(int32_t n) {
    const int32_t count = VisibleCount();
    if (n <= 0) {
      Cur = -1;
    } else if (n > count) {
      Cur = static_cast<int32_t>(Rows.size());
    } else {
      Cur = IndexOf(n);
    }
  }
  // After the current row left the view (removed at Removed, or hidden): the row after it, else the one
  // before it.
  void MoveOff(int32_t From) {
    for (int32_t i = From; i < static_cast<int32_t>(Rows.size()); ++i) {
      if (Rows[i].Visible()) {
        Cur = i;
        return;
      }
    }
    for (int32_t i = std::min(From, static_cast<int32_t>(Rows.size())) - 1; i >= 0; --i) {
      if (Rows[i].Visible()) {
        Cur = i;
        return;
      }
    }
    Cur = static_cast<int32_t>(Rows.size());
  }
  void Remove(int32_t At) {
    Rows.erase(Rows.begin() + At);
    MoveOff(At);
  }
  // A reopen: the rows the server gives in key order (cached changes kept on their rows), then the rows
  // inserted under cached updates; the row number is kept.
  void Reopen() {
    const bool wasEnd = AtEnd() && VisibleCount() > 0;
    const int32_t row = RowNum();
    const int32_t id = OnRow() ? Rows[Cur].Id : -1;
    std::map<int32_t, Entry> kept = std::move(Retained);
    Retained.clear();
    std::vector<Entry> inserted;
    for (const Entry& e : Rows) {
      if (e.Inserted) {
        inserted.push_back(e);
      } else if (e.Pending()) {
        kept[e.Id] = e;
      }
    }
    std::vector<std::pair<int32_t, std::string>> order(Server.begin(), Server.end());
    if (ByName) {
      std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    }
    std::vector<Entry> rows;
    for (const auto& [id, name] : order) {
      if (Filtered && id <= FilterAbove) continue;
      auto k = kept.find(id);
      if (k != kept.end()) {
        rows.push_back(k->second);
        kept.erase(k);
      } else {
        rows.push_back(Entry{id, name, name});
      }
    }
    Retained = std::move(kept);
    rows.insert(rows.end(), inserted.begin(), inserted.end());
    Rows = std::move(rows);
    const int32_t count = VisibleCount();
    if (KeepDataPos) {
      // The same row when it is there, else the first one.
      Cur = count > 0 ? IndexOf(1) : static_cast<int32_t>(Rows.size());
      for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
        if (Rows[i].Visible() && Rows[i].Id == id) Cur = i;
      }
    } else if (row == 0) {
      Cur = -1;
    } else if (row <= count) {
      Cur = IndexOf(row);
    } else if (wasEnd || count == 0) {
      Cur = static_cast<int32_t>(Rows.size());
    } else {
      Cur = IndexOf(count);
    }
  }
  void Apply() {
    for (const auto& [id, e] : Retained) {
      if (e.Deleted) {
        Server.erase(id);
      } else {
        Server[id] = e.Name;
      }
    }
    Retained.clear();
    for (Entry& e : Rows) {
      if (e.Deleted) {
        Server.erase(e.Id);
      } else if (e.Inserted || e.Modified) {
        Server[e.Id] = e.Name;
      }
    }
    std::vector<Entry> rows;
    for (Entry& e : Rows) {
      if (e.Deleted) continue;
      e.Inserted = e.Modified = false;
      e.OldName = e.Name;
      rows.push_back(e);
    }
    // The current row stays (deleted rows were never current).
    int32_t cur = 0;
    for (int32_t i = 0; i < Cur && i < static_cast<int32_t>(Rows.size()); ++i) cur += !Rows[i].Deleted;
    Rows = std::move(rows);
    Cur = Cur < 0 ? -1 : cur;
  }
  void CancelCached() {
    Retained.clear();
    const Entry* current = OnRow() ? &Rows[Cur] : nullptr;
    const bool currentGoes = current && current->Inserted;
    int32_t at = -1;  // where the current row was, among the rows that stay
    std::vector<Entry> rows;
    for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
      Entry e = Rows[i];
      if (i == Cur) at = static_cast<int32_t>(rows.size());
      if (e.Inserted) continue;
      if (e.Modified || e.Deleted) e.Name = e.OldName;
      e.Modified = e.Deleted = false;
      rows.push_back(e);
    }
    const bool end = AtEnd();
    Rows = std::move(rows);
    if (Cur < 0) return;
    if (end) {
      Cur = static_cast<int32_t>(Rows.size());
    } else if (currentGoes) {
      MoveOff(at);
    } else {
      Cur = at;
    }
  }
};

class BDatasetJourneyTest : public DatasetDbTest {
protected:
  TIB_Connection* Conn2 = nullptr;
  TIB_Transaction* Tr2 = nullptr;

  std::string ReadBack() {
    Conn2 = new TIB_Connection(Owner);
    Conn2->SetDatabaseName(Conn->GetDatabaseName());
    Conn2->SetCharSet("ISO8859_1");
    Conn2->Connect();
    Tr2 = new TIB_Transaction(Owner);
    Tr2->SetIB_Connection(Conn2);
    auto* c = new TIB_Cursor(Owner);
    c->SetIB_Connection(Conn2);
    c->SetIB_Transaction(Tr2);
    c->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
    c->Open();
    std::string out;
    for (; !c->GetEof(); c->Next()) {
      out += std::to_string(c->GetFields()->GetColumns(0)->GetAsInteger()) + ":" +
             c->GetFields()->GetColumns(1)->GetAsString() + ";";
    }
    delete c;
    Tr2->Commit();
    delete Conn2;
    return out;
  }

  // Runs one journey; returns an empty text, or what went wrong with the steps taken.
  std::string Journey(uint32_t Seed, int Steps, bool WholeRows) {
    std::mt19937 rnd(Seed);
    auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rnd); };
    Exec("DELETE FROM T");
    Model m;
    for (int32_t id = 2; id <= 40; id += 2) m.Server[id] = "n" + std::to_string(id);
    for (const auto& [id, name] : m.Server) {
      Exec("INSERT INTO T (ID, NAME) VALUES (" + std::to_string(id) + ", '" + name + "')");
    }
    Tr->Commit();
    m.Committed = m.Server;
    auto* q = new TIB_Query(Owner);
    q->SetFetchWholeRows(WholeRows);
    m.KeepDataPos = Seed % 3 == 0;
    if (m.KeepDataPos) q->SetRefreshAction(raKeepDataPos);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    m.ByName = Seed % 4 == 1;
    q->GetSQL().SetText(m.ByName ? "SELECT ID, NAME FROM T ORDER BY NAME" : "SELECT ID, NAME FROM T ORDER BY ID");
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    q->Open();
    m.Reopen();
    m.Cur = m.VisibleCount() > 0 ? m.IndexOf(1) : 0;
    std::ostringstream log;
    auto newId = [&] {
      for (;;) {
        // Above every filter's bound: a row that leaves the query when it is read again (RefreshRows)
        // is not what the journeys check.
        const int32_t id = pick(21, 300);
        bool used = m.Server.count(id) > 0;
        for (const Entry& e : m.Rows) used = used || e.Id == id;
        if (!used) return id;
      }
    };
    auto check = [&](bool All) -> std::string {
      std::ostringstream err;
      if (q->GetRowNum() != m.RowNum()) err << " RowNum " << q->GetRowNum() << " (model " << m.RowNum() << ")";
      if (q->GetBof() != m.Bof()) err << " Bof " << q->GetBof();
      if (q->GetEof() != m.Eof()) err << " Eof " << q->GetEof();
      if (q->GetUpdatesPending() != m.Pending()) err << " UpdatesPending " << q->GetUpdatesPending();
      TIB_Row* f = q->GetFields();
      if (m.OnRow()) {
        const Entry& e = m.Rows[m.Cur];
        const std::string id = f->GetColumns(0)->GetIsNull() ? "null" : f->GetColumns(0)->GetAsString();
        const std::string name = f->GetColumns(1)->GetIsNull() ? "null" : f->GetColumns(1)->GetAsString();
        if (id != std::to_string(e.Id) || name != e.Name) {
          err << " row " << id << ":" << name << " (model " << e.Id << ":" << e.Name << ")";
        }
      } else if (f->GetRowState() != rsNone && !f->GetColumns(0)->GetIsNull()) {
        err << " a row shown off the rows: " << f->GetColumns(0)->GetAsString();
      }
      if (All && err.str().empty()) {
        std::string rows, model;
        const int32_t count = m.VisibleCount();
        for (int32_t i = 1; i <= count; ++i) {
          q->SetBufferRowNum(i);
          if (q->GetBufferRowNum() != i) break;
          TIB_Row* b = q->GetBufferFields();
          rows += b->GetColumns(0)->GetAsString() + ":" + b->GetColumns(1)->GetAsString() + ";";
        }
        for (const Entry& e : m.Rows) {
          if (e.Visible()) model += std::to_string(e.Id) + ":" + e.Name + ";";
        }
        if (rows != model) err << " rows\n    " << rows << "\n  model\n    " << model;
      }
      return err.str();
    };
    // A failure the library reports to the application instead of raising it fails the journey too.
    testsupport::ExceptionSink sink;
    std::string failure;
    for (int step = 0; step < Steps && failure.empty(); ++step) {
      const int action = pick(0, 21);
      const bool cached = q->GetCachedUpdates();
      try {
        switch (action) {
          case 0:
          case 1:
            if (m.Eof()) continue;
            log << "Next; ";
            q->Next();
            m.SetRowNum(m.AtEnd() ? m.VisibleCount() + 1 : m.RowNum() + 1);
            break;
          case 2:
            if (m.Bof()) continue;
            log << "Prior; ";
            q->Prior();
            m.SetRowNum(m.AtEnd() ? m.VisibleCount() : m.RowNum() - 1);
            break;
          case 3: {
            const int32_t n = pick(0, m.VisibleCount() + 1);
            log << "RowNum " << n << "; ";
            q->SetRowNum(n);
            m.SetRowNum(n);
            break;
          }
          case 4:
            log << "Last; ";
            q->Last();
            m.SetRowNum(m.VisibleCount());
            break;
          case 5:
            log << "First; ";
            q->First();
            m.SetRowNum(1);
            break;
          case 6:
          case 7: {
            if (!m.OnRow()) continue;
            const std::string name = "e" + std::to_string(step);
            const bool post = pick(0, 3) > 0;
            log << "Edit NAME " << name << (post ? " Post; " : " Cancel; ");
            q->Edit();
            q->GetFields()->ColumnByName("NAME")->SetAsString(name);
            if (!post) {
              q->Cancel();
              break;
            }
            q->Post();
            Entry& e = m.Rows[m.Cur];
            e.Name = name;
            if (cached) {
              if (!e.Inserted) e.Modified = true;
            } else {
              m.Server[e.Id] = name;
              e.OldName = name;
            }
            break;
          }
          case 8:
          case 9: {
            const int32_t id = newId();
            const bool post = pick(0, 2) > 0;
            const bool append = pick(0, 3) == 0;
            log << (append ? "Append ID " : "Insert ID ") << id << (post ? " Post; " : " Cancel; ");
            if (append) {
              q->Append();
            } else {
              q->Insert();
            }
            q->GetFields()->ColumnByName("ID")->SetAsInteger(id);
            q->GetFields()->ColumnByName("NAME")->SetAsString("i" + std::to_string(id));
            const int32_t at = append ? static_cast<int32_t>(m.Rows.size()) : m.Cur < 0 ? 0 : m.Cur;
            if (!post) {
              // The cancelled row leaves the view: the row after it shows, at the end the one before it.
              q->Cancel();
              m.MoveOff(std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size())));
              break;
            }
            q->Post();
            Entry e{id, "i" + std::to_string(id), "i" + std::to_string(id)};
            e.Inserted = cached;
            if (!cached) m.Server[id] = e.Name;
            m.Rows.insert(m.Rows.begin() + std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size())), e);
            m.Cur = std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size()) - 1);
            break;
          }
          case 10:
          case 11: {
            if (!m.OnRow()) continue;
            log << "Delete; ";
            q->Delete();
            Entry& e = m.Rows[m.Cur];
            if (!cached) {
              m.Server.erase(e.Id);
              m.Remove(m.Cur);
            } else if (e.Inserted) {
              m.Remove(m.Cur);
            } else {
              e.Deleted = true;
              e.Modified = false;
              m.MoveOff(m.Cur + 1);
            }
            break;
          }
          case 12:
            log << "Refresh; ";
            q->Refresh();
            m.Reopen();
            break;
          case 13: {
            const bool on = pick(0, 2) > 0;
            const int32_t above = pick(0, 20);
            log << (on ? "Filter ID > " + std::to_string(above) : std::string("Filtered off")) << "; ";
            if (on) {
              q->SetFilter("ID > " + std::to_string(above));
              if (q->GetFiltered() && (!m.Filtered || m.FilterAbove != above)) {
                m.FilterAbove = above;
                m.Reopen();
              } else if (!q->GetFiltered()) {
                q->SetFiltered(true);
                m.Filtered = true;
                m.FilterAbove = above;
                m.Reopen();
              }
            } else if (q->GetFiltered()) {
              q->SetFiltered(false);
              m.Filtered = false;
              m.Reopen();
            }
            break;
          }
          case 14:
            if (cached) {
              if (m.Pending() && pick(0, 1)) {
                log << "CancelUpdates; ";
                q->CancelUpdates();
                m.CancelCached();
              } else {
                log << "ApplyUpdates; ";
                Tr->ApplyUpdates();
                m.Apply();
                m.Committed = m.Server;
                m.Reopen();  // the commit refreshes the query
              }
            } else {
              log << "Commit; ";
              Tr->Commit();
              m.Committed = m.Server;
              m.Reopen();
            }
            break;
          case 15:
            if (cached) {
              log << "CachedUpdates off; ";
              q->SetCachedUpdates(false);
              m.CancelCached();
            } else {
              log << "Commit, CachedUpdates on; ";
              if (Tr->GetStarted()) {
                Tr->Commit();
                m.Committed = m.Server;
                m.Reopen();
              }
              q->SetCachedUpdates(true);
            }
            break;
          case 16: {
            const int32_t n = pick(-3, 3);
            log << "MoveBy " << n << "; ";
            q->MoveBy(n);
            const int32_t from = m.AtEnd() ? m.VisibleCount() + 1 : m.RowNum();
            m.SetRowNum(from + n);
            break;
          }
          case 17:
            log << "RefreshRows; ";
            q->RefreshRows();
            break;
          case 18:
            log << "FetchAll; ";
            q->FetchAll();
            break;
          case 20:
            // What was written since the last commit is undone; the query is refreshed.
            if (!Tr->GetStarted()) continue;
            log << "RollbackRetaining; ";
            Tr->RollbackRetaining();
            m.Server = m.Committed;
            m.Reopen();
            break;
          case 21: {
            // A grid paints the rows around the current one (each row shown is checked against the model).
            const int32_t from = std::max(1, m.RowNum() - pick(0, 4)), to = from + pick(0, 8);
            log << "Paint " << from << ".." << to << "; ";
            for (int32_t i = from; i <= to && failure.empty(); ++i) {
              q->SetBufferRowNum(i);
              const int32_t at = m.IndexOf(i);
              if (at < 0) break;
              TIB_Row* b = q->GetBufferFields();
              const std::string shown = b->GetColumns(0)->GetAsString() + ":" + b->GetColumns(1)->GetAsString();
              const std::string model = std::to_string(m.Rows[at].Id) + ":" + m.Rows[at].Name;
              if (shown != model) failure = "painted row " + std::to_string(i) + " " + shown + " (model " + model + ")";
            }
            break;
          }
          default: break;
        }
      } catch (const std::exception& e) {
        failure = std::string("raised: ") + e.what();
        break;
      }
      if (failure.empty()) failure = check(action == 19 || step + 1 == Steps);
      if (failure.empty() && !sink.Messages.empty()) failure = " reported: " + sink.Messages.front();
      if (!failure.empty()) failure = "after step " + std::to_string(step) + ":" + failure;
    }
    if (failure.empty()) {
      // Whatever is pending goes to the server; the table then holds the model's rows.
      try {
        if (q->GetCachedUpdates()) {
          Tr->ApplyUpdates();
          m.Apply();
        } else if (Tr->GetStarted()) {
          Tr->Commit();
        }
        std::string model;
        for (const auto& [id, name] : m.Server) model += std::to_string(id) + ":" + name + ";";
        const std::string table = ReadBack();
        if (table != model) failure = "at the end the table holds\n    " + table + "\n  model\n    " + model;
      } catch (const std::exception& e) {
        failure = std::string("at the end raised: ") + e.what();
      }
      if (failure.empty() && !sink.Messages.empty()) failure = "at the end reported: " + sink.Messages.front();
    }
    delete q;
    if (Tr->GetStarted()) Tr->Rollback();
    return failure.empty() ? failure : failure + "\n  steps: " + log.str();
  }
};

// Every journey leaves the dataset where the model is after every step, and the table as the model says.
TEST_F(BDatasetJourneyTest, GridActionsKeepTheRowsTheModelHolds) {
  for (uint32_t seed : datasettest::JourneySeeds(6, 7919, 3)) {
    for (bool whole : {true, false}) {
      const std::string failure = Journey(seed, 120, whole);
      EXPECT_TRUE(failure.empty()) << "seed " << seed << (whole ? "" : " keys only") << " " << failure;
      if (!failure.empty()) return;
    }
  }
}

}  // namespace

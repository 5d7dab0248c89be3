// Seeded random journeys over a table with a text and a binary blob: moves, edits and inserts that set
// the blobs (a grid painting other rows, a row invalidated or the rows read again while the edit is
// open), deletes, bookmarks taken and set again, refreshes, a second query on the same table that edits
// and deletes rows (its DML-cache notices reach the first one), filters, commits and cached updates.
// After every step the dataset is checked against a plain model of the rows; at the end the table read
// through a second attachment must hold what the model says. A failure prints the seed and the steps;
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

struct Values {
  std::string Name, Txt, Bin;  // "null" for a null column
  bool operator==(const Values&) const = default;
  std::string Text(int32_t Id) const { return std::to_string(Id) + "|" + Name + "|" + Txt + "|" + Bin; }
};

struct Entry {
  int32_t Id;
  Values Shown;
  bool Inserted = false, Modified = false, Deleted = false;
  bool Visible() const { return !Deleted; }
  bool Pending() const { return Inserted || Modified || Deleted; }
};

class Model {
public:
  std::map<int32_t, Values> Server, Committed;
  std::vector<Entry> Rows;
  std::map<int32_t, Entry> Retained;  // rows with cached changes a filter keeps out of view
  int32_t Cur = -1;
  bool Filtered = false;
  int32_t FilterAbove = 0;

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
  bool PendingOn(int32_t Id) const {
    if (Retained.count(Id)) return true;
    return std::any_of(Rows.begin(), Rows.end(), [&](const Entry& e) { return e.Id == Id && e.Pending(); });
  }
  int32_t IndexOf(int32_t n) const {
    for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
      if (Rows[i].Visible() && --n == 0) return i;
    }
    return -1;
  }
  int32_t IndexOfId(int32_t Id) const {
    for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
      if (Rows[i].Id == Id) return i;
    }
    return -1;
  }
  void SetRowNum(int32_t n) {
    if (n <= 0) {
      Cur = -1;
    } else if (n > VisibleCount()) {
      Cur = static_cast<int32_t>(Rows.size());
    } else {
      Cur = IndexOf(n);
    }
  }
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
  // A reopen: the server's rows in key order (cached changes kept on their rows), then the rows inserted
  // under cached updates; the row number is kept.
  void Reopen() {
    const bool wasEnd = AtEnd() && VisibleCount() > 0;
    const int32_t row = RowNum();
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
    std::vector<Entry> rows;
    for (const auto& [id, v] : Server) {
      if (Filtered && id <= FilterAbove) continue;
      auto k = kept.find(id);
      if (k != kept.end()) {
        rows.push_back(k->second);
        kept.erase(k);
      } else {
        rows.push_back(Entry{id, v});
      }
    }
    Retained = std::move(kept);
    rows.insert(rows.end(), inserted.begin(), inserted.end());
    Rows = std::move(rows);
    const int32_t count = VisibleCount();
    if (row == 0) {
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
        Server[id] = e.Shown;
      }
    }
    Retained.clear();
    for (Entry& e : Rows) {
      if (e.Deleted) {
        Server.erase(e.Id);
      } else if (e.Inserted || e.Modified) {
        Server[e.Id] = e.Shown;
      }
    }
    std::vector<Entry> rows;
    for (Entry& e : Rows) {
      if (e.Deleted) continue;
      e.Inserted = e.Modified = false;
      rows.push_back(e);
    }
    int32_t cur = 0;
    for (int32_t i = 0; i < Cur && i < static_cast<int32_t>(Rows.size()); ++i) cur += !Rows[i].Deleted;
    Rows = std::move(rows);
    Cur = Cur < 0 ? -1 : cur;
  }
  void CancelCached() {
    Retained.clear();
    const bool currentGoes = OnRow() && Rows[Cur].Inserted;
    int32_t at = -1;
    std::vector<Entry> rows;
    for (int32_t i = 0; i < static_cast<int32_t>(Rows.size()); ++i) {
      Entry e = Rows[i];
      if (i == Cur) at = static_cast<int32_t>(rows.size());
      if (e.Inserted) continue;
      if (e.Modified || e.Deleted) e.Shown = Server.at(e.Id);
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

class BDatasetBlobJourneyTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec(
        "CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), TXT BLOB SUB_TYPE 1, "
        "BIN BLOB SUB_TYPE 0)");
    Tr->Commit();
  }

  static std::string Shown(TIB_Column* C) { return C->GetIsNull() ? "null" : C->GetAsString(); }
  static Values RowValues(TIB_Row* R) {
    return Values{Shown(R->ColumnByName("NAME")), Shown(R->ColumnByName("TXT")), Shown(R->ColumnByName("BIN"))};
  }
  static std::string RowText(TIB_Row* R) { return Shown(R->ColumnByName("ID")) + "|" + RowValues(R).Text(0).substr(2); }
  static void Set(TIB_Row* R, const char* Name, const std::string& Value) {
    TIB_Column* c = R->ColumnByName(Name);
    if (Value == "null") {
      c->Clear();
    } else {
      c->SetAsString(Value);
    }
  }

  std::string Journey(uint32_t Seed, int Steps, bool WholeRows) {
    std::mt19937 rnd(Seed);
    auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rnd); };
    Exec("DELETE FROM B");
    Model m;
    for (int32_t id = 2; id <= 30; id += 2) {
      const std::string s = std::to_string(id);
      m.Server[id] = Values{"n" + s, id % 6 == 0 ? "null" : "text " + s, id % 4 == 0 ? "null" : "bin\x01" + s};
    }
    for (const auto& [id, v] : m.Server) {
      auto lit = [](const std::string& s) { return s == "null" ? s : "'" + s + "'"; };
      Exec("INSERT INTO B (ID, NAME, TXT, BIN) VALUES (" + std::to_string(id) + ", " + lit(v.Name) + ", " + lit(v.Txt) +
           ", " + lit(v.Bin) + ")");
    }
    Tr->Commit();
    m.Committed = m.Server;
    const TIB_DMLCacheFlags announce =
        IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) | IB_DMLCacheFlag(dcfAnnounceDelete);
    const TIB_DMLCacheFlags receive = IB_DMLCacheFlag(dcfReceiveEdit) | IB_DMLCacheFlag(dcfReceiveDelete);
    auto* q = NewQuery("SELECT ID, NAME, TXT, BIN FROM B ORDER BY ID");
    q->SetFetchWholeRows(WholeRows);
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    q->SetDMLCacheFlags(receive);
    q->Open();
    m.Reopen();
    m.Cur = m.VisibleCount() > 0 ? m.IndexOf(1) : 0;
    // The second query on the table: it edits and deletes rows and announces what it wrote.
    auto* peer = NewQuery("SELECT ID, NAME, TXT, BIN FROM B ORDER BY ID");
    peer->SetRequestLive(true);
    peer->SetDMLCacheFlags(announce);
    std::vector<std::pair<std::string, int32_t>> marks;  // bookmarks taken, with the row's key
    std::ostringstream log;
    auto newId = [&] {
      for (;;) {
        const int32_t id = pick(21, 200);
        bool used = m.Server.count(id) > 0 || m.Retained.count(id) > 0;
        for (const Entry& e : m.Rows) used = used || e.Id == id;
        if (!used) return id;
      }
    };
    // Values for some columns of a row: a new text, a null, or the value kept.
    auto change = [&](Values v, int step) {
      const std::string s = std::to_string(step);
      if (pick(0, 2) == 0) v.Name = "e" + s;
      if (pick(0, 1)) v.Txt = pick(0, 4) ? "t" + s + std::string(pick(0, 3) * 40, 'x') : "null";
      if (pick(0, 1)) v.Bin = pick(0, 4) ? "b\xff" + s : "null";
      return v;
    };
    auto write = [&](const Values& v, const Values& was) {
      TIB_Row* f = q->GetFields();
      if (v.Name != was.Name) Set(f, "NAME", v.Name);
      if (v.Txt != was.Txt) Set(f, "TXT", v.Txt);
      if (v.Bin != was.Bin) Set(f, "BIN", v.Bin);
    };
    // A grid paints rows From..To; each painted row must be the model's (the row being edited shows
    // the values typed so far, Editing).
    auto paint = [&](int32_t From, int32_t To, const Values* Editing = nullptr) -> std::string {
      log << "[paint " << From << ".." << To << "] ";
      for (int32_t i = From; i <= To; ++i) {
        const int32_t at = m.IndexOf(i);
        if (at < 0) break;
        q->SetBufferRowNum(i);
        log << "(row " << i << ") ";
        const std::string shown = RowText(q->GetBufferFields());
        const std::string model = (Editing && at == m.Cur ? *Editing : m.Rows[at].Shown).Text(m.Rows[at].Id);
        if (shown != model) return " painted row " + std::to_string(i) + " " + shown + " (model " + model + ")";
      }
      return std::string();
    };
    auto check = [&](bool All) -> std::string {
      std::ostringstream err;
      if (q->GetRowNum() != m.RowNum()) err << " RowNum " << q->GetRowNum() << " (model " << m.RowNum() << ")";
      if (q->GetBof() != m.Bof()) err << " Bof " << q->GetBof();
      if (q->GetEof() != m.Eof()) err << " Eof " << q->GetEof();
      if (q->GetUpdatesPending() != m.Pending()) err << " UpdatesPending " << q->GetUpdatesPending();
      if (q->GetState() != dssBrowse) err << " state " << q->GetState();
      TIB_Row* f = q->GetFields();
      if (m.OnRow()) {
        const Entry& e = m.Rows[m.Cur];
        const std::string shown = RowText(f), model = e.Shown.Text(e.Id);
        if (shown != model) err << " row " << shown << " (model " << model << ")";
      } else if (f->GetRowState() != rsNone && !f->GetColumns(0)->GetIsNull()) {
        err << " a row shown off the rows: " << f->GetColumns(0)->GetAsString();
      }
      if (All && err.str().empty()) {
        std::string rows, model;
        const int32_t count = m.VisibleCount();
        for (int32_t i = 1; i <= count; ++i) {
          q->SetBufferRowNum(i);
          if (q->GetBufferRowNum() != i) break;
          rows += RowText(q->GetBufferFields()) + ";";
        }
        for (const Entry& e : m.Rows) {
          if (e.Visible()) model += e.Shown.Text(e.Id) + ";";
        }
        if (rows != model) err << " rows\n    " << rows << "\n  model\n    " << model;
      }
      return err.str();
    };
    // A failure the library reports to the application instead of raising it fails the journey too.
    testsupport::ExceptionSink sink;
    std::string failure;
    for (int step = 0; step < Steps && failure.empty(); ++step) {
      const int action = pick(0, 22);
      const bool cached = q->GetCachedUpdates();
      try {
        switch (action) {
          case 0:
            if (m.Eof()) continue;
            log << "Next; ";
            q->Next();
            m.SetRowNum(m.AtEnd() ? m.VisibleCount() + 1 : m.RowNum() + 1);
            break;
          case 1:
            if (m.Bof()) continue;
            log << "Prior; ";
            q->Prior();
            m.SetRowNum(m.AtEnd() ? m.VisibleCount() : m.RowNum() - 1);
            break;
          case 2: {
            const int32_t n = pick(0, m.VisibleCount() + 1);
            log << "RowNum " << n << "; ";
            q->SetRowNum(n);
            m.SetRowNum(n);
            break;
          }
          case 3:
            log << (pick(0, 1) ? (q->Last(), m.SetRowNum(m.VisibleCount()), "Last; ")
                               : (q->First(), m.SetRowNum(1), "First; "));
            break;
          case 4:
          case 5:
          case 6: {
            // Edit some columns; while the edit is open a grid may paint, a row may be invalidated, or
            // the rows read again (which posts the edit first).
            if (!m.OnRow()) continue;
            Entry& e = m.Rows[m.Cur];
            const Values v = change(e.Shown, step);
            const int during = pick(0, 5);
            const bool post = pick(0, 3) > 0 || during == 4;
            log << "Edit " << v.Text(e.Id);
            q->Edit();
            write(v, e.Shown);
            if (during == 1 || during == 2) {
              failure = paint(std::max(1, m.RowNum() - pick(0, 3)), m.RowNum() + pick(0, 4), &v);
            } else if (during == 3) {
              const int32_t n = pick(1, m.VisibleCount());
              q->SetBufferRowNum(n);
              log << "[invalidate row " << n << "] ";
              q->InvalidateBookmark(q->GetBufferBookmark());
            } else if (during == 4) {
              log << "[RefreshRows] ";
              q->RefreshRows();
            }
            if (failure.empty() && RowValues(q->GetFields()) != v && q->GetState() == dssEdit) {
              failure = " the edited row shows " + RowText(q->GetFields());
            }
            log << (post ? " Post; " : " Cancel; ");
            if (post) {
              if (q->GetState() == dssEdit) q->Post();
              e.Shown = v;
              if (cached) {
                if (!e.Inserted) e.Modified = true;
              } else {
                m.Server[e.Id] = v;
              }
            } else {
              q->Cancel();
            }
            break;
          }
          case 7:
          case 8: {
            const int32_t id = newId();
            const bool post = pick(0, 3) > 0;
            const bool append = pick(0, 3) == 0;
            Values v{"i" + std::to_string(id), "null", "null"};
            v = change(v, step);
            log << (append ? "Append " : "Insert ") << v.Text(id);
            if (append) {
              q->Append();
            } else {
              q->Insert();
            }
            q->GetFields()->ColumnByName("ID")->SetAsInteger(id);
            write(v, Values{"null", "null", "null"});
            const int32_t at = append ? static_cast<int32_t>(m.Rows.size()) : m.Cur < 0 ? 0 : m.Cur;
            if (pick(0, 1)) {
              // Painted around the place of the new row (the rows after it are shifted by one in the grid).
              const int32_t from = std::max(1, m.RowNum() - 2);
              log << "[paint " << from << ".." << from + 4 << "] ";
              for (int32_t i = from; i <= from + 4; ++i) q->SetBufferRowNum(i);
            }
            if (RowValues(q->GetFields()) != v) failure = " the inserted row shows " + RowText(q->GetFields());
            log << (post ? " Post; " : " Cancel; ");
            if (!post) {
              q->Cancel();
              m.MoveOff(std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size())));
              break;
            }
            q->Post();
            Entry e{id, v};
            e.Inserted = cached;
            if (!cached) m.Server[id] = v;
            m.Rows.insert(m.Rows.begin() + std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size())), e);
            m.Cur = std::min<int32_t>(at, static_cast<int32_t>(m.Rows.size()) - 1);
            break;
          }
          case 9: {
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
          case 10:
            log << "Refresh; ";
            q->Refresh();
            m.Reopen();
            break;
          case 11:
          case 12:
            if (!m.OnRow()) continue;
            log << "take bookmark " << m.Rows[m.Cur].Id << "; ";
            marks.emplace_back(q->GetBookmark(), m.Rows[m.Cur].Id);
            break;
          case 13: {
            // Back to a row by its bookmark, when the row is still shown.
            if (marks.empty()) continue;
            const auto& [mark, id] = marks[pick(0, static_cast<int32_t>(marks.size()) - 1)];
            const int32_t at = m.IndexOfId(id);
            if (at < 0 || !m.Rows[at].Visible()) continue;
            log << "set bookmark " << id << "; ";
            q->SetBookmark(mark);
            m.Cur = at;
            break;
          }
          case 14:
            if (cached) {
              const int way = m.Pending() ? pick(0, 2) : 0;
              if (way == 1) {
                log << "CancelUpdates; ";
                q->CancelUpdates();
                m.CancelCached();
              } else if (way == 2) {
                // The transaction ends with the changes pending: they and their blobs stay for a later apply.
                log << "Commit pending; ";
                Tr->Commit();
                m.Reopen();
              } else {
                log << "ApplyUpdates; ";
                Tr->ApplyUpdates();
                m.Apply();
                m.Committed = m.Server;
                m.Reopen();
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
          case 16:
          case 17: {
            // The second query edits or deletes a row the first one holds no change of (not under cached
            // updates: applying them needs a transaction without other writes).
            if (cached) continue;
            std::vector<int32_t> ids;
            for (const auto& [id, v] : m.Server) {
              if (!m.PendingOn(id)) ids.push_back(id);
            }
            if (ids.empty()) continue;
            const int32_t id = ids[pick(0, static_cast<int32_t>(ids.size()) - 1)];
            const bool del = action == 17 && pick(0, 1);
            if (peer->GetActive()) {
              peer->Refresh();
            } else {
              peer->Open();
            }
            for (peer->First(); !peer->GetEof() && peer->GetFields()->ColumnByName("ID")->GetAsInteger() != id;) {
              peer->Next();
            }
            if (del) {
              log << "peer deletes " << id << "; ";
              peer->Delete();
              m.Server.erase(id);
              const int32_t at = m.IndexOfId(id);
              if (at >= 0) {
                if (at == m.Cur) {
                  m.Remove(at);
                } else {
                  const bool end = m.AtEnd();
                  m.Rows.erase(m.Rows.begin() + at);
                  if (end) {
                    m.Cur = static_cast<int32_t>(m.Rows.size());
                  } else if (at < m.Cur) {
                    --m.Cur;
                  }
                }
              }
            } else {
              const Values v = change(m.Server[id], step);
              log << "peer edits " << v.Text(id) << "; ";
              peer->Edit();
              TIB_Row* f = peer->GetFields();
              const Values was = RowValues(f);
              if (v.Name != was.Name) Set(f, "NAME", v.Name);
              if (v.Txt != was.Txt) Set(f, "TXT", v.Txt);
              if (v.Bin != was.Bin) Set(f, "BIN", v.Bin);
              peer->Post();
              m.Server[id] = v;
              const int32_t at = m.IndexOfId(id);
              if (at >= 0) m.Rows[at].Shown = v;
            }
            break;
          }
          case 18: {
            const int32_t from = std::max(1, m.RowNum() - pick(0, 4));
            failure = paint(from, from + pick(0, 8));
            break;
          }
          case 19:
            log << "RefreshRows; ";
            q->RefreshRows();
            break;
          case 20: {
            if (m.VisibleCount() == 0) continue;
            const int32_t n = pick(1, m.VisibleCount());
            log << "invalidate row " << n << "; ";
            q->SetBufferRowNum(n);
            q->InvalidateBookmark(q->GetBufferBookmark());
            break;
          }
          case 21: {
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
          case 22:
            log << "FetchAll; ";
            q->FetchAll();
            break;
          default: break;
        }
      } catch (const std::exception& e) {
        failure = std::string(" raised: ") + e.what();
      }
      if (failure.empty()) failure = check(action == 22 || step + 1 == Steps);
      if (failure.empty() && !sink.Messages.empty()) failure = " reported: " + sink.Messages.front();
      if (!failure.empty() && std::getenv("DBLIB_JOURNEY_DEBUG") && m.OnRow()) {
        auto* c = NewCursor("SELECT ID, NAME, TXT, BIN FROM B WHERE ID = " + std::to_string(m.Rows[m.Cur].Id));
        c->Open();
        if (!c->GetEof()) failure += " [server: " + RowText(c->GetFields()) + "]";
        delete c;
      }
      if (!failure.empty()) failure = "after step " + std::to_string(step) + ":" + failure;
    }
    if (failure.empty()) {
      try {
        if (q->GetCachedUpdates()) {
          Tr->ApplyUpdates();
          m.Apply();
        } else if (Tr->GetStarted()) {
          Tr->Commit();
        }
        std::string model;
        for (const auto& [id, v] : m.Server) model += (model.empty() ? "" : ";") + v.Text(id);
        const std::string table = ReadSecond("SELECT ID, NAME, TXT, BIN FROM B ORDER BY ID", "|");
        if (table != model) failure = "at the end the table holds\n    " + table + "\n  model\n    " + model;
      } catch (const std::exception& e) {
        failure = std::string("at the end raised: ") + e.what();
      }
      if (failure.empty() && !sink.Messages.empty()) failure = "at the end reported: " + sink.Messages.front();
    }
    delete peer;
    delete q;
    if (Tr->GetStarted()) Tr->Rollback();
    return failure.empty() ? failure : failure + "\n  steps: " + log.str();
  }
};

// Every journey keeps the rows, their blobs and the position where the model has them, and the table
// ends as the model says.
TEST_F(BDatasetBlobJourneyTest, BlobEditsBookmarksAndASecondQueryKeepTheRowsTheModelHolds) {
  for (uint32_t seed : datasettest::JourneySeeds(4, 6151, 5)) {
    for (bool whole : {true, false}) {
      const std::string failure = Journey(seed, 100, whole);
      EXPECT_TRUE(failure.empty()) << "seed " << seed << (whole ? "" : " keys only") << " " << failure;
      if (!failure.empty()) return;
    }
  }
}

}  // namespace

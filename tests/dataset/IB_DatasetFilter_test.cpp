// The client's comparisons of buffered values, checked against the order the server gives them.
#include "dblib/dataset/IB_DatasetFilter.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "../dblib/StatementTestSupport.h"

namespace {

class DatasetFilterTest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    Conn->SetCharSet("NONE");  // values travel as the bytes of their columns' own character sets
    StatementDbTest::SetUp();
  }
};

// The server's dense rank of every value (ORDER BY Expr) against the client's, for each character set.
TEST_F(DatasetFilterTest, TextComparisonAgreesWithTheServersOrder) {
  struct TCase {
    const char* CharSet;
    int32_t Id;
    std::vector<std::string> Values;
  };
  const std::vector<std::string> common = {"a", "B", "b", "a ", "ab", "a\x01", "", "z", "Z", "\x7f", "A", " a"};
  auto with = [&](std::vector<std::string> Extra) {
    Extra.insert(Extra.end(), common.begin(), common.end());
    return Extra;
  };
  const TCase cases[] = {
      {"NONE", 0, with({"\xe9", "\xc9", "\xff", "\xe9t\xe9"})},
      {"OCTETS", 1, with({"\xe9", "\xff", "a\xff"})},
      {"UTF8", 4,
       with({"\xc3\xa9", "\xc3\x89", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc3\xa9t\xc3\xa9", "\xef\xbf\xbd"})},
      {"WIN1252", 53, with({"\xe9", "\xc9", "\x80", "\xf7", "\xd7"})},
      {"ISO8859_1", 21,
       with({"\xe9", "\xc9", "\xff",
             "\xe0"
             "b",
             "\xc0"
             "a",
             "\xfe", "\xde"})},
  };
  for (const TCase& c : cases) {
    for (bool caseInsensitive : {false, true}) {
      SCOPED_TRACE(std::string(c.CharSet) + (caseInsensitive ? " UPPER" : ""));
      Exec("RECREATE TABLE V (ID INTEGER, S VARCHAR(8) CHARACTER SET " + std::string(c.CharSet) + ")");
      Tr->Commit();
      for (size_t i = 0; i < c.Values.size(); ++i) {
        std::string hex;
        for (unsigned char ch : c.Values[i]) hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
        Exec("INSERT INTO V VALUES (" + std::to_string(i) + ", CAST(" +
             (hex.empty() ? std::string("''") : "X'" + hex + "'") + " AS VARCHAR(8) CHARACTER SET OCTETS))");
      }
      const std::string expr = caseInsensitive ? "UPPER(S)" : "S";
      const std::string server = Scalar(
          "SELECT CAST(LIST(R, ',') AS VARCHAR(400)) FROM (SELECT ID, DENSE_RANK() "
          "OVER (ORDER BY " +
          expr + ") R FROM V ORDER BY ID)");
      // The client's dense ranks by the same comparison.
      std::vector<size_t> order(c.Values.size());
      std::iota(order.begin(), order.end(), 0);
      auto cmp = [&](size_t a, size_t b) {
        return CompareTextAsServer(c.Id, c.Values[a], c.Values[b], caseInsensitive);
      };
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return cmp(a, b) < 0; });
      std::vector<int> rank(c.Values.size());
      for (size_t i = 0, r = 0; i < order.size(); ++i) {
        if (i == 0 || cmp(order[i - 1], order[i]) != 0) ++r;
        rank[order[i]] = static_cast<int>(r);
      }
      std::string client;
      for (size_t i = 0; i < rank.size(); ++i) client += (i ? "," : "") + std::to_string(rank[i]);
      EXPECT_EQ(client, server);
    }
  }
}

}  // namespace

// The SQLite 2 form of the DDL analysis, over master records as the SQLite 2
// library writes them: an offset header, then type\0name\0tbl\0root\0sql\0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>

#include "tests/ddl_bench.h"

namespace veltrane {
namespace {

using test::DdlBench;
using Strings = std::vector<std::string>;

// The record bytes of one master-table row (sql: nullopt for NULL).
std::string MasterRecord(const std::string& type, const std::string& name, const std::string& table,
                         const std::string& root, const std::optional<std::string>& sql) {
  const std::string fields[] = {type + '\0', name + '\0', table + '\0', root + '\0',
                                sql ? *sql + '\0' : std::string()};
  size_t body = 0;
  for (const std::string& f : fields) body += f.size();
  const size_t width = 6 + body < 256 ? 1 : 2;
  std::string record;
  size_t offset = 6 * width;
  auto put = [&](size_t v) {
    record.push_back(static_cast<char>(v & 0xFF));
    if (width == 2) record.push_back(static_cast<char>(v >> 8));
  };
  put(offset);
  for (const std::string& f : fields) put(offset += f.size());
  for (const std::string& f : fields) record += f;
  return record;
}

std::string TableRecord(const std::string& name, const std::string& root, const std::string& sql) {
  return MasterRecord("table", name, name, root, sql);
}

struct Sqlite2TableCase {
  const char* what;
  std::string record;
  DdlResult result;
  std::string descriptor;  // "": nothing stored
  std::string rebuilt;
  std::string statement;
  Strings types;
  Strings log;
};

TEST(DdlSqlite2, TablesTakenApart) {
  const Sqlite2TableCase cases[] = {
      {"keywords ignore case", TableRecord("t1", "3", "create table t1(a)"), DdlResult::Done, "t1+a~#3",
       "create Table [t1] ( [a] TEXT )", "create table t1(a", {"TEXT"}, {"Table t1 is found"}},
      {"names take their blank, columns are separated by \" , \"", TableRecord("people", "3",
       "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, score NUMERIC)"), DdlResult::Done,
       "people+id < P.K >~name ~score ~#3", "create Table [people] ( [id] INTEGER , [name] TEXT , [score] TEXT )",
       "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, score NUMERIC", {"INTEGER", "TEXT", "TEXT"},
       {"Table people is found"}},
      {"the table name stops at its blank", TableRecord("t", "5", "CREATE TABLE t (a TEXT)"), DdlResult::Done,
       "t+a ~#5", "create Table [t] ( [a] TEXT )", "CREATE TABLE t (a TEXT", {"TEXT"}, {"Table t is found"}},
      {"primary key alone marks the column", TableRecord("k", "2",
       "CREATE TABLE k(code TEXT PRIMARY KEY NOT NULL, v)"), DdlResult::Done, "k+code < P.K >~v~#2",
       "create Table [k] ( [code] TEXT , [v] TEXT )", "CREATE TABLE k(code TEXT PRIMARY KEY NOT NULL, v",
       {"TEXT", "TEXT"}, {"Table k is found"}},
      {"a UNIQUE (a) constraint keeps the table's own root page", TableRecord("u", "9",
       "CREATE TABLE u(a TEXT, b TEXT, UNIQUE (a))"), DdlResult::Done, "u+a ~b ~#9",
       "create Table [u] ( [a] TEXT , [b] TEXT )", "CREATE TABLE u(a TEXT, b TEXT, UNIQUE (a)", {"TEXT", "TEXT"},
       {"Table u is found"}},
      {"foreign key does not end the column list", TableRecord("f", "4",
       "CREATE TABLE f(a INTEGER, foreign key(a) REFERENCES g(b))"), DdlResult::Done, "f+a ~foreign ~#4",
       "create Table [f] ( [a] INTEGER , [foreign] TEXT )", "CREATE TABLE f(a INTEGER, foreign key(a) REFERENCES g(b)",
       {"INTEGER", "TEXT"}, {"Table f is found"}},
      {"a comma inside DECIMAL(10,2) stays in its column", TableRecord("c", "6",
       "CREATE TABLE c(id INTEGER PRIMARY KEY, balance DECIMAL(10,2) DEFAULT 0, city TEXT)"), DdlResult::Done,
       "c+id < P.K >~balance ~city ~#6", "create Table [c] ( [id] INTEGER , [balance] TEXT , [city] TEXT )",
       "CREATE TABLE c(id INTEGER PRIMARY KEY, balance DECIMAL(10,2) DEFAULT 0, city TEXT", {"INTEGER", "TEXT", "TEXT"},
       {"Table c is found"}},
      {"a statement at the record's start has root page 0", "CREATE TABLE s(a)", DdlResult::Done, "s+a~#0",
       "create Table [s] ( [a] TEXT )", "CREATE TABLE s(a", {"TEXT"}, {"Table s is found"}},
      {"a root page above 65535 is read whole", TableRecord("big", "70000", "CREATE TABLE big(a)"),
       DdlResult::Done, "big+a~#70000", "create Table [big] ( [a] TEXT )", "CREATE TABLE big(a", {"TEXT"},
       {"Table big is found"}},
      {"a root page beyond 32 bits names no page", TableRecord("huge", "99999999999", "CREATE TABLE huge(a)"),
       DdlResult::Done, "huge+a~#0", "create Table [huge] ( [a] TEXT )", "CREATE TABLE huge(a", {"TEXT"},
       {"Table huge is found"}},
      {"a name holding autoindex is still a table", TableRecord("log_autoindex", "5",
       "CREATE TABLE log_autoindex(a)"), DdlResult::Done, "log_autoindex+a~#5",
       "create Table [log_autoindex] ( [a] TEXT )", "CREATE TABLE log_autoindex(a", {"TEXT"},
       {"Table log_autoindex is found"}},
      {"a record cut in a column stores nothing", TableRecord("t", "3", "CREATE TABLE t(a, b"),
       DdlResult::RanPastEnd, "", "", "", {}, {"Table t is found"}},
      {"a record cut in its last constraint keeps the table", TableRecord("t", "3", "CREATE TABLE t(a TEXT, UNIQUE (a"),
       DdlResult::RanPastEnd, "t+a ~#3", "create Table [t] ( [a] TEXT )", "CREATE TABLE t(a TEXT, UNIQUE (a",
       {"TEXT"}, {"Table t is found"}},
  };
  for (const Sqlite2TableCase& c : cases) {
    SCOPED_TRACE(c.what);
    DdlBench b;
    const DdlOutcome out = AnalyseSqlite2Record(b.model, b.session, c.record);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.kind, DdlKind::Table);
    EXPECT_EQ(b.obs.Log(), c.log);
    EXPECT_EQ(b.session.objectCount, 1);
    EXPECT_TRUE(b.obs.Messages().empty());
    EXPECT_TRUE(b.obs.Positions().empty());  // no progress during the SQLite 2 scan
    EXPECT_TRUE(b.TableListsAligned());
    if (c.descriptor.empty()) {
      EXPECT_TRUE(b.model.tableDescriptors.empty());
      continue;
    }
    ASSERT_EQ(b.model.tableDescriptors.size(), 1u);
    EXPECT_EQ(b.model.tableDescriptors[0], c.descriptor);
    EXPECT_EQ(b.model.createStatements[0], c.rebuilt);
    EXPECT_EQ(b.model.tableStatements[0], c.statement);
    EXPECT_EQ(b.model.tableColumnTypes[0], c.types);
    EXPECT_EQ(b.model.textBuffers, Strings{c.descriptor});
  }
}

TEST(DdlSqlite2, IndexesViewsTriggersAndCountedRecords) {
  DdlBench b;
  const std::string records[] = {
      MasterRecord("index", "ux", "t", "4", "CREATE UNIQUE INDEX ux ON t (a)"),
      MasterRecord("index", "i2", "t", "5", "CREATE INDEX i2 ON t (a, b, c)"),
      MasterRecord("view", "v", "v", "0", "%REATE VIEW v AS SELECT 1"),
      MasterRecord("trigger", "tr", "t", "0", "&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END"),
      MasterRecord("index", "(t autoindex 1)", "t", "6", std::nullopt),
      MasterRecord("table", "vt", "vt", "0", "CREATE VIRTUAL TABLE vt USING x(a)"),
      MasterRecord("index", "cut", "t", "7", "CREATE INDEX cut ON t (a, b"),
      std::string("\x06\x07\x08\x09\x0a\x0b" "a\0b\0c\0d\0e\0", 16),  // no statement
  };
  const DdlKind kinds[] = {DdlKind::UniqueIndex, DdlKind::Index,     DdlKind::View,  DdlKind::Trigger,
                           DdlKind::AutoIndex,   DdlKind::Virtual,   DdlKind::Index, DdlKind::None};
  const DdlResult results[] = {DdlResult::Done, DdlResult::Done, DdlResult::Done,       DdlResult::Done,
                               DdlResult::Done, DdlResult::Done, DdlResult::RanPastEnd, DdlResult::Skipped};
  for (size_t k = 0; k < std::size(records); ++k) {
    SCOPED_TRACE(k);
    const DdlOutcome out = AnalyseSqlite2Record(b.model, b.session, records[k]);
    EXPECT_EQ(out.kind, kinds[k]);
    EXPECT_EQ(out.result, results[k]);
  }
  // A unique index logs nothing; a cut index keeps the entries made so far.
  EXPECT_EQ(b.obs.Log(), (Strings{"Index i2 is found", "Index cut is found"}));
  EXPECT_EQ(b.model.indexStatements,
            (Strings{"CREATE UNIQUE INDEX ux ON t (a", "CREATE INDEX i2 ON t (a", "CREATE INDEX i2 ON t (a, b",
                     "CREATE INDEX i2 ON t (a, b, c", "CREATE INDEX cut ON t (a"}));
  EXPECT_EQ(b.model.viewStatements, Strings{"%REATE VIEW v AS SELECT 1"});
  EXPECT_EQ(b.model.triggerStatements, Strings{"&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END"});
  // View and trigger copies are owned by the text buffers as well.
  EXPECT_EQ(b.model.textBuffers,
            (Strings{"%REATE VIEW v AS SELECT 1", "&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END"}));
  EXPECT_EQ(b.session.objectCount, 7);
  EXPECT_TRUE(b.model.tableDescriptors.empty());
  EXPECT_TRUE(b.obs.Messages().empty());

  HandOverToTree(b.model, b.session, false);
  EXPECT_EQ(b.Labels(b.session.indexesRoot), (Strings{" ux ON t ", " i2 ON t ", " cut ON t "}));
  EXPECT_EQ(b.Data(b.session.indexesRoot), (std::vector<int32_t>{0, 3, 4}));
  EXPECT_EQ(b.Labels(b.session.viewsRoot), Strings{" v"});
  EXPECT_EQ(b.Labels(b.session.triggersRoot), Strings{"tr"});
}

TEST(DdlSqlite2, SameTableTwiceGivesOneTreeItem) {
  DdlBench b;
  const std::string record = TableRecord("t", "3", "CREATE TABLE t(a)");
  AnalyseSqlite2Record(b.model, b.session, record);
  AnalyseSqlite2Record(b.model, b.session, record);
  EXPECT_EQ(b.model.tableDescriptors, (Strings{"t+a~#3", "t+a~#3"}));
  HandOverToTree(b.model, b.session, false);
  EXPECT_EQ(b.Labels(b.session.tablesRoot), Strings{" t"});
  EXPECT_EQ(b.Data(b.session.tablesRoot), std::vector<int32_t>{1});
}

// ---- the real master records of a file written by the SQLite 2.8 library ----

uint32_t U32(const std::string& d, size_t at) {
  uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<uint8_t>(d[at + k]);
  return v;
}
uint16_t U16(const std::string& d, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}

// The records of the master b-tree (root page 2, one level of children);
// the fixture's records are all small enough to sit wholly in their cells.
Strings MasterRecords(const std::string& file) {
  Strings out;
  std::set<uint32_t> seen;
  auto walkPage = [&](uint32_t page, auto& self) -> void {
    if (page == 0 || (page - 1) * 1024ull + 1024 > file.size() || !seen.insert(page).second) return;
    const size_t base = (page - 1) * 1024ull;
    // The chain is in key order, not page order: bound it by the cells a page can hold.
    uint16_t cell = U16(file, base + 4);
    for (int cells = 0; cell != 0 && cell + 16u <= 1024u && cells < 64; ++cells) {
      const size_t at = base + cell;
      const uint32_t left = U32(file, at);
      const uint16_t keySize = U16(file, at + 4);
      const size_t dataSize = U16(file, at + 10) | static_cast<size_t>(static_cast<uint8_t>(file[at + 9])) << 16;
      out.push_back(file.substr(at + 12 + keySize, dataSize));
      self(left, self);
      cell = U16(file, at + 6);
    }
    self(U32(file, base), self);
  };
  walkPage(2, walkPage);
  return out;
}

TEST(DdlSqlite2, RealMasterRecordsOfSchemaFixture) {
  const std::string file = test::ReadFile(test::FixturePath("sqlite2/schema.db"));
  ASSERT_EQ(file.size(), 12288u);
  const Strings records = MasterRecords(file);
  ASSERT_EQ(records.size(), 10u);

  DdlBench b;
  for (const std::string& record : records) AnalyseSqlite2Record(b.model, b.session, record);
  EXPECT_EQ(b.session.objectCount, 10);
  EXPECT_TRUE(b.obs.Messages().empty());

  Strings descriptors = b.model.tableDescriptors;
  std::sort(descriptors.begin(), descriptors.end());
  EXPECT_EQ(descriptors, (Strings{"audit+kind ~msg ~#7", "customers+id < P.K >~name ~email ~city ~balance ~#4",
                                  "orders+cust_id ~order_no ~item ~qty ~price ~#6"}));
  Strings rebuilt = b.model.createStatements;
  std::sort(rebuilt.begin(), rebuilt.end());
  EXPECT_EQ(rebuilt,
            (Strings{"create Table [audit] ( [kind] TEXT , [msg] TEXT )",
                     "create Table [customers] ( [id] INTEGER , [name] TEXT , [email] TEXT , [city] TEXT , [balance] TEXT )",
                     "create Table [orders] ( [cust_id] INTEGER , [order_no] INTEGER , [item] TEXT , [qty] TEXT , [price] TEXT )"}));
  Strings indexes = b.model.indexStatements;
  std::sort(indexes.begin(), indexes.end());
  EXPECT_EQ(indexes, (Strings{"CREATE INDEX idx_customers_city ON customers(city",
                              "CREATE INDEX idx_orders_item_qty_price ON orders(item",
                              "CREATE INDEX idx_orders_item_qty_price ON orders(item, qty",
                              "CREATE INDEX idx_orders_item_qty_price ON orders(item, qty, price",
                              "CREATE UNIQUE INDEX idx_customers_name ON customers(name"}));
  ASSERT_EQ(b.model.viewStatements.size(), 1u);
  EXPECT_EQ(b.model.viewStatements[0],
            "CREATE VIEW v_orders AS SELECT c.name AS name, o.item AS item, o.qty AS qty FROM customers c, orders o "
            "WHERE c.id = o.cust_id");
  ASSERT_EQ(b.model.triggerStatements.size(), 1u);
  EXPECT_EQ(b.model.triggerStatements[0].substr(0, 38), "CREATE TRIGGER trg_orders_ins AFTER IN");

  HandOverToTree(b.model, b.session, false);
  Strings tables = b.Labels(b.session.tablesRoot);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (Strings{" audit", " customers", " orders"}));
  EXPECT_EQ(b.Labels(b.session.indexesRoot).size(), 3u);
  EXPECT_EQ(b.Labels(b.session.viewsRoot), Strings{" v_orders"});
  EXPECT_EQ(b.Labels(b.session.triggersRoot), Strings{"trg_orders_ins"});
  // The three-column index shows its complete entry.
  for (TreeItemId item : b.session.tree.Children(b.session.indexesRoot)) {
    const std::string& entry = b.model.indexStatements[static_cast<size_t>(b.session.tree.Data(item))];
    if (entry.find("item") != std::string::npos) {
      EXPECT_EQ(entry.substr(entry.size() - 5), "price");
    }
  }
}

}  // namespace
}  // namespace veltrane

// The parser interface (sqlite_base) and the recovered-object model it carries.
//
// sqlite_ver3 and sqlite_ver2 implement the ten virtual operations. The model
// lists describe the recovered objects by position: the n-th entries of
// tableDescriptors, tableColumnTypes, createStatements and tableStatements
// describe the n-th table found.
//
// Table descriptor: name + "+" + for every column its name as written (with
// "< P.K >" appended for the INTEGER PRIMARY KEY column) + "~", then "#" and
// the root page in decimal. Example: "t1 +id< P.K >~name~#2".
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace veltrane {

class RecoverySession;

// The 12-byte b-tree page header of one SQLite 3 page, in host order.
struct PageHeader {
  uint8_t type = 0;  // 2, 5, 10, 13 for b-tree pages; anything else otherwise
  uint16_t firstFreeblock = 0;
  uint16_t cellCount = 0;
  uint16_t contentStart = 0;
  uint8_t fragmentedBytes = 0;
  uint32_t rightChild = 0;  // interior pages only
};

// The 8-byte page header of one SQLite 2 page.
struct Ver2PageHeader {
  uint32_t rightChild = 0;
  uint16_t firstCell = 0;
  uint16_t firstFree = 0;
};

// The 12-byte header of the SQLite 2 cell read last.
struct Ver2CellHeader {
  uint32_t leftChild = 0;
  uint16_t keySize = 0;
  uint16_t nextCell = 0;
  uint8_t keySizeHigh = 0;
  uint8_t dataSizeHigh = 0;
  uint16_t dataSizeLow = 0;
};

// One decoded value of a recovered row.
struct RecoveredValue {
  enum class Kind : uint8_t { Null, Integer, Real, Text, Blob, Missing };
  Kind kind = Kind::Missing;  // Missing: the record ended before this column
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // Text: UTF-8; Blob: raw bytes

  static RecoveredValue Make(Kind kind) {
    RecoveredValue v;
    v.kind = kind;
    return v;
  }
  static RecoveredValue Null() { return Make(Kind::Null); }
  static RecoveredValue Int(int64_t i) {
    RecoveredValue v = Make(Kind::Integer);
    v.integer = i;
    return v;
  }
  static RecoveredValue Real(double d) {
    RecoveredValue v = Make(Kind::Real);
    v.real = d;
    return v;
  }
  static RecoveredValue Text(std::string s) {
    RecoveredValue v = Make(Kind::Text);
    v.bytes = std::move(s);
    return v;
  }
  static RecoveredValue Blob(std::string s) {
    RecoveredValue v = Make(Kind::Blob);
    v.bytes = std::move(s);
    return v;
  }
};

struct RecoveredRow {
  int64_t rowid = 0;
  std::vector<RecoveredValue> values;  // one per table column, in column order
};

// Receives the rows that RecoverRows decodes while insert mode is on (the
// repaired database during a save). Returns false when the row was not written.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool WriteRow(const RecoveredRow& row) = 0;
};

// A table descriptor taken apart.
struct TableDescriptorParts {
  std::string name;                  // text before the first "+"
  std::vector<std::string> columns;  // the column entries, marks included
  int keyMark = 0;                   // 0, or 10 + position of the last "< P.K >" entry
  int64_t rootPage = 0;              // the number after the last "#"
};
TableDescriptorParts ParseTableDescriptor(const std::string& descriptor);
// A column entry of a descriptor with every "< P.K >" removed.
std::string StripKeyMark(const std::string& entry);
inline constexpr const char* kKeyMark = "< P.K >";

// The shared bodies of the name helpers, used by both parsers.
std::string NormaliseTypeName(const std::string& type);
bool IsKnownType(const std::string& type);
std::string CleanIdentifier(const std::string& name);

class sqlite_base;

// The table options of table k (" WITHOUT ROWID"), empty when none.
std::string TableOptionsOf(const sqlite_base& model, size_t k);

// The statement that recreates an object of the model, without its final
// ";": a table's CREATE TABLE text with its closing ")" and its table options
// (group -2), an index as found in the file (else its kept text with its ")")
// (-3), a view (-4) or trigger (-5) with a damaged first letter repaired to
// "C". Taken from the narrow list, else from its wide twin; empty when the
// position lies in neither.
std::string CompleteStatement(const sqlite_base& model, int32_t group, int32_t position);

// The column names of table k as they stand in SQL (quotes included): those
// of its CREATE statement read by a real tokenizer when that agrees with the
// descriptor on the number of columns, else the descriptor's entries without
// their key marks.
std::vector<std::string> WrittenColumnNames(const sqlite_base& model, int32_t table);

class sqlite_base {
 public:
  sqlite_base() = default;
  sqlite_base(const sqlite_base&) = delete;
  sqlite_base& operator=(const sqlite_base&) = delete;

  // The ten operations, in this order.
  virtual ~sqlite_base();
  // The save flow; false when the user declined to overwrite the output file.
  virtual bool SaveDatabase(const std::string& unused);
  // Scans the file through the session's reader and fills the model and tree.
  virtual void ParseFile(const std::string& path);
  // Decodes the rows of one table (record list; rowSink in insert mode).
  virtual void RecoverRows(std::string path, int32_t rootPage, int columnCount,
                           const std::string& tableName, int keyMark);
  // Rows of all checked tables.
  virtual uint64_t CountEntries();
  virtual std::string NormaliseTypeName(const std::string& type);
  virtual bool IsKnownType(const std::string& type);
  // Export into another database format; no flow uses it.
  virtual void ExportRows(std::string path, int32_t rootPage, int columnCount,
                          const std::string& tableName, int keyMark);
  // Rows under one table root.
  virtual uint64_t CountRows(std::string path, uint64_t rootPage);
  virtual std::string CleanIdentifier(const std::string& name);

  // Releases the model's buffers and empties every list.
  void ResetModel();

  // Sum of count(root page) over the checked items of the tables group whose
  // item data is a valid position in tableDescriptors; currentTable names
  // the table during each count.
  uint64_t SumCheckedTables(const std::function<uint64_t(uint64_t rootPage)>& count);

  RecoverySession* owner = nullptr;
  std::vector<uint32_t> masterRecordSizes;
  std::vector<PageHeader> pageHeaders;  // entry i describes page i + 1
  std::vector<std::string> textBuffers;
  std::vector<std::string> tableStatements;  // CREATE TABLE text up to its closing ")"
  // What follows a table's column list (" WITHOUT ROWID", " STRICT"), by the
  // table's position; shorter than tableDescriptors when the tail has none.
  std::vector<std::string> tableOptions;
  std::vector<std::string> triggerStatements;
  std::vector<std::string> indexStatements;
  // For every entry of indexStatements, the whole CREATE INDEX statement as
  // found (with what follows its column list: a WHERE clause, odd names).
  std::vector<std::string> indexSourceStatements;
  std::vector<std::string> viewStatements;
  std::vector<std::string> createStatements;  // rebuilt statements
  std::vector<std::string> outputColumnNames;
  std::vector<std::string> currentColumnTypes;
  std::vector<std::string> tableDescriptors;
  std::vector<std::vector<std::string>> tableColumnTypes;
  std::vector<std::u16string> wideTextBuffers;
  std::vector<std::u16string> wideTableStatements;
  std::vector<std::u16string> wideTriggerStatements;
  std::vector<std::u16string> wideIndexStatements;
  std::vector<std::u16string> wideIndexSourceStatements;
  std::vector<std::u16string> wideViewStatements;
  std::vector<Ver2PageHeader> ver2PageHeaders;
  Ver2CellHeader cellHeader;
  uint64_t totalRows = 0;
  int64_t rowProgress = 0;
  bool utf8Mode = false;
  bool utf16Mode = false;
  bool saveStarted = false;

  // Where insert mode hands the decoded rows (set by the table writer).
  RowSink* rowSink = nullptr;
  // Position in tableDescriptors of the table that RecoverRows or CountRows
  // is asked for, -1 when unknown; set by the preview, the table writer and
  // the counts of the save.
  int32_t currentTable = -1;
  // The number of the session's job (scan, preview, save, ...) that runs
  // now: state that a parser keeps for one job starts over when it changes.
  uint64_t job = 0;
  // Tables whose createStatements entry the column mapping replaced; the save
  // creates these from that statement so that they carry the mapped types.
  std::set<int32_t> mappedTables;
};

}  // namespace veltrane

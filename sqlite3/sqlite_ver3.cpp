#include "sqlite3/sqlite_ver3.h"

#include <algorithm>

#include "core/ddl.h"
#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"
#include "output/save_flow.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/row_recovery.h"
#include "sqlite3/schema_discovery.h"

namespace veltrane {

namespace {

constexpr const char* kPageSizeBox = "The Database page_size is invalid";
constexpr const char* kPageSizeCaption = "File_Page_Size_Error";
constexpr const char* kContentBox = "The Database content is not in its appropriate form";
constexpr const char* kCorruptedCaption = "File_Corrupted";
constexpr const char* kPageTypeBox = "Error in page size or in file";
constexpr const char* kReadingBox = "Error in reading";

}  // namespace

sqlite_ver3::~sqlite_ver3() = default;

bool sqlite_ver3::SaveDatabase(const std::string&) { return SaveRepairedDatabase(*this, SourceFormat::Sqlite3); }
uint64_t sqlite_ver3::CountEntries() { return CountCheckedEntries(*this, false); }

std::string sqlite_ver3::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver3::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver3::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

PageGeometry sqlite_ver3::Geometry() const {
  PageGeometry g;
  if (owner == nullptr || !owner->reader) return g;
  g.base = owner->startOffset;
  g.fileSize = owner->reader->size;
  if (owner->pageSize == 0 || owner->pageSize > 65536) return g;
  g.pageSize = static_cast<uint32_t>(owner->pageSize);
  g.usableSize = UsableSize(g.pageSize, reservedBytes);
  const uint64_t pages = g.fileSize > g.base ? (g.fileSize - g.base) / g.pageSize : 0;
  g.pageCount = std::min<uint64_t>(pages, pageHeaders.size());
  return g;
}

// ---- the scan ----

void sqlite_ver3::ParseFile(const std::string&) {
  if (owner == nullptr || !owner->reader) return;
  RecoverySession& session = *owner;
  Reader& reader = *session.reader;

  // Header phase.
  schemaPageNumber_ = 0;
  session.progressCounter = 0;
  rowProgress = 0;
  const uint64_t fileSize = reader.size;
  if (session.startOffset != 0) --session.startOffset;
  const uint64_t base = session.startOffset;
  uint8_t header[100] = {};
  reader.ReadAt(base, header, sizeof header);
  const uint64_t sessionPageSize = session.pageSize;
  // The page size is carried in 32 bits, so 65536-byte pages are parsed.
  const uint32_t pageSize = static_cast<uint32_t>(sessionPageSize);
  header[16] = static_cast<uint8_t>(pageSize >> 8);
  header[17] = static_cast<uint8_t>(pageSize);
  const uint64_t usable = fileSize > base ? fileSize - base : 0;

  auto fail = [&](const char* text, const char* caption) {
    session.ShowMessage(text, caption);
    session.ReportParseFailure();
  };
  if (sessionPageSize % 512 != 0 || (sessionPageSize != 0 && usable % sessionPageSize != 0) ||
      sessionPageSize > 65536) {
    fail(kPageSizeBox, kPageSizeCaption);
    return;
  }

  int textMode = header[59];
  if (utf8Mode) textMode = 1;
  if (utf16Mode) textMode = 2;
  reservedBytes = header[20];

  if (textMode == 1 || textMode == 2) {
    const bool utf8 = textMode == 1;
    const std::string_view magic(reinterpret_cast<const char*>(header), 15);
    if (!EqualsIgnoreCaseAscii(magic, "SQLite format 3") || pageSize == 0) {
      fail(kContentBox, kCorruptedCaption);
      return;
    }
    const uint64_t pageCount = usable / pageSize;
    if (usable % pageSize != 0) {
      fail(kContentBox, kCorruptedCaption);
      return;
    }
    if (utf8) session.SetProgressRange(static_cast<uint32_t>(pageCount / 1000));
    session.AddLogLine(utf8 ? "File page_header is reading" : "Reading File page header ");

    pageHeaders.clear();
    pageHeaders.reserve(pageCount);
    uint64_t unknown = 0;
    for (uint64_t i = 0; i < pageCount; ++i) {
      uint8_t bytes[12] = {};
      reader.ReadAt(base + i * pageSize + PageGeometry::HeaderOffset(i + 1), bytes, sizeof bytes);
      PageHeader record = DecodePageHeader(ByteView(bytes, sizeof bytes));
      // A page whose type byte no page of a healthy file carries is recorded
      // as no b-tree page; the rest of the table goes on.
      if (!IsKnownPageType(record.type)) {
        record = PageHeader{};
        ++unknown;
      }
      pageHeaders.push_back(record);
      if (utf8 && i % 1000 == 0) session.SetProgressPos(static_cast<uint32_t>(i / 1000 + 1));
    }
    if (unknown != 0)
      session.AddLogLine(Format("%llu of %llu pages carry no known page type; they are not read as b-tree pages",
                                static_cast<unsigned long long>(unknown), static_cast<unsigned long long>(pageCount)));
    // When most pages look like that, the pages are not where the page size
    // puts them.
    if (utf8 && unknown * 2 > pageCount) {
      fail(kPageTypeBox, kAppTitle);
      return;
    }
    if (utf8) session.AddLogLine("Searching File DDL ");

    SchemaTextSink sink;
    DiscoverSchema(*this, Geometry(), !utf8, sink);
  } else {
    session.AddLogLine(Format("The text encoding %d of the file header is not read; no schema object is searched",
                              textMode));
  }
  HandOverToTree(*this, session, textMode == 2);
}

bool sqlite_ver3::ReadSchemaText(uint32_t pageIndex, uint32_t cellIndex, uint32_t cellSize, std::string& text,
                                 int64_t& rootPage, uint32_t cellEnd, OverflowClaims* claims) {
  text.clear();
  rootPage = 0;
  const PageGeometry g = Geometry();
  if (g.pageSize == 0 || !g.IsPage(int64_t{pageIndex} + 1)) return false;
  // The cells of one page are read one after another: keep the page.
  if (schemaPageNumber_ != uint64_t{pageIndex} + 1 || schemaPage_.size() != g.pageSize) {
    ReadPage(*owner->reader, g, pageIndex + 1, schemaPage_);
    schemaPageNumber_ = uint64_t{pageIndex} + 1;
  }
  const ByteView page(schemaPage_.data(), schemaPage_.size());
  SchemaRecordText record = ReadSchemaRecord(*owner->reader, g, cellEnd != 0 ? page.Sub(0, cellEnd) : page,
                                             pageIndex + 1, cellIndex, cellSize, claims);
  if (record.status == SchemaRecordText::Status::ReadError) {
    owner->ShowMessage(kReadingBox);
    schemaTextLength = 0;
    return false;
  }
  if (record.status != SchemaRecordText::Status::Ok) return false;
  text = std::move(record.bytes);
  rootPage = record.rootPage;
  schemaTextLength = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  return true;
}

bool sqlite_ver3::ReadSchemaText(uint32_t pageIndex, uint32_t cellIndex, uint32_t cellSize, std::u16string& text,
                                 int64_t& rootPage, uint32_t cellEnd, OverflowClaims* claims) {
  std::string bytes;
  text.clear();
  if (!ReadSchemaText(pageIndex, cellIndex, cellSize, bytes, rootPage, cellEnd, claims)) return false;
  text = Utf16FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false);
  return true;
}

// ---- row counts ----

void sqlite_ver3::StartJobBounds() {
  if (boundsJob_ == job) return;
  boundsJob_ = job;
  const PageGeometry g = Geometry();
  jobValues_.Reset(g.fileSize, kValueShare, kValueFloor);
  // A sound file's counts enter each page about twice in a save (the total,
  // then each table's own count).
  jobCountPages_.Reset(g.pageCount, 16, 4096);
  jobShares_.Reset(g.pageCount);
}

uint64_t sqlite_ver3::CountRows(std::string, uint64_t rootPage) {
  if (owner == nullptr || !owner->reader) return totalRows;
  const PageGeometry g = Geometry();
  if (g.pageSize == 0 || rootPage > INT64_MAX) return totalRows;
  StartJobBounds();
  totalRows += CountTableRows(*owner->reader, g, pageHeaders, static_cast<int64_t>(rootPage), &jobCountPages_);
  return totalRows;
}

// ---- rows ----

int sqlite_ver3::RowidAliasColumn() const {
  if (currentTable >= 0) {
    const size_t t = static_cast<size_t>(currentTable);
    if (t < tableStatements.size()) return AnalyseTableShape(tableStatements[t]).rowidAlias;
    if (t < wideTableStatements.size()) return AnalyseTableShape(Utf16ToUtf8(wideTableStatements[t])).rowidAlias;
  }
  return -1;
}

void sqlite_ver3::RecoverRows(std::string path, int32_t rootPage, int columnCount, const std::string&, int) {
  if (owner == nullptr || !owner->reader || owner->stopRequested) return;
  RecoverySession& session = *owner;
  rowHasBlob = false;
  totalRows = 0;
  const bool insert = session.insertRowsMode;
  uint64_t stopPosition = 0;
  if (rowProgress == 0 && !insert) {
    stopPosition = CountRows(path, rootPage > 0 ? static_cast<uint64_t>(rootPage) : 0);
    session.SetProgressRange(static_cast<uint32_t>(stopPosition));
    rowProgress = 1;
  }
  const PageGeometry g = Geometry();
  if (g.pageSize == 0) return;
  if (!g.IsPage(rootPage)) {
    session.ShowMessage("File is corrupted");
    return;
  }
  if (!utf16Mode && !utf8Mode) return;

  RowRecovery::Options options;
  options.columnCount = std::clamp(columnCount, 0, 32767);
  options.rowidAlias = RowidAliasColumn();
  options.utf16 = utf16Mode;
  options.insertMode = insert;
  options.stopPosition = stopPosition;
  StartJobBounds();
  options.values = &jobValues_;
  if (insert) options.shares = &jobShares_;
  options.table = currentTable;
  RowRecovery walk(*this, g, options);
  walk.Run(rootPage);
  rowHasBlob = false;
}

}  // namespace veltrane

#include "sqlite3/sqlite_ver3.h"

#include <algorithm>

#include "core/ddl.h"
#include "core/page_inference.h"
#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"
#include "output/save_flow.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/index_tree.h"
#include "sqlite3/row_recovery.h"
#include "sqlite3/schema_discovery.h"
#include "sqlite3/wal.h"

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
  // A partial last page counts: it is read as far as it goes.
  const uint64_t pages = g.fileSize > g.base ? (g.fileSize - g.base + g.pageSize - 1) / g.pageSize : 0;
  g.pageCount = std::min<uint64_t>(pages, pageHeaders.size());
  g.declaredPages = declaredPages;
  return g;
}

// ---- the scan ----

void sqlite_ver3::ParseFile(const std::string&) {
  if (owner == nullptr || !owner->reader) return;
  RecoverySession& session = *owner;

  // Header phase.
  schemaPageNumber_ = 0;
  rootTablesFor_ = SIZE_MAX;
  deep.Clear();
  session.progressCounter = 0;
  rowProgress = 0;
  textMode = 0;
  if (session.startOffset != 0) --session.startOffset;
  const uint64_t base = session.startOffset;
  const uint64_t sessionPageSize = session.pageSize;
  // The page size is carried in 32 bits, so 65536-byte pages are parsed.
  const uint32_t pageSize = static_cast<uint32_t>(sessionPageSize);

  auto fail = [&](const char* text, const char* caption) {
    session.ShowMessage(text, caption);
    session.ReportParseFailure();
  };
  if (sessionPageSize % 512 != 0 || sessionPageSize > 65536) {
    fail(kPageSizeBox, kPageSizeCaption);
    return;
  }
  const FileSelection& choice = session.fileSelection;
  if (!choice.inferredFromPages.empty())
    session.AddLogLine("The database header is damaged; inferred from the pages: " + choice.inferredFromPages);

  // The newest committed pages of a WAL file beside the source replace the
  // file's own before anything is read.
  if (pageSize != 0) ApplyWalFile(session, base, pageSize);
  Reader& reader = *session.reader;
  const uint64_t fileSize = reader.size;
  uint8_t header[100] = {};
  reader.ReadAt(base, header, sizeof header);
  header[16] = static_cast<uint8_t>(pageSize >> 8);
  header[17] = static_cast<uint8_t>(pageSize);
  const uint64_t usable = fileSize > base ? fileSize - base : 0;

  textMode = header[59];
  if (choice.textEncoding >= 1 && choice.textEncoding <= 3) {
    textMode = choice.textEncoding;
  } else if ((textMode < 1 || textMode > 3) && pageSize != 0 && !utf8Mode && !utf16Mode) {
    const int found = InferTextEncoding(reader, base, pageSize);
    if (found != 0) {
      session.AddLogLine(Format("The text encoding %d of the file header is damaged; the texts of the file are %s",
                                textMode, EncodingName(found)));
      textMode = found;
    }
  }
  if (utf8Mode) textMode = 1;
  if (utf16Mode) textMode = textMode == 3 ? 3 : 2;
  reservedBytes = header[20];
  declaredPages = ByteView(header, sizeof header).BE32(28);

  if (textMode >= 1 && textMode <= 3) {
    const bool utf8 = textMode == 1;
    if (pageSize == 0) {
      fail(kContentBox, kCorruptedCaption);
      return;
    }
    const std::string_view magic(reinterpret_cast<const char*>(header), 15);
    if (choice.inferredFromPages.empty() && !EqualsIgnoreCaseAscii(magic, "SQLite format 3"))
      session.AddLogLine("The database header carries no SQLite 3 signature; the pages are read as they stand");
    // A file cut inside a page: the whole pages, and the partial last one as
    // far as it goes (the rest reads as zeros).
    const uint64_t partial = usable % pageSize;
    const uint64_t pageCount = usable / pageSize + (partial != 0 ? 1 : 0);
    if (partial != 0)
      session.AddLogLine(Format("The file is truncated: its last page %llu holds %llu of its %u bytes; it is read as "
                                "far as it goes",
                                static_cast<unsigned long long>(pageCount), static_cast<unsigned long long>(partial),
                                pageSize));
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
    RunDeepScan(*this, Geometry(), !utf8);
  } else {
    session.AddLogLine(Format("The text encoding %d of the file header is not read; no schema object is searched",
                              textMode));
  }
  HandOverToTree(*this, session, textMode == 2 || textMode == 3);
}

bool sqlite_ver3::ReadSchemaText(uint32_t pageIndex, uint32_t cellIndex, uint32_t cellSize, std::string& text,
                                 int64_t& rootPage, uint32_t cellEnd, OverflowClaims* claims) {
  text.clear();
  rootPage = 0;
  const PageGeometry g = Geometry();
  if (g.pageSize == 0 || !g.IsPage(int64_t{pageIndex} + 1)) return false;
  uint8_t pointer[2] = {};
  owner->reader->ReadAt(g.PageStart(pageIndex + 1) + PageGeometry::HeaderOffset(pageIndex + 1) + 8 + 2 * cellIndex,
                        pointer, sizeof pointer);
  return ReadSchemaTextAt(pageIndex, ByteView(pointer, 2).BE16(0), cellSize, text, rootPage, cellEnd, claims);
}

bool sqlite_ver3::ReadSchemaTextAt(uint32_t pageIndex, uint32_t cellOffset, uint32_t cellSize, std::string& text,
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
  SchemaRecordText record =
      ReadSchemaRecordAt(*owner->reader, g, cellEnd != 0 ? page.Sub(0, cellEnd) : page, cellOffset, cellSize, claims);
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
  text = Utf16FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), textMode == 3);
  return true;
}

bool sqlite_ver3::ReadSchemaTextAt(uint32_t pageIndex, uint32_t cellOffset, uint32_t cellSize, std::u16string& text,
                                   int64_t& rootPage, uint32_t cellEnd, OverflowClaims* claims) {
  std::string bytes;
  text.clear();
  if (!ReadSchemaTextAt(pageIndex, cellOffset, cellSize, bytes, rootPage, cellEnd, claims)) return false;
  text = Utf16FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), textMode == 3);
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
  const int64_t root = static_cast<int64_t>(rootPage);
  if (IsWithoutRowidRoot(root)) return totalRows += CountIndexEntries(*owner->reader, g, pageHeaders, root);
  const DeepPages* extra = deep.For(currentTable);
  if (extra == nullptr || !extra->lostAndFound)
    totalRows += CountTableRows(*owner->reader, g, pageHeaders, root, &jobCountPages_);
  if (extra != nullptr)
    for (uint32_t page : extra->pages)
      if (page >= 1 && page <= pageHeaders.size()) totalRows += pageHeaders[page - 1].cellCount;
  return totalRows;
}

// ---- rows ----

TableShape sqlite_ver3::ShapeOf(int32_t k) const {
  if (k < 0) return {};
  const size_t t = static_cast<size_t>(k);
  if (t < tableStatements.size()) return AnalyseTableShape(tableStatements[t] + ")" + TableOptionsOf(*this, t));
  if (t < wideTableStatements.size())
    return AnalyseTableShape(Utf16ToUtf8(wideTableStatements[t]) + ")" + TableOptionsOf(*this, t));
  return {};
}

int sqlite_ver3::RowidAliasColumn() const { return ShapeOf(currentTable).rowidAlias; }

bool sqlite_ver3::IsWithoutRowidRoot(int64_t rootPage) const {
  if (rootPage < 1 || static_cast<uint64_t>(rootPage) > pageHeaders.size()) return false;
  if (!IsIndexPage(pageHeaders[static_cast<size_t>(rootPage - 1)].type)) return false;
  int32_t table = currentTable;
  if (table < 0 || static_cast<size_t>(table) >= tableDescriptors.size()) {
    // The first table with this root, from a map built once per model.
    if (rootTablesFor_ != tableDescriptors.size()) {
      rootTables_.clear();
      for (size_t k = 0; k < tableDescriptors.size(); ++k)
        rootTables_.emplace(ParseTableDescriptor(tableDescriptors[k]).rootPage, static_cast<int32_t>(k));
      rootTablesFor_ = tableDescriptors.size();
    }
    const auto it = rootTables_.find(rootPage);
    if (it == rootTables_.end()) return false;
    table = it->second;
  }
  const size_t t = static_cast<size_t>(table);
  if (t >= tableStatements.size() && t >= wideTableStatements.size()) return true;
  return ShapeOf(table).withoutRowid;
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
  // Pages found outside the table's tree (all of a lost_and_found table's).
  const DeepPages* extra = deep.For(currentTable);
  if (!g.IsPage(rootPage) && extra == nullptr) {
    session.ShowMessage("File is corrupted");
    return;
  }
  if (textMode < 1 || textMode > 3) return;

  RowRecovery::Options options;
  options.columnCount = std::clamp(columnCount, 0, 32767);
  options.utf16 = textMode != 1;
  options.bigEndian = textMode == 3;
  options.insertMode = insert;
  options.stopPosition = stopPosition;
  StartJobBounds();
  options.values = &jobValues_;
  if (insert) options.shares = &jobShares_;
  options.table = currentTable;
  uint64_t mended = 0;
  if (extra == nullptr && IsWithoutRowidRoot(rootPage)) {
    // The record holds the key columns first: put the row back in table order.
    options.fieldOrder = WithoutRowidFieldOrder(options.columnCount, ShapeOf(currentTable).primaryKey);
    IndexRowRecovery walk(*this, g, options);
    walk.Run(rootPage);
    mended = walk.emitter().mendedHeaders();
  } else {
    options.rowidAlias = RowidAliasColumn();
    if (extra != nullptr && extra->lostAndFound) {
      options.columnCount = std::clamp(extra->recordColumns, 0, 32767);
      options.rowidAlias = -1;
      options.pageAndRowid = true;
    }
    RowRecovery walk(*this, g, options);
    bool going = true;
    if (extra == nullptr || !extra->lostAndFound) {
      if (g.IsPage(rootPage))
        going = walk.Run(rootPage);
      else
        session.AddLogLine(Format("The root page %d of the table lies outside the file; its rows come from the "
                                  "pages found outside its tree",
                                  rootPage));
    }
    if (extra != nullptr)
      for (size_t i = 0; going && i < extra->pages.size(); ++i) going = walk.Run(extra->pages[i]);
    mended = walk.emitter().mendedHeaders();
  }
  if (mended != 0)
    session.AddLogLine(Format("%llu records whose header had one flipped bit were mended",
                              static_cast<unsigned long long>(mended)));
  rowHasBlob = false;
}

}  // namespace veltrane

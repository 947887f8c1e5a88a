#include "sqlite3/deep_scan.h"

#include <algorithm>
#include <set>

#include "core/ddl.h"
#include "core/lost_and_found.h"
#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/record_decoder.h"
#include "sqlite3/sqlite_ver3.h"

namespace veltrane {

namespace {

// Who holds a page.
enum class Holder : uint8_t { None, Schema, Freelist, Table };

// Record headers larger than this are damage (32767 columns of 9-byte types).
constexpr uint64_t kMostHeaderBytes = 9 * 32768 + 9;

uint8_t ClassOf(uint64_t serialType) {
  if (serialType == 0) return kClassNull;
  if (serialType <= 6 || serialType == 8 || serialType == 9) return kClassInteger;
  if (serialType == 7) return kClassReal;
  if (serialType >= 12) return serialType % 2 == 0 ? kClassBlob : kClassText;
  return 0;
}

std::string Lower(std::string_view s) {
  std::string out(Trim(s));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The serial types of a cell's record. False when the record is not sound:
// its header and the values it declares must fill the payload exactly. A
// header that reaches into the overflow chain is paid for from budget.
bool ReadSerialTypes(CellPayload& cell, std::vector<uint64_t>& types, std::string& scratch, uint64_t& budget) {
  types.clear();
  const uint64_t length = cell.payloadLength();
  if (length == 0) return false;
  scratch.clear();
  if (cell.Read(0, std::min<uint64_t>(length, 9), scratch) != CellPayload::Status::Ok) return false;
  uint64_t headerSize = 0;
  const unsigned first =
      ReadVarint(ByteView(reinterpret_cast<const uint8_t*>(scratch.data()), scratch.size()), 0, headerSize);
  if (headerSize < first + 1 || headerSize > length || headerSize > kMostHeaderBytes) return false;
  if (headerSize > cell.localSize()) {
    if (headerSize > budget) return false;
    budget -= headerSize;
  }
  if (headerSize > scratch.size() &&
      cell.Read(scratch.size(), headerSize - scratch.size(), scratch) != CellPayload::Status::Ok)
    return false;
  const ByteView h(reinterpret_cast<const uint8_t*>(scratch.data()), static_cast<size_t>(headerSize));
  uint64_t pos = first;
  uint64_t body = headerSize;
  while (pos < headerSize) {
    uint64_t type = 0;
    const unsigned n = ReadVarint(h, static_cast<size_t>(pos), type);
    if (pos + n > headerSize || type == 10 || type == 11) return false;
    pos += n;
    body += SerialTypeSize(type);
    if (body > length) return false;
    types.push_back(type);
  }
  return body == length && !types.empty();
}

// One schema record found outside the schema tree.
struct SchemaCandidate {
  uint32_t page = 0;
  uint32_t cell = 0;
  std::string type;  // lower case
  std::string name;
  int64_t rootPage = 0;
  std::string sql;
};

class DeepScan {
 public:
  DeepScan(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16)
      : parser_(parser),
        session_(*parser.owner),
        reader_(*parser.owner->reader),
        g_(geometry),
        utf16_(utf16),
        pages_(static_cast<uint32_t>(std::min<uint64_t>(geometry.pageCount, parser.pageHeaders.size()))),
        holder_(size_t{pages_} + 1, Holder::None),
        owner_(size_t{pages_} + 1, -1) {}

  void Run() {
    if (pages_ == 0) return;
    SurveySchemaTree();
    ReadFreelist();
    const size_t tablesBefore = parser_.tableDescriptors.size();
    for (size_t k = 0; k < tablesBefore; ++k) SurveyTable(static_cast<int32_t>(k));
    ScanFreeLeaves();
    AcceptSchemaCandidates();
    for (size_t k = tablesBefore; k < parser_.tableDescriptors.size(); ++k) SurveyTable(static_cast<int32_t>(k));
    PlaceLostPages();
  }

 private:
  bool IsPage(int64_t p) const { return p >= 1 && static_cast<uint64_t>(p) <= pages_; }
  const PageHeader& Header(uint32_t p) const { return parser_.pageHeaders[p - 1]; }
  bool IsTablePage(uint32_t p) const { return IsTableLeaf(Header(p).type) || IsTableInterior(Header(p).type); }

  // The cells of a table leaf read into page_, as the row walk reads them:
  // offsets and estimated sizes, each cell once (a pointer that repeats an
  // earlier one of the page is left out).
  void LoadLeaf(uint32_t page, std::vector<uint16_t>& offsets, std::vector<uint32_t>& sizes) {
    ReadPage(reader_, g_, page, page_);
    const ByteView bytes(page_.data(), PageBytesInFile(g_, page));
    PageCells cells = ReadPageCells(bytes, page, Header(page), g_, CellKind::TableLeaf);
    const CellBounds bounds = BoundCells(bytes, g_, cells.offsets);
    offsets.clear();
    sizes.clear();
    for (size_t i = 0; i < cells.offsets.size(); ++i) {
      if (bounds.repeat[i]) continue;
      offsets.push_back(cells.offsets[i]);
      sizes.push_back(cells.sizes[i]);
    }
  }

  // Walks the table b-tree under root as the row walk does (each page once,
  // damaged pointers mended alike), so that a page counts as reached exactly
  // when the rows of the table come from it; calls leaf for every table
  // leaf. False when the tree has a missing or foreign page (a child outside
  // the file, a child that is no table page, a page met twice).
  template <typename LeafFn>
  //
  // With table given (a position in tableDescriptors), the walk does not go
  // below a page that the walk of another table entered: in a sound file no
  // two tables share a page, and thousands of tables naming one tree must not
  // walk it thousands of times.
  bool WalkTree(int64_t root, Holder claim, LeafFn&& leaf, std::vector<uint32_t>* entered = nullptr,
                int32_t table = -1) {
    class Walk : public TableTreeWalk {
     public:
      Walk(DeepScan& scan, Holder claim, LeafFn& leaf, std::vector<uint32_t>* entered, int32_t table)
          : TableTreeWalk(scan.reader_, scan.g_, scan.parser_.pageHeaders),
            scan_(scan), claim_(claim), leaf_(leaf), entered_(entered), table_(table) {}
      bool complete = true;

     protected:
      void PageOutsideFile(int64_t) override { complete = false; }
      void PageSeenBefore(uint32_t) override { complete = false; }
      bool EnterPage(uint32_t page) override {
        if (!scan_.IsTablePage(page)) {
          complete = false;
          return true;
        }
        if (table_ >= 0) {
          int32_t& owner = scan_.owner_[page];
          if (owner >= 0 && owner != table_) {
            complete = false;
            return false;
          }
          owner = table_;
        }
        if (scan_.holder_[page] == Holder::None) scan_.holder_[page] = claim_;
        if (entered_ != nullptr) entered_->push_back(page);
        return true;
      }
      bool Leaf(uint32_t page, const PageHeader&) override {
        leaf_(page);
        return true;
      }

     private:
      DeepScan& scan_;
      Holder claim_;
      LeafFn& leaf_;
      std::vector<uint32_t>* entered_;
      int32_t table_;
    };
    Walk walk(*this, claim, leaf, entered, table);
    walk.Run(root);
    return walk.complete;
  }

  // The 5-column record of a cell, when it is one: type, name, table name,
  // root page, SQL text.
  bool ReadSchemaCandidate(CellPayload& cell, SchemaCandidate& out) {
    if (types_.size() != 5 || ClassOf(types_[0]) != kClassText || ClassOf(types_[1]) != kClassText) return false;
    const uint64_t typeBytes = SerialTypeSize(types_[0]) / (utf16_ ? 2 : 1);
    if (typeBytes < 4 || typeBytes > 7) return false;
    if (ClassOf(types_[4]) != kClassText && types_[4] != 0) return false;
    const uint8_t rootClass = ClassOf(types_[3]);
    if (rootClass != kClassInteger && rootClass != kClassNull) return false;
    // Schema records are read whole; the budget keeps a hostile file from
    // making every cell gather the same long chain.
    if (cell.payloadLength() > readBudget_) return false;
    readBudget_ -= cell.payloadLength();
    std::string record;
    if (cell.Read(0, cell.payloadLength(), record) != CellPayload::Status::Ok) return false;
    RecordLayout layout;
    layout.columnCount = 5;
    layout.utf16 = utf16_;
    RecoveredRow row;
    DecodeRecord(ByteView(reinterpret_cast<const uint8_t*>(record.data()), record.size()), PayloadEnd::Complete, layout,
                 row);
    out.type = Lower(row.values[0].bytes);
    if (out.type != "table" && out.type != "index" && out.type != "view" && out.type != "trigger") return false;
    out.name = row.values[1].bytes;
    out.rootPage = row.values[3].kind == RecoveredValue::Kind::Integer ? row.values[3].integer : 0;
    out.sql = row.values[4].kind == RecoveredValue::Kind::Text ? row.values[4].bytes : std::string();
    // A row of a user table can look the same: a schema record carries a
    // CREATE statement, or is an automatic index without one.
    if (out.sql.empty()) return out.type == "index" && Lower(out.name).rfind("sqlite_autoindex_", 0) == 0;
    return Lower(out.sql).find("create") != std::string::npos;
  }

  static std::string Key(const std::string& type, const std::string& name) { return type + '\n' + Lower(name); }

  // The schema tree under page 1: its pages and the objects it names.
  void SurveySchemaTree() {
    WalkTree(1, Holder::Schema, [&](uint32_t page) {
      std::vector<uint16_t> offsets;
      std::vector<uint32_t> sizes;
      LoadLeaf(page, offsets, sizes);
      const ByteView bytes(page_.data(), page_.size());
      for (size_t i = 0; i < offsets.size(); ++i) {
        CellPayload cell(reader_, g_, bytes, offsets[i], sizes[i]);
        SchemaCandidate c;
        if (cell.valid() && ReadSerialTypes(cell, types_, scratch_, readBudget_) && ReadSchemaCandidate(cell, c))
          known_.insert(Key(c.type, c.name));
      }
    });
  }

  void ReadFreelist() {
    uint8_t header[100] = {};
    reader_.ReadAt(g_.base, header, sizeof header);
    const ByteView h(header, sizeof header);
    uint32_t trunk = h.BE32(32);
    const uint32_t perTrunk = g_.usableSize / 4 >= 2 ? g_.usableSize / 4 - 2 : 0;
    std::vector<uint8_t> buffer;
    for (uint32_t n = 0; IsPage(trunk) && n < pages_ && holder_[trunk] != Holder::Freelist; ++n) {
      holder_[trunk] = Holder::Freelist;
      ReadPage(reader_, g_, trunk, buffer);
      const ByteView t(buffer.data(), buffer.size());
      const uint32_t count = std::min(t.BE32(4), perTrunk);
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t leaf = t.BE32(8 + 4 * i);
        if (IsPage(leaf) && holder_[leaf] == Holder::None) holder_[leaf] = Holder::Freelist;
      }
      trunk = t.BE32(0);
    }
  }

  // A table's tree: its pages are held; what the table looks like is kept
  // for the placement of lost pages.
  void SurveyTable(int32_t k) {
    const std::string& descriptor = parser_.tableDescriptors[static_cast<size_t>(k)];
    const TableDescriptorParts parts = ParseTableDescriptor(descriptor);
    HostTable host;
    host.table = k;
    host.name = std::string(Trim(parts.name));
    host.columns = static_cast<int>(parts.columns.size());
    host.rootPage = parts.rootPage;
    std::string statement;
    const size_t kk = static_cast<size_t>(k);
    if (kk < parser_.tableStatements.size() && !parser_.tableStatements[kk].empty())
      statement = parser_.tableStatements[kk];
    else if (kk < parser_.wideTableStatements.size())
      statement = Utf16ToUtf8(parser_.wideTableStatements[kk]);
    const TableShape shape = AnalyseTableShape(statement);
    host.rowidAlias = shape.rowidAlias;
    host.takesPages = !shape.withoutRowid && host.columns > 0;
    if (shape.columns.size() == parts.columns.size())
      for (const ShapeColumn& c : shape.columns) host.affinities.push_back(AffinityOf(c.type));
    if (shape.withoutRowid) {
      // Its tree is an index b-tree, read elsewhere.
      hosts_.push_back(std::move(host));
      return;
    }
    std::vector<uint32_t> entered;
    host.complete = WalkTree(parts.rootPage, Holder::Table, [](uint32_t) {}, &entered, k);
    for (uint32_t p : entered) {
      if (host.spanFirst == 0 || p < host.spanFirst) host.spanFirst = p;
      host.spanLast = std::max<uint64_t>(host.spanLast, p);
    }
    if (!host.complete) incomplete_.push_back(hosts_.size());
    hosts_.push_back(std::move(host));
  }

  // What the records of one leaf hold. False when too few cells are sound
  // records for the page to be a table leaf.
  bool ProfileLeaf(uint32_t page, LostPage& lost, std::vector<SchemaCandidate>* schema) {
    std::vector<uint16_t> offsets;
    std::vector<uint32_t> sizes;
    LoadLeaf(page, offsets, sizes);
    const ByteView bytes(page_.data(), page_.size());
    lost = LostPage{};
    lost.page = page;
    bool any = false;
    int64_t low = 0, high = 0;
    bool schemaPage = false;
    for (size_t i = 0; i < offsets.size(); ++i) {
      CellPayload cell(reader_, g_, bytes, offsets[i], sizes[i]);
      if (!cell.valid() || !ReadSerialTypes(cell, types_, scratch_, readBudget_)) continue;
      if (schema != nullptr) {
        SchemaCandidate c;
        if (ReadSchemaCandidate(cell, c)) {
          c.page = page;
          c.cell = static_cast<uint32_t>(i);
          schema->push_back(std::move(c));
          schemaPage = true;
        }
      }
      ++lost.records;
      lost.columns = std::max(lost.columns, static_cast<int>(types_.size()));
      if (lost.classes.size() < types_.size()) lost.classes.resize(types_.size(), 0);
      for (size_t c = 0; c < types_.size(); ++c) lost.classes[c] |= ClassOf(types_[c]);
      const int64_t rowid = cell.rowid();
      if (!any || rowid < low) low = rowid;
      if (!any || rowid > high) high = rowid;
      any = true;
    }
    if (any) lost.covers.push_back({low, high});
    if (schemaPage) {
      holder_[page] = Holder::Schema;
      return false;
    }
    return lost.records != 0 && size_t{lost.records} * 2 >= offsets.size();
  }

  // Every table leaf that nothing holds: schema records on it are candidates
  // for the lost schema, the others are lost pages.
  void ScanFreeLeaves() {
    for (uint32_t p = 2; p <= pages_; ++p) {
      if (holder_[p] != Holder::None || !IsTableLeaf(Header(p).type) || Header(p).cellCount == 0) continue;
      LostPage lost;
      if (ProfileLeaf(p, lost, &candidates_)) lost_.push_back(std::move(lost));
    }
  }

  void AcceptSchemaCandidates() {
    size_t found = 0;
    for (const SchemaCandidate& c : candidates_) {
      if (c.sql.empty()) continue;
      const std::string key = Key(c.type, c.name);
      if (!known_.insert(key).second) continue;
      if (c.type == "table" && IsPage(c.rootPage) && holder_[static_cast<size_t>(c.rootPage)] != Holder::None) {
        session_.AddLogLine(Format("The table %s found outside the schema tree names page %lld, which another tree "
                                   "holds; it is skipped",
                                   c.name.c_str(), static_cast<long long>(c.rootPage)));
        continue;
      }
      DdlOutcome outcome;
      if (utf16_) {
        std::u16string text = Utf8ToUtf16(c.sql);
        parser_.wideTextBuffers.push_back(text);
        outcome = AnalyseSchemaText(parser_, session_, std::u16string_view(text), c.rootPage, DdlForm::Utf16First,
                                    c.cell + 1);
      } else {
        parser_.textBuffers.push_back(c.sql);
        outcome = AnalyseSchemaText(parser_, session_, std::string_view(c.sql), c.rootPage, DdlForm::Utf8First,
                                    c.cell + 1);
      }
      if (outcome.result == DdlResult::Done) {
        ++found;
      } else {
        session_.AddLogLine(Format("Schema record in cell %u of page %u, outside the schema tree, holds no complete "
                                   "CREATE statement; it is skipped",
                                   c.cell, c.page));
      }
    }
    if (found != 0)
      session_.AddLogLine(Format("%zu schema objects were found outside the schema tree", found));
  }

  // A lost page's view of the tables that might take it.
  void CompleteHostProfiles() {
    for (size_t h : incomplete_) {
      HostTable& host = hosts_[h];
      if (!host.takesPages) continue;
      WalkTree(host.rootPage, Holder::Table, [&](uint32_t page) {
        LostPage leaf;
        ProfileLeaf(page, leaf, nullptr);
        host.records += leaf.records;
        if (leaf.records != 0) host.recordColumns.insert(leaf.columns);
        if (host.classes.size() < leaf.classes.size()) host.classes.resize(leaf.classes.size(), 0);
        for (size_t c = 0; c < leaf.classes.size(); ++c) host.classes[c] |= leaf.classes[c];
        for (const RowidRange& r : leaf.covers) host.rowids.insert(r);
      }, nullptr, host.table);
    }
  }

  void PlaceLostPages() {
    // Pages that a table found by the search holds are no longer lost.
    lost_.erase(std::remove_if(lost_.begin(), lost_.end(),
                               [&](const LostPage& l) { return holder_[l.page] != Holder::None; }),
                lost_.end());
    if (lost_.empty()) return;
    CompleteHostProfiles();

    size_t attached = 0;
    std::map<int, std::vector<uint32_t>> byColumns;
    for (const LostPage& page : lost_) {
      const int h = ChooseHost(page, hosts_);
      if (h >= 0) {
        HostTable& host = hosts_[static_cast<size_t>(h)];
        host.Take(page);
        parser_.deep.tables[host.table].pages.push_back(page.page);
        ++attached;
      } else {
        byColumns[page.columns].push_back(page.page);
      }
    }
    for (const auto& [table, pages] : parser_.deep.tables) {
      const std::string name(
          Trim(ParseTableDescriptor(parser_.tableDescriptors[static_cast<size_t>(table)]).name));
      session_.AddLogLine(Format("Table %s takes %zu pages found outside its tree", name.c_str(), pages.pages.size()));
    }
    for (auto& [columns, pages] : byColumns) {
      const std::string name = LostAndFoundName(parser_, columns);
      const int32_t k = AddLostAndFoundTable(parser_, name, columns, pages.front(), utf16_);
      DeepPages& deep = parser_.deep.tables[k];
      deep.pages = std::move(pages);
      deep.lostAndFound = true;
      deep.recordColumns = columns;
      session_.AddLogLine(Format("Table %s is made for the rows of %zu pages that no table holds", name.c_str(),
                                 deep.pages.size()));
    }
    session_.AddLogLine(Format("%zu table pages lie outside every table's tree: %zu joined their tables, %zu went "
                               "into lost_and_found tables",
                               lost_.size(), attached, lost_.size() - attached));
  }

  sqlite_ver3& parser_;
  RecoverySession& session_;
  Reader& reader_;
  const PageGeometry& g_;
  bool utf16_;
  uint32_t pages_;
  std::vector<Holder> holder_;
  std::vector<int32_t> owner_;  // the table whose walk entered a page first (-1: none)
  uint64_t readBudget_ = 0;
  std::vector<uint8_t> page_;
  std::vector<uint64_t> types_;
  std::string scratch_;
  std::set<std::string> known_;
  std::vector<SchemaCandidate> candidates_;
  std::vector<HostTable> hosts_;
  std::vector<size_t> incomplete_;
  std::vector<LostPage> lost_;

 public:
  void SetReadBudget(uint64_t bytes) { readBudget_ = bytes; }
};

}  // namespace

void RunDeepScan(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16) {
  if (parser.owner == nullptr || !parser.owner->reader || geometry.pageSize == 0 || parser.pageHeaders.empty())
    return;
  DeepScan scan(parser, geometry, utf16);
  scan.SetReadBudget(4 * geometry.fileSize + 65536);
  scan.Run();
}

}  // namespace veltrane

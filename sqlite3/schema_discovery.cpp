#include "sqlite3/schema_discovery.h"

#include "core/session.h"
#include "core/text.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/sqlite_ver3.h"

namespace veltrane {

DdlOutcome SchemaTextSink::Analyse(std::string_view text, int64_t rootPage, DdlForm form, uint32_t progressCell,
                                   size_t startAt) {
  return AnalyseSchemaText(*model, *session, text, rootPage, form, progressCell, startAt);
}

DdlOutcome SchemaTextSink::Analyse(std::u16string_view text, int64_t rootPage, DdlForm form, uint32_t progressCell,
                                   size_t startAt) {
  return AnalyseSchemaText(*model, *session, text, rootPage, form, progressCell, startAt);
}

namespace {

constexpr const char* kNoKeywordBox = "Endian descriptor is corrupted or file is corrupted";
constexpr const char* kRanPastEndBox = "File is corrupted";
constexpr const char* kTooMuchTextBox =
    "The schema's cells hold far more text than the whole file: the file repeats its contents. The objects "
    "found so far are kept; the rest of the schema is skipped.";

// One walk of a subtree of the schema b-tree with one form of the analysis.
class SchemaWalk : public TableTreeWalk {
 public:
  SchemaWalk(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16, SchemaTextSink& sink)
      : TableTreeWalk(*parser.owner->reader, geometry, parser.pageHeaders),
        parser_(parser),
        session_(*parser.owner),
        utf16_(utf16),
        sink_(sink),
        claims_(geometry.pageCount) {
    texts_.Reset(geometry.fileSize, kValueShare, kValueFloor);
  }

  // Walks the subtree under page with the given form; rightChild marks the
  // right-most child of page 1, whose leaf gets the freeblock start rule.
  void Walk(int64_t page, bool first, bool rightChild) {
    first_ = first;
    rightChild_ = rightChild;
    rootOfWalk_ = page;
    Run(page);
  }

  // Reads the cells of page 1 itself when it is a leaf.
  void ReadPageOne() {
    first_ = true;
    rightChild_ = false;
    ReadLeaf(1, parser_.pageHeaders[0]);
  }

 protected:
  void PageOutsideFile(int64_t page) override {
    session_.AddLogLine(Format("Schema page %lld lies outside the file; it is skipped", static_cast<long long>(page)));
  }
  void PageSeenBefore(uint32_t page) override {
    session_.AddLogLine(Format("Schema page %u is named twice; it is read once", page));
  }
  bool Leaf(uint32_t page, const PageHeader& header) override { return ReadLeaf(page, header); }

 private:
  DdlForm Form() const {
    if (utf16_) return first_ ? DdlForm::Utf16First : DdlForm::Utf16Second;
    return first_ ? DdlForm::Utf8First : DdlForm::Utf8Second;
  }

  // False when the walk must end.
  bool ReadLeaf(uint32_t page, const PageHeader& header) {
    if (texts_.exhausted()) return false;
    std::vector<uint8_t> buffer;
    ReadPage(reader_, geometry_, page, buffer);
    const ByteView bytes(buffer.data(), PageBytesInFile(geometry_, page));
    const PageCells read = ReadPageCells(bytes, page, header, geometry_, CellKind::TableLeaf);
    const uint32_t cells = static_cast<uint32_t>(read.offsets.size());
    if (cells == 0) return true;
    if (read.found != 0 || read.dropped != 0)
      session_.AddLogLine(Format("Schema page %u: %u damaged cell pointers were left out and %u cells that no pointer "
                                 "names were read from its content area",
                                 page, read.dropped, read.found));
    const std::vector<uint16_t>& offsets = read.offsets;
    const std::vector<uint32_t>& sizes = read.sizes;
    const CellBounds bounds = BoundCells(bytes, geometry_, offsets);
    if (bounds.repeats != 0)
      session_.AddLogLine(Format("Schema page %u names %u of its cells more than once; each cell is read once", page,
                                 bounds.repeats));
    if (bounds.nested)
      session_.AddLogLine(
          Format("The cells of schema page %u lie inside one another; each is read up to the next one", page));

    // The right-most child's freeblock start rule: while the current
    // freeblock lies at the start of the content area and the page has
    // fragmented bytes, the keyword search of each text begins at the
    // character numbered by that freeblock's size.
    const bool freeblockRule = rightChild_ && page == rootOfWalk_;
    const int32_t contentStart = header.contentStart == 0 ? 65536 : header.contentStart;
    const int16_t contentArea = static_cast<int16_t>(static_cast<int32_t>(geometry_.pageSize) - contentStart);
    int32_t distance = 0;
    uint16_t nextFree = 0, freeSize = 0;
    if (header.type != 0 && header.firstFreeblock != 0) {
      distance = header.firstFreeblock - contentStart;
      nextFree = bytes.BE16(header.firstFreeblock);
      freeSize = bytes.BE16(header.firstFreeblock + 2);
    }

    session_.SetProgressRange(cells);
    for (uint32_t i = 0; i < cells; ++i) {
      size_t startAt = 0;
      if (freeblockRule && distance < 1 && header.firstFreeblock != 0 && header.fragmentedBytes != 0) {
        if (contentArea < 1) break;
        startAt = freeSize;
        const uint16_t current = nextFree;
        distance = current - contentStart;
        nextFree = bytes.BE16(current);
        freeSize = bytes.BE16(current + 2u);
      }
      if (bounds.repeat[i]) continue;
      int64_t root = 0;
      DdlOutcome outcome;
      bool read;
      if (utf16_) {
        std::u16string text;
        read = parser_.ReadSchemaTextAt(page - 1, offsets[i], sizes[i], text, root, bounds.end[i], &claims_);
        if (read && !Spend(2 * text.size())) return false;
        if (read && !text.empty()) {
          parser_.wideTextBuffers.push_back(text);
          outcome = sink_.Analyse(std::u16string_view(text), root, Form(), i + 1, startAt);
        }
        read = read && !text.empty();
      } else {
        std::string text;
        read = parser_.ReadSchemaTextAt(page - 1, offsets[i], sizes[i], text, root, bounds.end[i], &claims_);
        if (read && !Spend(text.size())) return false;
        if (read && !text.empty()) {
          parser_.textBuffers.push_back(text);
          outcome = sink_.Analyse(std::string_view(text), root, Form(), i + 1, startAt);
        }
        read = read && !text.empty();
      }
      if (!read) {
        session_.AddLogLine(Format("Schema record in cell %u of page %u holds no text; it is skipped", i, page));
        continue;
      }
      if (outcome.result == DdlResult::NoKeyword) {
        if (!noKeywordShown_) session_.ShowMessage(kNoKeywordBox);
        noKeywordShown_ = true;
        session_.AddLogLine(
            Format("Schema record in cell %u of page %u holds no CREATE statement; it is skipped", i, page));
      } else if (outcome.result == DdlResult::RanPastEnd) {
        if (!ranPastEndShown_) session_.ShowMessage(kRanPastEndBox);
        ranPastEndShown_ = true;
        session_.AddLogLine(
            Format("Schema record in cell %u of page %u ends inside its statement; it is skipped", i, page));
      }
    }
    return true;
  }

  // Counts the bytes of a text read; false (after the box) when the texts of
  // the scan have grown far beyond the file.
  bool Spend(uint64_t bytes) {
    if (texts_.Spend(bytes + 16)) return true;
    session_.ShowMessage(kTooMuchTextBox);
    return false;
  }

  sqlite_ver3& parser_;
  RecoverySession& session_;
  bool utf16_;
  SchemaTextSink& sink_;
  bool first_ = true;
  bool rightChild_ = false;
  int64_t rootOfWalk_ = 0;
  bool noKeywordShown_ = false;
  bool ranPastEndShown_ = false;
  OverflowClaims claims_;
  WorkBudget texts_;  // the text bytes of the whole scan
};

}  // namespace

void DiscoverSchema(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16, SchemaTextSink& sink) {
  if (parser.pageHeaders.empty() || parser.owner == nullptr || !parser.owner->reader) return;
  if (sink.model == nullptr) sink.model = &parser;
  if (sink.session == nullptr) sink.session = parser.owner;
  RecoverySession& session = *parser.owner;
  const PageHeader one = parser.pageHeaders[0];
  if (one.cellCount == 0 && !IsTableInterior(one.type) && static_cast<int8_t>(one.type) >= 8) return;

  SchemaWalk walk(parser, geometry, utf16, sink);
  if (static_cast<int8_t>(one.type) >= 12) {
    walk.ReadPageOne();
    return;
  }
  if (IsTableInterior(one.type)) {
    // The left children of page 1, each with the subtree below it.
    std::vector<uint8_t> buffer;
    ReadPage(*session.reader, geometry, 1, buffer);
    const ByteView bytes(buffer.data(), buffer.size());
    const uint32_t fit = static_cast<uint32_t>((buffer.size() - 112) / 2);
    const uint32_t cells = std::min<uint32_t>(one.cellCount, fit);
    for (uint32_t i = 0; i < cells; ++i) {
      const uint32_t child = bytes.BE32(bytes.BE16(112 + 2 * i));
      walk.Walk(static_cast<int32_t>(child), true, false);
    }
  } else if (one.cellCount != 0) {
    session.AddLogLine("Schema page 1 is no table page; its cells are skipped");
  }
  // The right-most child of page 1 and the subtree below it.
  if (static_cast<int8_t>(one.type) < 8) walk.Walk(static_cast<int32_t>(one.rightChild), false, true);
}

}  // namespace veltrane

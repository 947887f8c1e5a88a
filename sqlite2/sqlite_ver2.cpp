#include "sqlite2/sqlite_ver2.h"

#include <algorithm>
#include <string_view>

#include "core/ddl.h"
#include "core/session.h"
#include "output/save_flow.h"
#include "sqlite2/ver2_btree.h"
#include "sqlite2/ver2_deep.h"

namespace veltrane {

sqlite_ver2::~sqlite_ver2() = default;

bool sqlite_ver2::SaveDatabase(const std::string&) { return SaveRepairedDatabase(*this, SourceFormat::Sqlite2); }
uint64_t sqlite_ver2::CountEntries() { return CountCheckedEntries(*this, true); }

std::string sqlite_ver2::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver2::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver2::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

void sqlite_ver2::ParseFile(const std::string&) {
  if (owner == nullptr || !owner->reader) return;
  RecoverySession& session = *owner;
  // Every SQLite 2 offset counts from the first byte of the file.
  session.startOffset = 0;
  session.progressCounter = 0;
  rowProgress = 0;
  deep.Clear();

  uint8_t header[ver2::kFileHeaderSize];
  session.reader->ReadAt(0, header, sizeof header);
  byteOrder = ver2::DetectByteOrder(ByteView(header, sizeof header));

  const ver2::PageFile file(*session.reader, byteOrder);
  ver2PageHeaders = ver2::ReadPageHeaders(file);
  WalkMaster(file);
  Ver2DeepScan deepScan(*this, file);
  deepScan.SearchMasterRecords();
  DiscoverSchema();
  deepScan.PlaceLostPages();
  HandOverToTree(*this, session, false);
}

void sqlite_ver2::ReadMasterPayload(uint32_t dataSize, uint64_t cellOffset, ver2::PageSet* claimed) {
  if (owner == nullptr || !owner->reader) return;
  const ver2::PageFile file(*owner->reader, byteOrder);
  Ver2CellHeader header;
  header.dataSizeHigh = static_cast<uint8_t>(dataSize >> 16);
  header.dataSizeLow = static_cast<uint16_t>(dataSize);
  std::string record = file.ReadCellData(cellOffset, header, claimed);
  masterRecordSizes.push_back(static_cast<uint32_t>(record.size()));
  textBuffers.push_back(std::move(record));
}

void sqlite_ver2::WalkMaster(const ver2::PageFile& file) {
  ver2::WalkOptions options;
  options.readFromHeaderEndWhenEmpty = true;
  // The records of a sound file are stored once each: together they never
  // hold more bytes than the file. Cells that overlap in a damaged page could.
  uint64_t budget = file.reader().size;
  ver2::WalkVisitor visitor;
  visitor.cell = [&](const ver2::CellRef& cell) {
    cellHeader = cell.header;
    ReadMasterPayload(ver2::DataSize(cell.header), cell.fileOffset, cell.claimed);
    const uint64_t got = masterRecordSizes.back();
    if (got > budget) {
      textBuffers.pop_back();
      masterRecordSizes.pop_back();
      return false;
    }
    budget -= got;
    return true;
  };
  ver2::WalkTree(file, ver2PageHeaders, ver2::kMasterRoot, options, visitor);
}

void sqlite_ver2::DiscoverSchema() {
  RecoverySession& session = *owner;
  // The analysis appends buffers of its own; only the master records are scanned.
  const size_t records = std::min(textBuffers.size(), masterRecordSizes.size());
  for (size_t k = 0; k < records; ++k) {
    const std::string record(textBuffers[k], 0, masterRecordSizes[k]);
    // Whatever the outcome, the next record is analysed on its own.
    AnalyseSqlite2Record(*this, session, std::string_view(record));
  }
}

}  // namespace veltrane

#include "core/detect.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "core/text.h"

namespace veltrane {

namespace {

void Inform(SessionObserver& observer, const char* text) {
  observer.ShowMessage(text, kAppTitle, MessageStyle::Information);
}

bool MatchesAt(const uint8_t* data, std::string_view signature) {
  for (size_t i = 0; i < signature.size(); ++i)
    if (ToUpperAscii(static_cast<char>(data[i])) != ToUpperAscii(signature[i])) return false;
  return true;
}

// First offset in [0, last] at which signature stands (ignoring case), read in
// large chunks instead of one seek and read per offset.
std::optional<uint64_t> FindSignature(Reader& reader, std::string_view signature, uint64_t last) {
  constexpr size_t kChunk = 1 << 20;
  const size_t len = signature.size();
  std::vector<uint8_t> buf(kChunk + len);
  for (uint64_t start = 0; start <= last; start += kChunk) {
    const uint64_t candidates = std::min<uint64_t>(kChunk, last - start + 1);
    reader.ReadAt(start, buf.data(), static_cast<size_t>(candidates) + len - 1);
    const char first = ToUpperAscii(signature[0]);
    for (size_t i = 0; i < candidates; ++i)
      if (ToUpperAscii(static_cast<char>(buf[i])) == first && MatchesAt(&buf[i], signature))
        return start + i;
  }
  return std::nullopt;
}

}  // namespace

int32_t DetectFormat(Reader& reader, uint64_t& startOffset, SessionObserver& inform) {
  const uint64_t size = reader.size;
  if (size < 512) {
    Inform(inform, "File Format not supported, please select file again");
    return 0;
  }
  // SQLite 3: every offset up to size - 513 (a 512-byte file: offset 0 only).
  const uint64_t last3 = size == 512 ? 0 : size - 513;
  if (auto at = FindSignature(reader, kSqlite3Signature, last3)) {
    startOffset = *at + 1;
    return 2;
  }
  startOffset = 0;
  if (size < 1024) {
    Inform(inform, "File Format not supported, please select file again");
    return 0;
  }
  // SQLite 2: at offset 0 the start offset stays 0; elsewhere up to size - 1025
  // (a 1024-byte file: offset 0 only).
  const uint64_t last2 = size == 1024 ? 0 : size - 1025;
  if (auto at = FindSignature(reader, kSqlite2Signature, last2)) {
    startOffset = *at == 0 ? 0 : *at + 1;
    return 1;
  }
  Inform(inform, "The Database content is not in its appropriate form");
  return 0;
}

FileDescription DescribeFile(const std::string& path, FileSelection& selection, SessionObserver& inform) {
  FileDescription d;
  selection.startOffset = 0;
  selection.utf8 = false;
  selection.utf16 = false;

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Inform(inform, "Please select valid database file.");
    return d;
  }
  d.pathAccepted = true;
  selection.path = path;
  selection.pageSize = 0;

  std::unique_ptr<Reader> reader = makeReader(path);
  if (!reader || !reader->IsOpen()) {
    Inform(inform, "The database file is used by other process.");
    return d;
  }
  selection.formatVersion = DetectFormat(*reader, selection.startOffset, inform);
  d.fileSize = reader->size;
  if (selection.formatVersion == 1 || selection.formatVersion == 2) {
    d.versionChecked = selection.formatVersion;
  } else {
    Inform(inform, "Version cannot be detected.Please select the version to continue");
    return d;
  }

  if (selection.formatVersion == 2) {
    uint8_t header[100];
    reader->ReadAt(selection.startOffset - 1, header, sizeof header);
    const ByteView h(header, sizeof header);
    // A page-size field of 1 is how SQLite writes 65536.
    const uint32_t field = h.BE16(16);
    d.pageSizeText = Format("%u", field == 1 ? 65536u : field);
    d.encodingByte = h.U8(59);
    if (d.encodingByte == 1) {
      d.encodingChecked = 1;
      selection.utf8 = true;
    } else if (d.encodingByte == 2) {
      d.encodingChecked = 2;
      selection.utf16 = true;
    }
  } else {
    d.encodingChecked = 1;
    selection.utf8 = true;
    d.pageSizeText = "1024";
    selection.pageSize = 1024;
    selection.pageCount = d.fileSize / 1024;
  }

  selection.pageSize = static_cast<uint64_t>(static_cast<int64_t>(std::atoi(d.pageSizeText.c_str())));
  if (selection.pageSize != 0) selection.pageCount = d.fileSize / selection.pageSize;
  return d;
}

void ApplyManualChoice(const ManualChoice& choice, FileSelection& selection, uint64_t fileSize) {
  if (choice.formatVersion) {
    selection.formatVersion = *choice.formatVersion;
    if (*choice.formatVersion == 1) {
      if (!choice.pageSize) selection.pageSize = 1024;
      if (!choice.utf16) selection.utf8 = true, selection.utf16 = false;
    }
  }
  if (choice.utf16) {
    selection.utf16 = *choice.utf16;
    selection.utf8 = !*choice.utf16;
  }
  if (choice.pageSize) selection.pageSize = *choice.pageSize;
  if (choice.headerOffset) selection.startOffset = *choice.headerOffset + 1;
  if (selection.pageSize != 0) selection.pageCount = fileSize / selection.pageSize;
}

}  // namespace veltrane

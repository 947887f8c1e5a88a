#include "core/detect.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "core/page_inference.h"
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

// Holds the messages of the signature search until it is known whether the
// pages can stand in for a missing signature.
class HeldMessages : public SessionObserver {
 public:
  void AddLogLine(const std::string&, int32_t) override {}
  void SetStatusText(const std::string&) override {}
  void ShowProgress(bool) override {}
  void SetProgressRange(uint32_t) override {}
  void SetProgressPos(uint32_t) override {}
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override {
    held_.push_back({text, caption, style});
    return MessageResult::Ok;
  }
  bool ChooseDatabaseFile(FileSelection&) override { return false; }
  void Replay(SessionObserver& to) {
    for (const Held& m : held_) to.ShowMessage(m.text, m.caption, m.style);
  }

 private:
  struct Held {
    std::string text, caption;
    MessageStyle style;
  };
  std::vector<Held> held_;
};

bool IsValidPageSize(uint32_t size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

void SetEncoding(FileDescription& d, FileSelection& selection, int encoding) {
  d.encoding = encoding;
  if (encoding == 1) {
    d.encodingChecked = 1;
    selection.utf8 = true;
  } else if (encoding == 2) {
    d.encodingChecked = 2;
    selection.utf16 = true;
  }
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
  selection.inferredFromPages.clear();
  selection.textEncoding = 0;

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Inform(inform, "Please select valid database file.");
    return d;
  }
  d.pathAccepted = true;
  selection.path = path;
  selection.pageSize = 0;

  std::unique_ptr<Reader> reader = makeReaderWithoutCopy(path);
  if (!reader || !reader->IsOpen()) {
    Inform(inform, "The database file is used by other process.");
    return d;
  }
  HeldMessages held;
  selection.formatVersion = DetectFormat(*reader, selection.startOffset, held);
  d.fileSize = reader->size;
  std::vector<std::string> inferred;
  uint32_t inferredPageSize = 0;
  if (selection.formatVersion == 0) {
    // No signature: the pages may still say where a SQLite 3 database lies.
    const InferredGeometry g = InferGeometry(*reader);
    if (g.found) {
      selection.formatVersion = 2;
      selection.startOffset = g.base + 1;
      inferredPageSize = g.pageSize;
      d.pageSizeInferred = d.startInferred = true;
      inferred.push_back(Format("page size %u", g.pageSize));
      inferred.push_back(Format("database start at offset %llu", static_cast<unsigned long long>(g.base)));
    }
  }
  if (selection.formatVersion == 1 || selection.formatVersion == 2) {
    d.versionChecked = selection.formatVersion;
  } else {
    held.Replay(inform);
    Inform(inform, "Version cannot be detected.Please select the version to continue");
    return d;
  }
  // The search's complaints stand unless the pages answered them.
  if (!d.startInferred) held.Replay(inform);

  if (selection.formatVersion == 2) {
    const uint64_t base = selection.startOffset - 1;
    uint8_t header[100];
    reader->ReadAt(base, header, sizeof header);
    const ByteView h(header, sizeof header);
    uint32_t pageSize = 0;
    if (d.startInferred) {
      pageSize = inferredPageSize;
    } else {
      // A page-size field of 1 is how SQLite writes 65536.
      const uint32_t field = h.BE16(16);
      pageSize = field == 1 ? 65536u : field;
      d.encodingByte = h.U8(59);
      if (!IsValidPageSize(pageSize)) {
        const InferredGeometry g = InferGeometry(*reader, base);
        if (g.found) {
          pageSize = g.pageSize;
          d.pageSizeInferred = true;
          inferred.push_back(Format("page size %u", g.pageSize));
        }
      }
    }
    d.pageSizeText = Format("%u", pageSize);
    int encoding = d.encodingByte >= 1 && d.encodingByte <= 3 ? d.encodingByte : 0;
    if (encoding == 0 && IsValidPageSize(pageSize)) {
      encoding = InferTextEncoding(*reader, base, pageSize);
      // Texts that tell nothing: UTF-8, the usual encoding.
      if (encoding == 0 && d.startInferred) encoding = 1;
      if (encoding != 0) {
        d.encodingInferred = true;
        selection.textEncoding = encoding;
        inferred.push_back(Format("text encoding %s", EncodingName(encoding)));
      }
    }
    d.encoding = encoding;
    if (d.encodingInferred || d.encodingByte == 1 || d.encodingByte == 2) SetEncoding(d, selection, encoding);
  } else {
    d.encodingChecked = 1;
    selection.utf8 = true;
    d.pageSizeText = "1024";
    selection.pageSize = 1024;
    selection.pageCount = d.fileSize / 1024;
  }
  for (size_t i = 0; i < inferred.size(); ++i) d.inferredText += (i ? ", " : "") + inferred[i];
  selection.inferredFromPages = d.inferredText;

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
    // UTF-16 keeps the byte order the pages told; UTF-8 overrides them.
    if (!*choice.utf16 || selection.textEncoding != 3) selection.textEncoding = 0;
  }
  // What the user gives replaces what the pages told.
  if (choice.formatVersion || choice.pageSize || choice.headerOffset) selection.inferredFromPages.clear();
  if (choice.pageSize) selection.pageSize = *choice.pageSize;
  if (choice.headerOffset) selection.startOffset = *choice.headerOffset + 1;
  if (selection.pageSize != 0) selection.pageCount = fileSize / selection.pageSize;
}

}  // namespace veltrane

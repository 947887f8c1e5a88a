// Format detection: what the "Select Database file" step learns from a file's
// own bytes (format version, where the database starts, text encoding, page
// size and page count). Shared by the window's dialog and the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/observer.h"
#include "core/reader.h"

namespace veltrane {

inline constexpr const char* kSqlite3Signature = "SQLite format 3";
inline constexpr const char* kSqlite2Signature = "** This file contains an SQLite 2.1 database **";

// Searches the file for the SQLite 3 signature, then for the SQLite 2 one.
// Returns 2 (SQLite 3), 1 (SQLite 2.x) or 0, and sets startOffset to one more
// than the signature's offset (0 for a SQLite 2 signature at offset 0).
// Failures are told through inform (an information box).
int32_t DetectFormat(Reader& reader, uint64_t& startOffset, SessionObserver& inform);

// What the dialog shows after a file was chosen.
struct FileDescription {
  bool pathAccepted = false;  // the path was taken into the selection
  int32_t versionChecked = 0;  // 1: "Version 2", 2: "Version 3", 0: neither
  int encodingChecked = 0;     // 1: "UTF-8", 2: "UTF-16", 0: neither
  std::string pageSizeText;    // text of the page-size edit
  uint64_t fileSize = 0;
  int encodingByte = -1;  // the SQLite 3 header's text-encoding byte, -1 when not read
  // What was read from the pages because the header could not tell: no
  // signature (page size, start and encoding), an invalid page-size field,
  // or an encoding byte that names no encoding.
  bool pageSizeInferred = false;
  bool startInferred = false;
  bool encodingInferred = false;
  int encoding = 0;          // 1 UTF-8, 2 UTF-16le, 3 UTF-16be; 0 unknown
  std::string inferredText;  // the same in words, empty when nothing was inferred
};

// The browse step for a chosen path: clears the start offset and encodings,
// checks the path, detects the format, reads the header and fills selection
// (path, startOffset, formatVersion, pageSize, pageCount, utf8, utf16). When
// no signature is found, or the SQLite 3 header's page size or encoding is
// invalid, what it lacks is inferred from the pages (inferredFromPages,
// textEncoding).
FileDescription DescribeFile(const std::string& path, FileSelection& selection,
                             SessionObserver& inform);

// A manual choice made by the user (radio buttons, page-size edit, command
// line flags); what is set replaces what detection found.
struct ManualChoice {
  std::optional<int32_t> formatVersion;  // 1 or 2
  std::optional<bool> utf16;             // false: UTF-8, true: UTF-16
  std::optional<uint64_t> pageSize;
  std::optional<uint64_t> headerOffset;  // byte offset of the header in the file
  bool Any() const { return formatVersion || utf16 || pageSize || headerOffset; }
};
void ApplyManualChoice(const ManualChoice& choice, FileSelection& selection, uint64_t fileSize);

}  // namespace veltrane

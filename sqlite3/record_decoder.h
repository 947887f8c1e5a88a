// Record decoding: the values of one table row from the bytes of its payload,
// and the two renderings of a value (the record list's text and the insert
// statement's literal).
//
// Record (the payload of a table-leaf cell):
//
//   field               size
//   ------------------  ------------------------------------------------
//   header size H       varint, counts itself
//   serial types        one varint per column, up to byte H
//   values              one per serial type, in column order
//
// Serial types:
//
//   type        bytes        value
//   ----------  -----------  --------------------------------------------
//   0           0            NULL (the rowid in the rowid alias column)
//   1 2 3 4     1 2 3 4      big-endian two's complement integer
//   5 6         6 8          big-endian two's complement integer
//   7           8            IEEE 754 double, big-endian
//   8 9         0            the integers 0 and 1
//   10 11       0            reserved: an empty text
//   N >= 12 even (N-12)/2    blob
//   N >= 13 odd  (N-13)/2    text in the file's encoding (UTF-8, UTF-16le or UTF-16be)
//
// A record written before ALTER TABLE ADD COLUMN has fewer serial types than
// the table has columns: the columns after its last are missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/bytes.h"
#include "core/parser.h"
#include "core/record_list.h"

namespace veltrane {

// How the bytes of a payload ended before the record did.
enum class PayloadEnd {
  Complete,     // every byte of the payload is there
  ChainEnded,   // the overflow chain ended early: a value keeps what was gathered
  CellContent,  // the cell or its first overflow page number is damaged
  Reading       // an overflow page named a page outside the file
};

struct RecordLayout {
  int columnCount = 0;
  int rowidAlias = -1;  // the column whose stored NULL is the rowid
  bool utf16 = false;      // texts are UTF-16
  bool bigEndian = false;  // UTF-16 texts with the high byte first (else little-endian)
};

// What decoding a record met.
struct DecodeResult {
  PayloadEnd cut = PayloadEnd::Complete;  // why the later columns are missing
  bool hasBlob = false;
  size_t filled = 0;  // leading entries of row.values the record set; the rest are Missing
};

// Decodes the record whose payload bytes, as far as they could be read, are
// in payload; end says why there are no more when the record declares more.
// row.values gets one value per column; missing ones stay Missing.
DecodeResult DecodeRecord(const ByteView& payload, PayloadEnd end, const RecordLayout& layout, RecoveredRow& row);
// The same for a row whose entries from `clean` on are Missing already (the
// filled count of the record decoded into it before): only the entries before
// it are reset, so that a wide table of short records costs no work per
// column it lacks.
DecodeResult DecodeRecord(const ByteView& payload, PayloadEnd end, const RecordLayout& layout, RecoveredRow& row,
                          size_t clean);

// The bytes a record needs: its header and every value it declares, at most
// payloadLength; header holds the payload's first bytes.
uint64_t RecordExtent(const ByteView& header, uint64_t payloadLength, int columnCount);

// True when a record's header accounts for its payload exactly: its header
// size plus the sizes of the values it declares make the payload length, it
// declares at least one and at most columnCount values (0: any number) and no
// reserved serial type. Every record of a healthy file does.
bool RecordAccountsFor(const ByteView& record, uint64_t payloadLength, int columnCount);

// The one bit of a record's header (the bytes that can hold it) whose flip
// makes the record account for its payload; none when no single flip does,
// or more than one.
struct HeaderFlip {
  size_t byte = 0;
  uint8_t mask = 0;
};
std::optional<HeaderFlip> FindHeaderFlip(const ByteView& record, uint64_t payloadLength, int columnCount);

// The record list's cell for a value: numbers in decimal, doubles with six
// decimals, "NULL" for a stored NULL, "< Blob Data >" for a blob (in a UTF-16
// file the blob's bytes read as UTF-16 text in the file's byte order), empty
// for a missing column.
RecordCell ValueText(const RecoveredValue& value, bool utf16, bool bigEndian = false);

// The statement literal of a value: numbers unquoted (doubles with 17
// significant digits, so they read back exactly), texts quoted with inner
// quotes doubled, NULL, "?" for a blob, '' for a missing column.
std::string ValueLiteral(const RecoveredValue& value);

// "insert into " + tableName + " values(" + the literals + ");".
std::string BuildInsertStatement(const std::string& tableName, const RecoveredRow& row);

}  // namespace veltrane

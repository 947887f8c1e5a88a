// The write-ahead log beside a database ("FILE-wal"): the pages of its
// committed transactions, which are newer than the database file's own.
//
// WAL header (32 bytes at offset 0; integers big-endian):
//
//   offset  size  field
//   ------  ----  ---------------------------------------------------------
//        0     4  magic: 0x377f0682 (checksum words little-endian) or
//                 0x377f0683 (checksum words big-endian)
//        4     4  format version, 3007000
//        8     4  page size
//       12     4  checkpoint sequence number
//       16     4  salt-1
//       20     4  salt-2
//       24     4  checksum-1 over bytes 0..23
//       28     4  checksum-2
//
// Frames follow, each a 24-byte frame header and one page:
//
//   offset  size  field
//   ------  ----  ---------------------------------------------------------
//        0     4  page number
//        4     4  database size in pages after the commit; non-zero only on
//                 the last frame of a transaction (a commit frame)
//        8     4  salt-1, equal to the header's
//       12     4  salt-2, equal to the header's
//       16     4  checksum-1, cumulative: the header's checksum, then every
//                 earlier frame, then this frame's first 8 bytes and its page
//       20     4  checksum-2
//
// Checksum: over 32-bit words in the byte order the magic names, two at a
// time, starting from the previous values: s0 += x[i] + s1; s1 += x[i+1] + s0.
//
// A frame with a wrong salt or checksum, or a page number 0, ends the valid
// part of the log; frames after the last valid commit frame belong to no
// complete transaction and are not used.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/reader.h"

namespace veltrane {

class RecoverySession;

struct WalCommits {
  enum class Status { Usable, NoHeader, OtherPageSize, NoCommit };
  Status status = Status::NoHeader;
  uint32_t pageSize = 0;
  // Page number -> offset of the page's newest committed copy in the log.
  std::unordered_map<uint32_t, uint64_t> pages;
  uint64_t frames = 0;          // frames of the complete transactions
  uint64_t commits = 0;         // complete transactions
  uint32_t databasePages = 0;   // database size after the last commit
  uint64_t framesIgnored = 0;   // whole frames after the last commit
  bool tornFrame = false;       // the log ends inside a frame
};

// Reads the committed transactions of a log. pageSize is the database's;
// a log with another one is not used. maxPage bounds the page numbers taken
// (larger ones name no page the database could have).
WalCommits ReadWalCommits(Reader& wal, uint32_t pageSize, uint64_t maxPage);

// When session.filePath + "-wal" exists, makes the session's reader show the
// pages of its committed transactions instead of the file's, and logs what
// was applied. The source and its log are opened read-only and never changed.
void ApplyWalFile(RecoverySession& session, uint64_t base, uint32_t pageSize);

}  // namespace veltrane

// What a front end implements to show a recovery: SessionObserver, and the
// file choice (FileSelection) that the "Select Database file" step leaves.
#pragma once

#include <cstdint>
#include <string>

#include "core/object_tree.h"
#include "core/record_list.h"

namespace veltrane {

inline constexpr const char* kAppTitle = "Veltrane SQLite Database Recovery v17.0";

// Message box styles (the values are the platform's).
enum class MessageStyle : uint32_t {
  Plain = 0,          // OK, no icon
  Information = 64,   // OK, information icon
  YesNo = 68,         // Yes and No, information icon
  YesNoQuestion = 36  // Yes and No, question icon
};
enum class MessageResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// The user's choice of file, filled by the file dialog (or the command line).
struct FileSelection {
  std::string path;
  uint64_t startOffset = 0;  // one more than the header's offset; 0 = from the first byte
  int32_t formatVersion = 0;  // 1 = SQLite 2.x, 2 = SQLite 3, 0 = not detected
  uint64_t pageCount = 0;
  uint64_t pageSize = 0;  // 0 = none chosen
  bool utf8 = false;
  bool utf16 = false;
  // What the pages themselves told when the header could not (no signature,
  // an invalid page size or encoding byte), e.g. "page size 4096, database
  // start at offset 0, text encoding UTF-8"; empty when the header told all.
  std::string inferredFromPages;
  int32_t textEncoding = 0;  // 0: the header's byte decides; 1 UTF-8, 2 UTF-16le, 3 UTF-16be
};

// Reports of a session to its front end. Worker threads call these; a window
// hands them over to its own thread (blocking for ShowMessage, which must
// return the answer). The tree and record list changes arrive through the
// two listener interfaces.
class SessionObserver : public TreeListener, public RecordListListener {
 public:
  ~SessionObserver() override = default;

  // One line of the activity log; row is the log list's row for it (the
  // session's logLineCount before the line).
  virtual void AddLogLine(const std::string& text, int32_t row) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void ShowProgress(bool show) = 0;
  virtual void SetProgressRange(uint32_t upper) = 0;
  // Called once per row: keep it cheap (store the value, show it later).
  virtual void SetProgressPos(uint32_t position) = 0;
  virtual MessageResult ShowMessage(const std::string& text, const std::string& caption,
                                    MessageStyle style) = 0;
  // Shows the file choice; true for OK, with the choice in selection.
  virtual bool ChooseDatabaseFile(FileSelection& selection) = 0;

  void TreeChanged(const TreeChange&) override {}
  void RecordListChanged(const RecordListChange&) override {}
};

}  // namespace veltrane

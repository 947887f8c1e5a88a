#include "core/quiet_observer.h"

#include "core/detect.h"

namespace veltrane {

MessageResult QuietObserver::ShowMessage(const std::string&, const std::string&, MessageStyle style) {
  return style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion ? MessageResult::Yes
                                                                              : MessageResult::Ok;
}

bool QuietObserver::ChooseDatabaseFile(FileSelection& selection) {
  return DescribeFile(path_, selection, *this).pathAccepted;
}

}  // namespace veltrane

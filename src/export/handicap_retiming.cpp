#include "export/handicap_retiming.h"

#include "foundation/text.h"
#include "resources/messages_export.h"

namespace lapora {

std::string RetimingStartText(const HandicapRetiming& retiming) {
  return (retiming.clockTime - retiming.handicap).FormatHundredths();
}

std::optional<std::string> ApplyRetiming(HandicapRetiming& retiming, const std::string& entered) {
  CChrono passageTime;
  if (!passageTime.ParseTimeHundredths(entered)) {
    return Tr(kMsgRetimingInvalidTime);
  }
  retiming.handicap = retiming.clockTime - passageTime;
  return std::nullopt;
}

}  // namespace lapora

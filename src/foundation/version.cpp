#include "foundation/version.h"

#include "foundation/text.h"
#include "resources/messages_foundation.h"

namespace lapora {

std::string StartBannerText() {
  return StrF(Tr(kMsgStartBanner).c_str(), kVersionText);
}

}  // namespace lapora

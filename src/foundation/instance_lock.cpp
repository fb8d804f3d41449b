#include "foundation/instance_lock.h"

#include <utility>

namespace lapora {

CInstanceLock::TakeResult CInstanceLock::Take(const std::string& lockFolder,
                                              std::string* errorText) {
  auto fail = [errorText](TakeResult result, std::string text) {
    if (errorText != nullptr) {
      *errorText = std::move(text);
    }
    return result;
  };
  if (m_lock.IsLocked()) {
    return TakeResult::kTaken;
  }
  if (lockFolder.empty()) {
    return fail(TakeResult::kFailed, "no folder for the instance lock");
  }
  std::string reason;
  if (!m_lock.Open(lockFolder + "/" + kFileName, &reason)) {
    return fail(TakeResult::kFailed, reason);
  }
  if (m_lock.TryLock(&reason)) {
    return TakeResult::kTaken;
  }
  std::string path = m_lock.Path();
  m_lock.Close();
  if (!reason.empty()) {
    return fail(TakeResult::kFailed, reason);
  }
  return fail(TakeResult::kHeldElsewhere, path + ": held by another instance");
}

}  // namespace lapora

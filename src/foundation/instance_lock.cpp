#include "foundation/instance_lock.h"

namespace lapora {

bool CInstanceLock::Take(const std::string& lockFolder, std::string* errorText) {
  if (m_lock.IsLocked()) {
    return true;
  }
  if (lockFolder.empty()) {
    if (errorText != nullptr) {
      *errorText = "no folder for the instance lock";
    }
    return false;
  }
  if (!m_lock.Open(lockFolder + "/" + kFileName, errorText)) {
    return false;
  }
  if (!m_lock.TryLock()) {
    if (errorText != nullptr) {
      *errorText = m_lock.Path() + ": held by another instance";
    }
    m_lock.Close();
    return false;
  }
  return true;
}

}  // namespace lapora

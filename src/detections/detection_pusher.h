// Where a stored detection is offered to the results software. The results link implements it;
// the intake holds a pointer that is null while no link exists (nothing is offered then).
// PushDetection is called from any recording thread (box threads, the main thread).
#pragma once

#include "foundation/kol_result.h"

namespace lapora {

class DetectionPusher {
 public:
  virtual ~DetectionPusher() = default;
  // Sends the record at once when the direct connection is up, does nothing otherwise. Must
  // not block for long and must not call back into the recorded detection list.
  virtual void PushDetection(const CKolResult& record) = 0;
};

}  // namespace lapora

// BoxSupervisor: the main thread's handling of the box threads' reports: a box whose state
// changed (OnBoxStatus) or that stopped answering (OnBoxPingError) is stopped and, when it
// was lost and reconnection is on, started again. Main thread only.
#pragma once

#include <functional>

#include "boxlink/ostra_box.h"

namespace lapora {

class BoxSupervisor {
 public:
  struct Hooks {
    std::function<COstraBox*(int boxNumber)> findBox;    // null for an unknown number
    std::function<void(int boxNumber)> updateBoxStatus;  // refresh the slot's picture
    std::function<void()> restartRefreshTimer;           // the one-shot 500 ms count refresh
    std::function<void()> pumpEvents;  // handle pending events while a box thread ends
  };

  BoxSupervisor(BoxLinkServices& services, Hooks hooks);

  // A BoxStatusEvent: failed is 1 when the box's reception failed.
  void OnBoxStatus(int boxNumber, int failed);
  // A BoxPingErrorEvent.
  void OnBoxPingError(int boxNumber);

  // The operator's StopBoxThread with this supervisor's event pump: a loss of the box
  // reported from now on, even while the stop waits, no longer starts it again.
  void StopBoxThread(COstraBox& box);

 private:
  // The end of the thread of a box found lost (the box may be started again afterwards).
  void CleanUpBoxThread(COstraBox& box);
  void PauseWhilePumping(int milliseconds);

  BoxLinkServices& m_services;
  Hooks m_hooks;
};

}  // namespace lapora

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

  // StopBoxThread with this supervisor's event pump.
  void StopBoxThread(COstraBox& box);

 private:
  void PauseWhilePumping(int milliseconds);

  BoxLinkServices& m_services;
  Hooks m_hooks;
};

}  // namespace lapora

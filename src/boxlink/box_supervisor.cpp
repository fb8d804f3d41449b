#include "boxlink/box_supervisor.h"

#include <chrono>
#include <thread>

#include "foundation/app_settings.h"
#include "foundation/log.h"
#include "foundation/sound.h"

namespace lapora {

BoxSupervisor::BoxSupervisor(BoxLinkServices& services, Hooks hooks)
    : m_services(services), m_hooks(std::move(hooks)) {}

void BoxSupervisor::StopBoxThread(COstraBox& box) {
  box.StopBoxThread(m_hooks.pumpEvents, COstraBox::StopKind::kFinal);
}

void BoxSupervisor::CleanUpBoxThread(COstraBox& box) {
  box.StopBoxThread(m_hooks.pumpEvents, COstraBox::StopKind::kCleanup);
}

void BoxSupervisor::PauseWhilePumping(int milliseconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    if (m_hooks.pumpEvents) {
      m_hooks.pumpEvents();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void BoxSupervisor::OnBoxStatus(int boxNumber, int failed) {
  if (m_hooks.updateBoxStatus) {
    m_hooks.updateBoxStatus(boxNumber);
  }
  COstraBox* box = m_hooks.findBox ? m_hooks.findBox(boxNumber) : nullptr;
  if (box == nullptr) {
    return;
  }
  CComBox* transport = box->Transport();
  if (transport != nullptr && (transport->IsConnected() || transport->IsActive())) {
    return;
  }
  Logger& log = m_services.log;
  // A stop already asked for (the operator's, perhaps still waiting under this very handler)
  // wins over the restart of a box lost just before it.
  bool beingStopped = box->IsStopWanted();
  log.PostLogF(0, "APP CNX ERROR for box %d. Expected = %s. StopBoxThread", boxNumber,
               failed == 0 ? "YES" : "NO");
  CleanUpBoxThread(*box);
  if (failed == 1) {
    if (m_services.sound != nullptr) {
      m_services.sound->PlaySoundResource(kSoundBoxError);
    }
    if (m_services.settings.GBoxReconnectSeconds.load() != 0) {
      if (beingStopped) {
        log.PostLogF(0, "APP FOUND UNEXPECTED CNX ERROR for box %d, stopped: no restart",
                     boxNumber);
      } else {
        log.PostLogF(0, "APP FOUND UNEXPECTED CNX ERROR for box %d and will restart BoxThread",
                     boxNumber);
        (void)box->StartBoxThread();
      }
    }
  }
  if (m_hooks.restartRefreshTimer) {
    m_hooks.restartRefreshTimer();
  }
}

void BoxSupervisor::OnBoxPingError(int boxNumber) {
  if (m_hooks.updateBoxStatus) {
    m_hooks.updateBoxStatus(boxNumber);
  }
  COstraBox* box = m_hooks.findBox ? m_hooks.findBox(boxNumber) : nullptr;
  if (box == nullptr) {
    return;
  }
  Logger& log = m_services.log;
  bool beingStopped = box->IsStopWanted();
  log.PostLogF(0, "APP PING ERROR for box %d. StopBoxThread", boxNumber);
  if (!beingStopped) {
    box->NoteConnectionLost();
  }
  CleanUpBoxThread(*box);
  if (m_services.sound != nullptr) {
    m_services.sound->PlaySoundResource(kSoundBoxError);
  }
  // Events keep being handled during the pause.
  PauseWhilePumping(500);
  if (m_services.settings.GBoxReconnectSeconds.load() != 0 && !beingStopped) {
    log.PostLogF(0, "APP FOUND PING ERROR for box %d and will restart BoxThread", boxNumber);
    (void)box->StartBoxThread();
  }
  if (m_hooks.restartRefreshTimer) {
    m_hooks.restartRefreshTimer();
  }
}

}  // namespace lapora

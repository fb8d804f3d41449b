#include "boxlink/ostra_box.h"

#include "boxlink/serial_com_box.h"
#include "boxlink/tcp_com_box.h"

namespace lapora {

COstraBox::COstraBox(BoxLinkServices& services, int number)
    : m_services(services),
      m_number(number),
      m_transport(std::make_unique<CTcpComBox>(services.log, services.settings)) {}

COstraBox::~COstraBox() {
  if (m_thread.joinable()) {
    m_stop = true;
    m_threadStateChanged.notify_all();
    if (m_transport != nullptr) {
      m_transport->RequestStop();
    }
    m_thread.join();
  }
  if (m_transport != nullptr) {
    m_transport->Close();
  }
}

std::string COstraBox::ConnectionName() const {
  return m_transport != nullptr ? m_transport->GetLabel() : std::string("[:0 ]");
}

std::string COstraBox::DetectorLabel() const {
  return m_transport != nullptr ? m_transport->DetectorId() : std::string();
}

void COstraBox::SetTransport(std::unique_ptr<CComBox> transport) {
  if (m_transport != nullptr) {
    m_transport->Close();
  }
  m_transport = std::move(transport);
}

void COstraBox::ConfigureTransport(const std::string& detectorId, const std::string& address,
                                   int port) {
  if (m_transport != nullptr &&
      (m_transport->Address() != address || m_transport->PortValue() != port)) {
    m_readHistory.Clear();
    m_replayAfterLoss = false;
    m_lostSinceConnection = false;
    m_health.Reset();
  }
  bool serial = IsSerialAddress(address);
  if (m_transport == nullptr || m_transport->IsSerial() != serial) {
    if (serial) {
      SetTransport(std::make_unique<CSerialComBox>(m_services.log));
    } else {
      SetTransport(std::make_unique<CTcpComBox>(m_services.log, m_services.settings));
    }
  }
  m_transport->SetConfig(detectorId, address, port);
}

std::string COstraBox::DeviceId() const {
  std::lock_guard lock(m_deviceIdMutex);
  return m_deviceId;
}

void COstraBox::SetDeviceId(const std::string& deviceId) {
  std::lock_guard lock(m_deviceIdMutex);
  m_deviceId = deviceId;
}

int COstraBox::TakeCommandSequence() {
  int current = m_commandSequence.load();
  while (!m_commandSequence.compare_exchange_weak(current, current >= 9999 ? 0 : current + 1)) {
  }
  return current;
}

}  // namespace lapora

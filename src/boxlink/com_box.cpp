#include "boxlink/com_box.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>

#include "foundation/text.h"

namespace lapora {

bool CComBox::Open(const std::string& detectorId, const std::string& address, int port,
                   std::string* errorText) {
  SetConfig(detectorId, address, port);
  return Connect(errorText);
}

std::string CComBox::GetLabel() const {
  return StrF("[%s:%d %s]", ShortAddress(m_address).c_str(), m_port, m_detectorId.c_str());
}

std::string CComBox::GetShortLabel() const {
  return StrF("%s-%d-%s", ShortAddress(m_address).c_str(), m_port, m_detectorId.c_str());
}

void CComBox::SetConfig(const std::string& detectorId, const std::string& address, int port) {
  m_detectorId = detectorId;
  m_address = address;
  m_port = port;
}

void CComBox::GetConfig(std::string* detectorId, std::string* address, int* port) const {
  if (detectorId != nullptr) {
    *detectorId = m_detectorId;
  }
  if (address != nullptr) {
    *address = m_address;
  }
  if (port != nullptr) {
    *port = m_port;
  }
}

std::string ShortAddress(const std::string& address) {
  std::size_t dot = address.rfind('.');
  return dot == std::string::npos ? address : address.substr(dot + 1);
}

bool IsSerialAddress(const std::string& address) {
  if (address.rfind("/dev/", 0) == 0) {
    return true;
  }
  return address.size() >= 4 && EqualsNoCase(address.substr(0, 3), "COM") &&
         std::isdigit(static_cast<unsigned char>(address[3])) != 0;
}

std::string SerialDevicePath(const std::string& portName) {
  if (portName.size() >= 4 && EqualsNoCase(portName.substr(0, 3), "COM")) {
    std::size_t end = 3;
    long number = 0;
    while (end < portName.size() && std::isdigit(static_cast<unsigned char>(portName[end])) &&
           number < 100000) {
      number = number * 10 + (portName[end] - '0');
      ++end;
    }
    if (end == portName.size() && end > 3 && number >= 1) {
      return "/dev/ttyS" + std::to_string(number - 1);
    }
  }
  return portName;
}

int CurrentThreadNumber() {
  thread_local int number = static_cast<int>(::syscall(SYS_gettid));
  return number;
}

}  // namespace lapora

// Conversions between the system's Windows-1252 texts and Qt's strings. Pure functions.
#pragma once

#include <QString>
#include <string>

#include "foundation/text.h"

namespace lapora {

inline QString ToQt(const std::string& cp1252) {
  return QString::fromStdString(Cp1252ToUtf8(cp1252));
}

inline QString ToQt(const Message& message) {
  return ToQt(Tr(message));
}

inline std::string FromQt(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

}  // namespace lapora

// Sets an environment variable for one test and puts the old value back when it ends.
#pragma once

#include <cstdlib>
#include <string>

namespace lapora::testing {

class EnvOverride {
 public:
  EnvOverride(const char* name, const std::string& value) : m_name(name) {
    const char* old = std::getenv(name);
    m_had = old != nullptr;
    m_old = m_had ? old : "";
    setenv(name, value.c_str(), 1);
  }
  ~EnvOverride() {
    if (m_had) {
      setenv(m_name, m_old.c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* m_name;
  bool m_had = false;
  std::string m_old;
};

}  // namespace lapora::testing

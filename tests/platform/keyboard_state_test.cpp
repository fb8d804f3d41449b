// Scroll Lock state: the LAPORA_SPEECH override, and a machine without any keyboard state.
#include "platform/keyboard_state.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace lapora {
namespace {

// Saves and restores one environment variable around a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name); old != nullptr) {
      m_old = old;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

TEST(KeyboardStateTest, SpeechVariableForcesTheState) {
  {
    ScopedEnv speech("LAPORA_SPEECH", "1");
    EXPECT_TRUE(IsScrollLockOn());
  }
  {
    ScopedEnv speech("LAPORA_SPEECH", "0");
    EXPECT_FALSE(IsScrollLockOn());
  }
}

TEST(KeyboardStateTest, NoDisplayAndNoVariableIsNotAnError) {
  ScopedEnv speech("LAPORA_SPEECH", nullptr);
  ScopedEnv display("DISPLAY", ":98765");  // no server answers there
  // Depends on the machine's keyboard LEDs; it must only answer without trouble.
  const bool first = IsScrollLockOn();
  EXPECT_EQ(IsScrollLockOn(), first);
  ScopedEnv other("LAPORA_SPEECH", "yes");  // not 0 or 1: the keyboard decides
  EXPECT_EQ(IsScrollLockOn(), first);
}

}  // namespace
}  // namespace lapora

// The version text of the program and the log banners built from it. Constants and pure
// functions: thread-safe.
#pragma once

#include <string>

namespace lapora {

// The year is written with a letter o.
inline constexpr char kVersionText[] = "Version 1.40 - 9 jun 2o26";
// The exit banner exists in one language only.
inline constexpr char kExitBannerText[] = "------------------------ Sortie Lapora";

// "------------------------ Starting Lapora version ..." in the build language.
std::string StartBannerText();

}  // namespace lapora

// Bilingual texts of the foundation layer (start-up, banners), English then French, UTF-8.
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgAlreadyStarted{
    "Sorry...\nLapora is already started and cannot be started twice...",
    "Désolé...\nLapora est déjà lancé et ne peut être lancé plusieurs fois..."};

inline constexpr Message kMsgStartBanner{"------------------------ Starting Lapora version %s",
                                         "------------------------ Lancement Lapora version %s"};

}  // namespace lapora

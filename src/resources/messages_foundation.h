// Bilingual texts of the foundation layer (start-up, banners), English then French, UTF-8.
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgAlreadyStarted{
    "Sorry...\nLapora is already started and cannot be started twice...",
    "Désolé...\nLapora est déjà lancé et ne peut être lancé plusieurs fois..."};

// Start-up refused: without these the program would run without settings, log or incoming
// file, or beside another instance. %s: "<path>: <system reason>".
inline constexpr Message kMsgDataFolderRefused{
    "Lapora cannot start: its data folder cannot be used.\n%s",
    "Lapora ne peut pas démarrer : son dossier de données est inutilisable.\n%s"};
inline constexpr Message kMsgLogFolderRefused{
    "Lapora cannot start: its log folder cannot be used.\n%s",
    "Lapora ne peut pas démarrer : son dossier des journaux est inutilisable.\n%s"};
inline constexpr Message kMsgInstanceLockRefused{
    "Lapora cannot start: its instance lock cannot be made.\n%s",
    "Lapora ne peut pas démarrer : son verrou d'instance ne peut être créé.\n%s"};

inline constexpr Message kMsgStartBanner{"------------------------ Starting Lapora version %s",
                                         "------------------------ Lancement Lapora version %s"};

}  // namespace lapora

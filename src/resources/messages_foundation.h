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

// A folder at the name of this user's temporary folder that others could put things in (a
// link, another user's folder, one others may enter) is left alone. %s: its path.
inline constexpr Message kMsgTempFolderRefused{
    "## Temporary folder %s is not private to this user: not used",
    "## Le dossier temporaire %s n'est pas réservé à cet utilisateur : il n'est pas utilisé"};

inline constexpr Message kMsgStartBanner{"------------------------ Starting Lapora version %s",
                                         "------------------------ Lancement Lapora version %s"};

}  // namespace lapora

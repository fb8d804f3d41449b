// Texts of the main window's own algorithms (opening, closing, commands, log level selector).
// Read-only data; any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgExitQuestion{"Do you really want to exit the acquisition module ?",
                                          "Souhaitez vraiment quitter le module d'acquisition ?"};
inline constexpr Message kMsgHelpNotFound{"File Lapora.pdf was not found!",
                                          "Fichier Lapora.pdf non trouvé !"};
inline constexpr Message kMsgHelpNotOpened{
    "## %s could not be opened: no document viewer could be started",
    "## %s n'a pas pu être ouvert : aucun lecteur de documents n'a pu être lancé"};
inline constexpr Message kMsgBoxUndefined{"Box undefined", "Boîtier non configuré"};
// Logged at level 25 when another program asks for the window in front of all windows.
inline constexpr Message kMsgBringToFrontRequested{"+ Bring to front requested",
                                                   "+ Mise au premier plan demandée"};

// The entries of the log level selector; each text starts with its level.
inline constexpr Message kMsgLevelMinimum{"  0    [Minimum]", "  0    [Minimum]"};
inline constexpr Message kMsgLevelLow{" 25   [Low]", " 25   [Faible]"};
inline constexpr Message kMsgLevelMedium{" 50   [Medium]", " 50   [Moyen]"};
inline constexpr Message kMsgLevelHigh{" 75   [High]", " 75   [Fort]"};
inline constexpr Message kMsgLevelMaximum{"100  [Maximum]", "100  [Maximum]"};

}  // namespace lapora

// Texts of the main window's layout: title, labels, buttons, tooltips. Read-only data; any
// thread (only the window uses them).
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgWindowTitle{"Lapora Detections", "Détections Lapora"};
inline constexpr Message kMsgCheckDetections{"Detections", "Détections"};
inline constexpr Message kMsgCheckScroll{"Scroll", "Défilement"};
inline constexpr Message kMsgSummaryLabel{"Detections information", "Informations détections"};
inline constexpr Message kMsgLogsLabel{"Logs", "Traces"};
inline constexpr Message kMsgClearAbove{"^^^^^^ Clear those logs", "^^^^^^ Effacer ces traces"};
inline constexpr Message kMsgClearBeside{"<<<<<< Clear those logs", "<<<<<< Effacer ces traces"};

inline constexpr Message kMsgButtonConfiguration{"Configuration...", "Configuration..."};
inline constexpr Message kMsgButtonConnectBoxes{"Connect\nto boxes", "Connexion\naux boitiers"};
inline constexpr Message kMsgButtonForget{"Forget all recorded\ndetections!...",
                                          "Oublier toutes les détections enregistrées !!!..."};
inline constexpr Message kMsgButtonExportAll{"Export all\nrecorded detections",
                                             "Exporter toutes les détections enregistrées"};
inline constexpr Message kMsgButtonInsert{"Insert\na detection", "Insérer\nune détection"};
inline constexpr Message kMsgButtonSyncClocks{"Synchronization\nof boxes clocks",
                                              "Synchronisation\nheure boîtiers"};
inline constexpr Message kMsgButtonShowClocks{"Display boxes\nclocks", "Voir heure\ndes boîtiers"};
inline constexpr Message kMsgButtonImport{"Import detections\nfrom boxes or files",
                                          "Import détections\nboîtiers ou fichiers"};
inline constexpr Message kMsgButtonDirect{"Direct Dorix-Pro connection",
                                          "Connexion directe à Dorix-Pro"};
inline constexpr Message kMsgButtonExit{"Exit", "Quitter"};
inline constexpr Message kMsgLogLevelLabel{"Log level:", "Niveau de traces :"};

inline constexpr Message kMsgTipDetections{
    "It is recommended NOT to log the detection (uncheck this box) in case of massive "
    "detections input, like for example a departure line.",
    "Il est recommandé de ne pas afficher les détections (décocher cette case) en cas de "
    "passage massif de coureurs sur la ligne de détection, comme par exemple une ligne de "
    "départ."};
inline constexpr Message kMsgTipHelp{"Help (PDF format)", "Aide (PDF)"};

// The progress dialog of work that runs beside the window.
inline constexpr Message kMsgProgressCancel{"Cancel", "Annuler"};
inline constexpr Message kMsgProgressCancelling{"Cancelling...", "Annulation en cours..."};

}  // namespace lapora

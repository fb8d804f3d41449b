// Texts of the export of detection lines: the statistics and the handicap re-timing dialog.
// Read-only constants: safe from any thread. Texts that exist in one language only are the
// same in both.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Statistics: no memory for the arrays to sort.
inline constexpr Message kMsgNoMemoryToGroup{"Error #8254047.2\nCan't allocate memory for sorting",
                                             "Error #8254047.2\nCan't allocate memory for sorting"};
inline constexpr Message kMsgNoMemoryToSort{"Error #8254047\nCan't allocate memory for sorting",
                                            "Error #8254047\nCan't allocate memory for sorting"};

// The handicap re-timing dialog.
inline constexpr Message kMsgRetimingTitle{"Recalage de handicap", "Recalage de handicap"};
inline constexpr Message kMsgRetimingInstruction{
    "Saisissez ci-dessous le temps de passage pour effectuer le recalage",
    "Saisissez ci-dessous le temps de passage pour effectuer le recalage"};
inline constexpr Message kMsgRetimingPassLabel{"Passage n°", "Passage n°"};
inline constexpr Message kMsgRetimingBibLabel{"Dossard", "Dossard"};
inline constexpr Message kMsgRetimingClockLabel{"Heure de passage :", "Heure de passage :"};
inline constexpr Message kMsgRetimingTimeLabel{"Temps de passage :", "Temps de passage :"};
inline constexpr Message kMsgRetimingOk{"OK", "OK"};
inline constexpr Message kMsgRetimingCancel{"Annuler", "Annuler"};
inline constexpr Message kMsgRetimingInvalidTime{
    "Temps invalide.\nLe format est 'hh:mn:ss.ct' ou 'hh.mm.ss.ct'\nLes centièmes de secondes "
    "sont facultatifs",
    "Temps invalide.\nLe format est 'hh:mn:ss.ct' ou 'hh.mm.ss.ct'\nLes centièmes de secondes "
    "sont facultatifs"};

// FTP uploads: the reasons of a failed job, and the log lines of the job notifications (these
// exist in French only).
inline constexpr Message kMsgFtpCantOpenSource{"Can't open sourceFile %s",
                                               "Erreur d'ouverture du fichier %s"};
inline constexpr Message kMsgFtpCantConnect{"Can't connect to site %s",
                                            "Erreur de connexion au site %s"};
inline constexpr Message kMsgFtpJobStarted{"++ Démarrage transfert FTP [%s]",
                                           "++ Démarrage transfert FTP [%s]"};
inline constexpr Message kMsgFtpJobDone{"++ Transfert FTP terminé [%s]",
                                        "++ Transfert FTP terminé [%s]"};
inline constexpr Message kMsgFtpJobFailed{"++ Erreur transfert FTP [%s] : %s",
                                          "++ Erreur transfert FTP [%s] : %s"};
// A server that could not be reached (its name, then the wait in seconds), and a waiting job
// that a full queue dropped (remote name, server).
inline constexpr Message kMsgFtpServerBackoff{
    "++ FTP server %s cannot be reached: its transfers wait %d s before the next try",
    "++ Serveur FTP %s injoignable : ses transferts attendent %d s avant le prochain essai"};
inline constexpr Message kMsgFtpJobDropped{
    "++ FTP transfer queue full: [%s] to %s gives way to newer transfers",
    "++ File des transferts FTP pleine : [%s] vers %s cède la place aux transferts plus récents"};

}  // namespace lapora

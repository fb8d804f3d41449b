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

// FtpServers.dat holds the servers' passwords in clear; found open to other users when the
// program starts. %s: its path; %03o: the rights it had; the second %s: the system's reason.
inline constexpr Message kMsgFtpServersNarrowed{
    "+ %s holds passwords and was open to other users (rights %03o): now its owner's alone",
    "+ %s contient des mots de passe et était ouvert aux autres utilisateurs (droits %03o) : "
    "désormais réservé à son propriétaire"};
inline constexpr Message kMsgFtpServersNotNarrowed{
    "## %s holds passwords and is open to other users (rights %03o), and this cannot be "
    "changed: %s",
    "## %s contient des mots de passe et est ouvert aux autres utilisateurs (droits %03o), ce "
    "qui ne peut être changé : %s"};

// FTP uploads: the reasons of a failed job, and the log lines of the job notifications (these
// exist in French only).
inline constexpr Message kMsgFtpCantOpenSource{"Can't open sourceFile %s",
                                               "Erreur d'ouverture du fichier %s"};
inline constexpr Message kMsgFtpCantConnect{"Can't connect to site %s",
                                            "Erreur de connexion au site %s"};
// An SFTP server whose key is not the one its host has in ~/.ssh/known_hosts: none there, or
// another one. %s: the site; the second %s: the shell command that makes the key a known one.
inline constexpr Message kMsgSftpHostKeyUnknown{
    "Unknown SSH key for %s: upload refused. If this is the right server, accept its key with: "
    "%s",
    "Clé SSH inconnue pour %s : envoi refusé. Si c'est bien le bon serveur, acceptez sa clé "
    "avec : %s"};
inline constexpr Message kMsgSftpHostKeyChanged{
    "The SSH key of %s has changed: upload refused (another machine may be answering in its "
    "place). If the server's key really changed, replace it with: %s",
    "La clé SSH de %s a changé : envoi refusé (une autre machine répond peut-être à sa place). "
    "Si la clé du serveur a vraiment changé, remplacez-la avec : %s"};
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

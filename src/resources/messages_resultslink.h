// Texts of the direct connection to the results software: the link's state messages, the
// decoder's reports and the fallback texts of its code tables. Read-only data; any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgDirectButton{"Direct Dorix-Pro connection",
                                          "Connexion directe à Dorix-Pro"};
// The direct-connection button's tooltip while detections are kept for the results software.
// %d: the count; %s: the plural ending.
inline constexpr Message kMsgDetectionsToSend{"%d detection%s to send", "%d détection%s à envoyer"};
inline constexpr Message kMsgNoDetectionToSend{"No detection to send",
                                               "Aucune détection à envoyer"};
inline constexpr Message kMsgLinkConnected{"+ Connection to Dorix-Pro successful",
                                           "+ Connexion à Dorix-Pro effectuée avec succès"};
inline constexpr Message kMsgLinkLost{"Direct connection to Dorix-Pro lost!",
                                      "Perte de connexion directe à Dorix-Pro !"};
inline constexpr Message kMsgLinkDisconnected{"+ Disconnection from Dorix-Pro...",
                                              "+ Déconnexion de Dorix-Pro..."};
inline constexpr Message kMsgLinkVersionRefused{
    "Your Dorix version is not compatible with this Lapora version!",
    "Version Dorix incompatible avec cette version de Lapora !"};
// %d: the port.
inline constexpr Message kMsgLinkBadPort{"## Direct connection: invalid Dorix-Pro port %d",
                                         "## Connexion directe : port Dorix-Pro invalide %d"};
// %s: the system's reason.
inline constexpr Message kMsgLinkSendFailed{
    "## Sending to Dorix-Pro failed (%s): direct connection closed",
    "## Envoi vers Dorix-Pro impossible (%s) : connexion directe fermée"};
// %d: the seconds without progress.
inline constexpr Message kMsgLinkStalled{
    "## Dorix-Pro has taken none of the data waiting for it for %d s: direct connection closed",
    "## Dorix-Pro n'a rien pris des données en attente depuis %d s : connexion directe fermée"};
// %d: the bytes waiting.
inline constexpr Message kMsgLinkBacklog{
    "## Dorix-Pro does not keep up (%d bytes waiting): direct connection closed",
    "## Dorix-Pro ne suit pas (%d octets en attente) : connexion directe fermée"};
// %s: the system's reason.
inline constexpr Message kMsgLinkNoKeepAlive{
    "## Direct connection: a vanished Dorix-Pro may go unnoticed (%s)",
    "## Connexion directe : la disparition de Dorix-Pro risque de passer inaperçue (%s)"};
// %d: the longest line kept.
inline constexpr Message kMsgLinkLineTooLong{
    "## Line from Dorix-Pro longer than %d characters: the rest of it is dropped",
    "## Ligne de Dorix-Pro de plus de %d caractères : la fin est ignorée"};
// %d: the number of fields read.
inline constexpr Message kMsgLinkDecodeError{"Error decoding response: (ret=%d)",
                                             "Erreur décodage réponse: (ret=%d)"};
inline constexpr Message kMsgLinkUnknownCommand{"unknown command", "Commande inconnue"};
inline constexpr Message kMsgLinkUnknownStatus{"unknown status", "Status inconnu"};

// Ordinal texts of a rank; %d: the rank.
inline constexpr Message kMsgOrdinalUnknown{"?th", "?ème"};
inline constexpr Message kMsgOrdinalOther{"%dth", "%dème"};

}  // namespace lapora

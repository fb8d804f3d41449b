// Texts of the four box slots (status display, connection of all boxes), of the box menu and
// of the clock buttons, English and French, in UTF-8. Read-only constants: safe from any
// thread. Texts that exist in one language only are plain literals in box_slots.cpp; the box
// prefix "Box %d %s" is kMsgInitBoxPrefix and "Box undefined" is kMsgBoxUndefined.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Status display. The title: box number, transport label (the same in both languages).
inline constexpr Message kMsgBoxSlotTitle{"Boîtier %d %s", "Boîtier %d %s"};
inline constexpr Message kMsgBoxSlotNotConnected{"Box not connected", "Boîtier non connecté"};
inline constexpr Message kMsgBoxSlotReconnecting{"Reconnecting...", "Reconnexion en cours..."};
inline constexpr Message kMsgBoxSlotConnected{"Box connected\n", "Boîtier connecté\n"};
// The figures of a box that has been connected in this run, one line each.
// Seconds without any line from the connected box.
inline constexpr Message kMsgBoxSlotNoData{"No data for %d s\n", "Aucune donnée depuis %d s\n"};
// Reads per second over the last 10 s.
inline constexpr Message kMsgBoxSlotReads{"Reads: %.1f/s over the last 10 s\n",
                                          "Lectures : %.1f/s sur les 10 dernières s\n"};
// Detection lines recorded, ignored (repeats, already recorded) and invalid.
inline constexpr Message kMsgBoxSlotDetections{
    "Detections: %lld recorded, %lld ignored, %lld invalid\n",
    "Détections : %lld enregistrées, %lld ignorées, %lld invalides\n"};
// Seconds since the last detection line.
inline constexpr Message kMsgBoxSlotLastRead{"Last read: %d s ago\n",
                                             "Dernière lecture : il y a %d s\n"};
inline constexpr Message kMsgBoxSlotNoRead{"Last read: none\n", "Dernière lecture : aucune\n"};
inline constexpr Message kMsgBoxSlotReconnections{"Reconnections: %d\n", "Reconnexions : %d\n"};
// Offset ("+2.003 s").
inline constexpr Message kMsgBoxSlotClockOffset{"Clock offset: %s\n", "Décalage horloge : %s\n"};
// Offset, alarm limit in ms.
inline constexpr Message kMsgBoxSlotClockAlarm{"Clock offset: %s (beyond %d ms!)\n",
                                               "Décalage horloge : %s (au-delà de %d ms !)\n"};
inline constexpr Message kMsgBoxSlotClockUnknown{"Clock offset: unknown\n",
                                                 "Décalage horloge : inconnu\n"};
inline constexpr Message kMsgBoxSlotClickForMenu{"Click for other box functions",
                                                 "Cliquez pour un pilotage fin du boîtier"};

// Connection and disconnection of all boxes.
inline constexpr Message kMsgDisconnectBoxesQuestion{
    "Are you sure you want to disconnect from the boxes?",
    "Etes vous certain de vouloir vous déconnecter des boîtiers ?"};
inline constexpr Message kMsgLetUsGo{"Let us go", "say parti. mon kiki"};
inline constexpr Message kMsgNoBoxDeclared{
    "No Varnex box has been declared in your configuration !!!",
    "Aucun boîtier Varnex n'est déclaré dans votre configuration !!!"};
inline constexpr Message kMsgNoBoxInitialized{
    "No Varnex box has been successfully initialized in your configuration !!!",
    "Aucun boîtier Varnex n'a été initialisé avec succès dans votre configuration !!!"};

// Boxes initialised, boxes declared.
inline constexpr Message kMsgConnectAllDone{
    "+ Connection to the boxes done: %d of %d initialized",
    "+ Connexion aux boîtiers terminée : %d sur %d initialisé(s)"};

// Box menu labels (the "varnex: ..." labels are the same in both languages).
inline constexpr Message kMsgMenuConnect{"Connect", "Connexion"};
inline constexpr Message kMsgMenuDisconnect{"Disconnect", "Déconnexion"};
inline constexpr Message kMsgMenuAccept{"Accept detections", "Accepter les détections"};
inline constexpr Message kMsgMenuDismiss{"Dismiss detections", "Refuser les détections"};
inline constexpr Message kMsgMenuClearBox{"Clear all box detections",
                                          "Vider le boîtier de toutes les détections"};
inline constexpr Message kMsgMenuToday{" (today)", " (aujourdhui)"};
inline constexpr Message kMsgMenuAll{" (all)", " (toutes)"};

// Box menu actions. Command keyword, parameter.
inline constexpr Message kMsgSendingCommandWithParameter{
    "Sending command %s with parameter %s", "+ Envoi commande %s avec le paramètre %s"};
// Command keyword.
inline constexpr Message kMsgSendingCommand{"Sending command %s", "+ Envoi commande %s"};
// Command keyword, error text of the sending.
inline constexpr Message kMsgErrorSendingCommand{"## Error sending command [%s]: %s",
                                                 "## Erreur envoi de commande [%s] : %s"};
inline constexpr Message kMsgDisconnectBoxQuestion{
    "Are you sure you want to disconnect from this box?",
    "Etes vous certain de vouloir vous déconnecter de ce boîtier ?"};
inline constexpr Message kMsgClearBoxQuestion{
    "Are you sure you want to clear all detections recorded on this box?",
    "Etes vous certain de vouloir supprimer les détections enregistrées sur ce boîtier ?"};

// Clock buttons. The first %s is the box prefix ("Box %d %s").
inline constexpr Message kMsgSyncClocksQuestion{
    "Are you sure you want to synchronize connected Varnex boxes ?\nThis will update their "
    "internal clock.",
    "Etes vous certain de vouloir synchroniser les boîtiers connectés ?\nCela provoque une mise "
    "à jour de leur horloge interne."};
inline constexpr Message kMsgSyncRequest{"+ %s : Request for synchronization",
                                         "+ %s : Demande de synchronisation horloge"};
inline constexpr Message kMsgSyncSetDateError{"## %s : Error sending command setDate: %s",
                                              "## %s : Erreur envoi de commande setDate : %s"};
inline constexpr Message kMsgSyncSendingSetTime{"+ %s : Sending command setTime: %s",
                                                "+ %s : Envoi de commande setTime : %s"};
inline constexpr Message kMsgSyncSetTimeError{"## %s : Error sending command setTime: %s",
                                              "## %s : Erreur envoi de commande setTime : %s"};
inline constexpr Message kMsgShowClocksRequest{"+ %s : Request for box date and time",
                                               "+ %s : Demande heure boîtier"};

// Slot settings refused while the slot's box thread runs. Box number.
inline constexpr Message kMsgBoxConfigWhileRunning{
    "## Box %d: its settings cannot be loaded while it is connected",
    "## Boîtier %d : ses paramètres ne peuvent être chargés pendant sa connexion"};

// Console commands of the box slots. The command text as typed.
inline constexpr Message kMsgConsoleBoxUsage{
    "## Unknown box command: %s (box N connect|disconnect|open C|stop C|accept|dismiss|clear|"
    "gate S|gun|pack-today|pack-all|rewind-today|rewind-all; S is 1, 2, 3, 5, 10, 15 or 30; N "
    "and C are 1 to 4)",
    "## Commande boîtier inconnue : %s (box N connect|disconnect|open C|stop C|accept|dismiss|"
    "clear|gate S|gun|pack-today|pack-all|rewind-today|rewind-all ; S vaut 1, 2, 3, 5, 10, 15 ou "
    "30 ; N et C vont de 1 à 4)"};
// Box number, the command text as typed.
inline constexpr Message kMsgConsoleBoxItemDisabled{
    "## Box %d: \"%s\" is not available in its present state",
    "## Boîtier %d : \"%s\" n'est pas disponible dans son état actuel"};

}  // namespace lapora

// Texts of the box link (protocol replies, transports, box threads), English and French, in
// UTF-8. Read-only constants: safe from any thread. Texts that exist in one language only are
// plain literals in the code that uses them.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Replies and reports of a box; the first %s is the box thread's log prefix, the last the
// payload.
inline constexpr Message kMsgBoxHeartBeat{"+ %s : heartBeat: %s", "+ %s : heartBeat : %s"};
inline constexpr Message kMsgBoxMachineDate{"+ %s : Box machineDate: %s",
                                            "+ %s : machineDate : %s"};
// Prefix, box time, PC time, difference.
inline constexpr Message kMsgBoxMachineTime{
    "+ %s : machineTime %s (command received at %s - diff: %s)",
    "+ %s : machineTime %s (commande reçue à %s - diff: %s)"};
inline constexpr Message kMsgBoxMachineState{"+ %s : machineState: %s", "+ %s : machineState : %s"};
inline constexpr Message kMsgBoxChannelsState{"+ %s : channelsState: %s",
                                              "+ %s : channelsState : %s"};
inline constexpr Message kMsgBoxGunStartTime{"+ %s : gunStartTime: %s", "+ %s : gunStartTime : %s"};
inline constexpr Message kMsgBoxEpcLastRead{"+ %s : epcLastRead: %s", "+ %s : epcLastRead : %s"};
inline constexpr Message kMsgBoxReaderPower{"+ %s : readerPower: %s", "+ %s : readerPower : %s"};
inline constexpr Message kMsgBoxSetGateTime{"+ %s : setGateTime: %s", "+ %s : setGateTime : %s"};
inline constexpr Message kMsgBoxGetGunTime{"+ %s : getGunTime: %s", "+ %s : getGunTime : %s"};
inline constexpr Message kMsgBoxActiveSystemState{"+ %s : activeSystemState: %s",
                                                  "+ %s : activeSystemState : %s"};
inline constexpr Message kMsgBoxReaderChannel{"+ %s : readerChannel: %s",
                                              "+ %s : readerChannel : %s"};
inline constexpr Message kMsgBoxReaderOpen{"+ %s : readerOpen: %s", "+ %s : readerOpen : %s"};
inline constexpr Message kMsgBoxReaderStop{"+ %s : readerStop: %s", "+ %s : readerStop : %s"};
inline constexpr Message kMsgBoxPackDataSection{"+ %s : packDataSection: %s",
                                                "+ %s : packDataSection : %s"};
// Marker ("+" or "##"), prefix, payload.
inline constexpr Message kMsgBoxPackDataResult{"%s %s : packDataResult: %s",
                                               "%s %s : packDataResult : %s"};
inline constexpr Message kMsgBoxSetDate{"+ %s : setDate: %s", "+ %s : setDate : %s"};
// Prefix, payload, PC clock time.
inline constexpr Message kMsgBoxSetTime{"+ %s : setTime: %s (command received at %s)",
                                        "+ %s : setTime : %s (commande reçue à %s)"};
inline constexpr Message kMsgBoxGunTime{"+ %s : gunTime: %s", "+ %s : gunTime : %s"};
inline constexpr Message kMsgBoxRewindData{"+ %s : rewindData: %s", "+ %s : rewindData : %s"};
inline constexpr Message kMsgBoxDeleteData{"+ %s : deleteData: %s", "+ %s : deleteData : %s"};
inline constexpr Message kMsgBoxEpcRewindStart{"+ %s : epc_rewind_start: %s",
                                               "+ %s : epc_rewind_start : %s"};
inline constexpr Message kMsgBoxEpcRewindDone{"+ %s : epc_rewind_done: %s",
                                              "+ %s : epc_rewind_done : %s"};
// Prefix, whole line.
inline constexpr Message kMsgBoxInvalidInput{"+ %s : Invalid input: %s",
                                             "+ %s : Trame invalide: %s"};

// TCP transport. The prefix: thread id, label.
inline constexpr Message kMsgTcpLogPrefix{"[%d] Box %s", "[%d] Boîtier %s"};
inline constexpr Message kMsgTcpSelectError{
    "+ %s : Testing available data (select) returned an error",
    "+ %s : Recherche de données disponibles (select) a retourné une erreur"};
// Prefix, the refused system call.
inline constexpr Message kMsgTcpKeepAliveRefused{
    "+ %s : Keep-alive could not be set, a silently lost connection will not be noticed: %s",
    "+ %s : Keep-alive refusé, une connexion perdue sans bruit ne sera pas détectée : %s"};
inline constexpr Message kMsgTcpRecvReturned{"+ %s : Reading socket (recv) returned %d",
                                             "+ %s : Lecture de socket (recv) a retourné %d"};

// Box thread, discovery and initialisation. Log prefixes: the box thread's prefix has the
// thread id in French only, so the two are formatted apart.
inline constexpr const char* kBoxThreadPrefixEn = "Box %d %s";
inline constexpr const char* kBoxThreadPrefixFr = "[%d] Boîtier %d %s";
// Thread id, box number, label.
inline constexpr Message kMsgDiscoveryPrefix{"[%d] Box %d %s", "[%d] Boîtier %d %s"};
// Box number, label.
inline constexpr Message kMsgInitBoxPrefix{"Box %d %s", "Boîtier %d %s"};
// Prefix, address, port, detector id, error text.
inline constexpr Message kMsgCannotConnect{
    "## %s : Cannot connect on %s:%d. DetectorId %s : %s",
    "## %s : Erreur de connexion sur %s:%d. Id. Détecteur %s : %s"};
// Box number, address, port, detector id.
inline constexpr Message kMsgBoxInitialized{"+ Box %d initialized on %s:%d. Detector Id. %s",
                                            "+ Boîtier %d initialisé sur %s:%d. Id. Détecteur %s"};
// Prefix, channel 1..4, error text.
inline constexpr Message kMsgErrorSendingReaderOpen{
    "## %s : Error sending command readerOpen %d : %s",
    "## %s : Erreur envoi de commande readerOpen %d : %s"};
inline constexpr Message kMsgNoDataReceived{"+ %s : No data received after %ds",
                                            "+ %s : Aucune trame reçue après %ds"};
inline constexpr Message kMsgDeviceIdFound{"+ %s : Varnex Device Id found: %s",
                                           "+ %s : Varnex Device Id détecté : %s"};
inline constexpr Message kMsgDeviceIdInvalidInput{
    "+ %s : Invalid input when looking for Varnex Device Id: %s",
    "+ %s : Trame invalide pendant la recherche de Varnex Device Id : %s"};
inline constexpr Message kMsgAttemptToConnect{
    "+ %s : Attempt to connect during %d seconds",
    "+ %s : Tentative de connexion automatique pendant %d secondes"};
inline constexpr Message kMsgThreadStoppedNoConnect{"+ %s : Thread stopped. Could not connect",
                                                    "+ %s : Arrêt thread. Erreur de connexion"};
inline constexpr Message kMsgConnectionSuccessful{"+ %s : Connection successful",
                                                  "+ %s : Connexion effectuée avec succès"};
inline constexpr Message kMsgStartingThread{"+ %s : Starting thread - check-ms: %dms",
                                            "+ %s : Démarrage thread - check-ms: %dms"};
inline constexpr Message kMsgDisconnectionRequested{"+ %s : Disconnection requested",
                                                    "+ %s : Déconnexion demandée"};
inline constexpr Message kMsgBoxReceptionFailed{"## %s : Box reception failed",
                                                "## %s : Erreur de réception boîtier"};
inline constexpr Message kMsgThreadStopped{"+ %s : Thread stopped", "+ %s : Arrêt thread"};
inline constexpr Message kMsgClearDetectionsCache{"+ %s : Clear detections cache",
                                                  "+ %s : Effacement du cache des détections"};

// The replay of a box's stored reads after a lost connection. Prefix, range.
inline constexpr Message kMsgAskingForMissedReads{
    "+ %s : Connection back after a loss: sending command rewindData with parameter %s",
    "+ %s : Connexion rétablie après une perte : envoi commande rewindData avec le paramètre %s"};
// Prefix, error text.
inline constexpr Message kMsgErrorSendingRewindData{
    "## %s : Error sending command rewindData: %s",
    "## %s : Erreur envoi de commande rewindData : %s"};
// Box number, reads recorded from the replay, reads replayed.
inline constexpr Message kMsgReadsRecovered{
    "+ Box %d: %d of %d replayed reads recovered after the reconnection",
    "+ Boîtier %d : %d lectures récupérées sur %d rejouées après la reconnexion"};

// A connected box that went quiet, and its return. Prefix, seconds without a line.
inline constexpr Message kMsgBoxSilent{"## %s : No data from the box for %d s",
                                       "## %s : Aucune donnée du boîtier depuis %d s"};
inline constexpr Message kMsgBoxDataAgain{
    "+ %s : Data from the box again after %d s of silence",
    "+ %s : Données du boîtier reçues à nouveau après %d s de silence"};
// The box clock drifted from the PC's, and came back. Prefix, offset ("+2.003 s"), limit in ms.
inline constexpr Message kMsgBoxClockDrift{
    "%s : Box clock off by %s from the PC (limit %d ms)",
    "%s : Horloge du boîtier décalée de %s par rapport au PC (limite %d ms)"};
inline constexpr Message kMsgBoxClockBack{
    "+ %s : Box clock back within the limit: off by %s from the PC (limit %d ms)",
    "+ %s : Horloge du boîtier revenue dans la limite : décalée de %s par rapport au PC "
    "(limite %d ms)"};

}  // namespace lapora

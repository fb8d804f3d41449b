// Texts of the detections layer (chip table, detection file, intake), English and French,
// in UTF-8. Read-only constants: safe from any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Chip translation table.
inline constexpr Message kMsgChipTableNotFound{
    "### No chip translation table found (file ChipTable.dtb or %s)",
    "### Pas de table de correspondance trouvée (fichier ChipTable.dtb ou %s)"};
inline constexpr Message kMsgChipTableLoaded{
    "+++ Chip translation table loaded (%d entries). File %s",
    "+++ Table de correspondance chargée (%d entrées). Fichier %s"};
// The English text names no file; the French one takes the path.
inline constexpr Message kMsgChipTableLoadError{"### Error loading file",
                                                "### Erreur chargement du fichier %s"};

// Incoming-detections file.
inline constexpr Message kMsgOpeningDetectionFile{"Opening detection file : %s",
                                                  "Ouverture fichier de détections : %s"};
inline constexpr Message kMsgErrorOpeningDetectionFile{
    "Error opening detection file : %s", "Erreur ouverture fichier de détections : %s"};
inline constexpr Message kMsgIncomingDetectionsSaved{"+++ Incoming detections saved in %s",
                                                     "+++ Détections sauvegardées sous %s"};
// Path, then the failed operation and the system's reason.
inline constexpr Message kMsgDetectionFileRefused{
    "The detection file %s cannot be written (%s). The detections are kept in memory and will "
    "be written as soon as the file accepts them.",
    "Le fichier de détections %s ne peut être écrit (%s). Les détections sont gardées en "
    "mémoire et y seront écrites dès que le fichier les acceptera."};
inline constexpr Message kMsgDetectionFileResumed{
    "+++ Detection file %s written again: %lu waiting detection lines caught up",
    "+++ Fichier de détections %s de nouveau écrit : %lu lignes de détection en attente "
    "rattrapées"};
// At the end of the run: the count, the path, the reason.
inline constexpr Message kMsgDetectionLinesLost{
    "######## %lu detection lines could not be written to %s (%s)",
    "######## %lu lignes de détection n'ont pu être écrites dans %s (%s)"};
// An earlier run's file: the path and the number of bytes after its last line end.
inline constexpr Message kMsgTornDetectionLine{
    "### The detection file %s ends with an incomplete line (%lu bytes, no line end): it was "
    "cut when that run stopped and is not a detection",
    "### Le fichier de détections %s se termine par une ligne incomplète (%lu octets, sans fin "
    "de ligne) : coupée à l'arrêt de cette session, ce n'est pas une détection"};

// Intake.
inline constexpr Message kMsgInvalidDetectionFormat{"Invalid detection format: [%s]",
                                                    "Format de détection invalide: [%s]"};
inline constexpr Message kMsgInvalidDateFormat{"Invalid date format: [%s]",
                                               "Format de date invalide: [%s]"};
inline constexpr Message kMsgDatesIncompatible{
    "### Caution: Box and Computer dates seem incompatible: %s",
    "### Attention: Incompatibilité de date boîtier / ordinateur : %s"};
inline constexpr Message kMsgUnknownChip{"## Unknown chip [%s]. Detection discarded",
                                         "## Puce inconnue [%s] Détection ignorée"};
inline constexpr Message kMsgPrefixedMessage{"+ %s : %s", "+ %s : %s"};
inline constexpr Message kMsgInvalidDetection{"+ %s : Invalid detection: %s",
                                              "+ %s : Détection invalide: %s"};
inline constexpr Message kMsgMeanTime{
    ">> Mean time (on %d last) for detection treatment: %d ms  [%d ignored, %d invalid]",
    ">> Temps moyen (sur les %d dernières) de traitement de détections : %d ms  [%d ignorées, "
    "%d invalides]"};
inline constexpr Message kMsgIntakeBoxLabel{"Box %d %s", "Boîtier %d %s"};
inline constexpr Message kMsgDetectionRecved{"+ %s : Detection recved: %s for #%s (%s)",
                                             "+ %s : Détection reçue: %s pour #%s (%s)"};
inline constexpr Message kMsgDetectionIgnored{"+ %s : Detection ignored",
                                              "+ %s : Détection ignorée"};
// The French text takes the plural "s" twice.
inline constexpr Message kMsgDetectionCounter{"%d detection%s recorded",
                                              "%d détection%s enregistrée%s"};
inline constexpr Message kMsgNoRecordedDetection{"No recorded detection",
                                                 "Aucune détection enregistrée"};

}  // namespace lapora

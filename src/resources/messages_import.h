// Texts of the import of box data files (the import dialog, the scan of a file, the import
// command), English and French, in UTF-8. Read-only constants: safe from
// any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Dialog.
inline constexpr Message kMsgImportTitle{"Import detections from Varnex box",
                                         "Import de détections Varnex"};
inline constexpr Message kMsgImportFileLabel{"Varnex file:", "Fichier Varnex :"};
inline constexpr Message kMsgImportDateLabel{"Date :", "Date :"};
inline constexpr Message kMsgImportFrom{"from", "de"};
inline constexpr Message kMsgImportTo{"to", "à"};
inline constexpr Message kMsgImportStartMarkerTip{
    "Use a marker (if any) to init start time",
    "Utiliser un marqueur (s'il y en a) pour initialiser l'heure de début"};
inline constexpr Message kMsgImportEndMarkerTip{
    "Use a marker (if any) to init end time",
    "Utiliser un marqueur (s'il y en a) pour initialiser l'heure de fin"};
inline constexpr Message kMsgImportSearch{"Search", "Rechercher"};
inline constexpr Message kMsgImportShowAbnormal{
    "Display all abnormal events found in file",
    "Afficher toutes les anomalies trouvées dans le  fichier"};
inline constexpr Message kMsgImportBoxIdLabel{"Box Id.:", "Id. boitier :"};
inline constexpr Message kMsgImportCorrectionLabel{"Time correction:", "Correction des temps :"};
inline constexpr Message kMsgImportCorrectionAsIs{"Use times as-is", "Utiliser le temps tel quel"};
inline constexpr Message kMsgImportCorrection24h{"Add 24 hours to times", "Ajouter 24h aux temps"};
inline constexpr Message kMsgImportCorrection48h{"Add 48 hours to times", "Ajouter 48h aux temps"};
inline constexpr Message kMsgImportCorrection72h{"Add 72 hours to times", "Ajouter 72h aux temps"};
inline constexpr Message kMsgImportCorrectionIndicator{"+%dh", "+%dh"};
inline constexpr Message kMsgImportReplayButton{"Replay detections", "Les rejouer (replay)"};
inline constexpr Message kMsgImportSimpleButton{"Simple import", "Juste les importer"};
inline constexpr Message kMsgImportOutputLabel{" Detections file :", "Fichier détections :"};
inline constexpr Message kMsgImportSaveButton{"Save", "Sauver dans le fichier"};
inline constexpr Message kMsgImportInformation{"Information", "Informations"};
inline constexpr Message kMsgImportClearLogs{"Clear those logs ^^^^^^",
                                             "Effacer ces traces ^^^^^^"};
inline constexpr Message kMsgImportConsistent{"consistent detections(s)",
                                              "détections(s) pertinente(s)"};
inline constexpr Message kMsgImportCancel{"Cancel", "Annuler"};

// Source and time menus.
inline constexpr Message kMsgImportSelectFile{"Select a detection file...",
                                              "Sélection de fichier de détection..."};
inline constexpr Message kMsgImportFileFilter{
    "Varnex output (*.csv)\t*.csv\tText file (*.txt)\t*.txt\t",
    "Varnex file (*.csv)\t*.csv\tText file (*.txt)\t*.txt\t"};
inline constexpr Message kMsgImportGetFromBox{"Get detections from box %d",
                                              "Récupération de détections dans le boîtier %d"};
inline constexpr Message kMsgImportFailure{"Failure", "Failure"};
inline constexpr Message kMsgImportStartOfDay{"00:00:00 : Start of day",
                                              "00:00:00 : Début de journée"};
inline constexpr Message kMsgImportEndOfDay{"23:59:59 : End of day", "23:59:59 : Fin de journée"};
inline constexpr Message kMsgImportOutputTitle{"Output detection file",
                                               "Fichier de sortie des détections"};
inline constexpr Message kMsgImportOutputFilter{"Detections (*.kol)\t*.kol\tAll types  *.*\t*.*\t",
                                                "Détections (*.kol)\t*.kol\tTout type  *.*\t*.*\t"};

// Search checks and headers.
inline constexpr Message kMsgImportStartInvalid{"Start Time is invalid !",
                                                "Heure de début invalide !"};
inline constexpr Message kMsgImportEndInvalid{"End Time is invalid !", "Heure de fin invalide !"};
inline constexpr Message kMsgImportDateInvalid{"Date %s is invalid !", "Date %s invalide !"};
inline constexpr Message kMsgImportFileMissing{
    "File to import is empty or does not exist\n%s",
    "Le fichier à importer est vide ou n'existe pas\n%s"};
inline constexpr Message kMsgImportHeaderFile{"Import Varnex detections from file %s",
                                              "Import de détections VARNEX depuis le fichier %s"};
inline constexpr Message kMsgImportHeaderRange{"Import detections on %s between %s and %s",
                                               "Import des détections du %s entre %s et %s"};

// Line parser.
inline constexpr Message kMsgImportUnknownFormat{"Unknown line format", "Unknown line format"};
inline constexpr Message kMsgImportLineTooLong{"Line longer than %d characters",
                                               "Ligne de plus de %d caractères"};
inline constexpr Message kMsgImportInvalidChrono{"Invalid chrono format: [%s]",
                                                 "Format de chrono invalide: [%s]"};
inline constexpr Message kMsgImportInvalidDate{"Invalid date format: [%s]",
                                               "Format de date invalide: [%s]"};
inline constexpr Message kMsgImportF2NoColon{"':' not found in F2 chip:chrono substring",
                                             "':' not found in F2 chip:chrono substring"};
inline constexpr Message kMsgImportF2NoPort{"'port=' not found in F2 string",
                                            "'port=' not found in F2 string"};
inline constexpr Message kMsgImportF2NoRssi{"'rssi=' not found in F2 string",
                                            "'rssi=' not found in F2 string"};
inline constexpr Message kMsgImportF3NoRssi{"'rssi=' not found in F3 string",
                                            "'rssi=' not found in F3 string"};
inline constexpr Message kMsgImportF3NoPort{"'port=' not found in F3 string",
                                            "'port=' not found in F3 string"};

// Scan of a file.
inline constexpr Message kMsgImportScanStart{"+++ Importing Varnex detections file %s",
                                             "+++ Traitement de fichier Varnex %s"};
inline constexpr Message kMsgImportScanCaption{"Importing Varnex file detections",
                                               "Traitement de fichier de détections Varnex"};
inline constexpr Message kMsgImportScanProgress{
    "%d lines parsed - %d detection%s found in selected time range",
    "%d lignes traitées - %d détection%s trouvée%s dans la période sélectionnée"};
inline constexpr Message kMsgImportInvalidLine{"+ Invalid detection (%s): %s",
                                               "+ Détection invalide (%s): %s"};
inline constexpr Message kMsgImportDaySummary{
    "* %s - First detection at %s, last detection at %s. Total %d detections",
    "* %s - Première détection à %s, dernière détection à %s. Total %d détections"};
inline constexpr Message kMsgImportDayFirst{"* %s - First detection at %s",
                                            "* %s - Première détection à %s"};
inline constexpr Message kMsgImportUnknownChip{"+ Unknown chip [%s]. Detection discarded!",
                                               "+ Puce inconnue [%s] ! Détection ignorée"};
inline constexpr Message kMsgImportRejectedUnknown{"* %d detection%s rejected: unknown chips",
                                                   "* %d détection%s rejetée%s : puces inconnues"};
inline constexpr Message kMsgImportSuitableFound{
    "* %d suitable detection%s found in selected time range",
    "* %d détection%s pertinente%s trouvée%s dans la période sélectionnée"};
inline constexpr Message kMsgImportNoneFound{
    "* No suitable detection found in selected time range",
    "* Aucune détection pertinente trouvée dans la période sélectionnée"};
inline constexpr Message kMsgImportBeforePurge{"* %d detections before purge",
                                               "* %d détections avant élimination des doublons"};
inline constexpr Message kMsgImportAfterPurge{
    "* %d detections after purge (%d ms)",
    "* %d détections après élimination des doublons (%d ms)"};
inline constexpr Message kMsgImportChipsNotFound{
    "* %d chip%s not found in OSTRATABLE.DTB: %s",
    "* %d puce%s non trouvée%s dans la table de correspondance : %s"};
inline constexpr Message kMsgImportScanDone{"+++ Parsing Varnex detections file done",
                                            "+++ Traitement de fichier Varnex terminé"};
inline constexpr Message kMsgImportSortError1{"Error #817.1\nCan't allocate memory for sorting",
                                              "Error #817.1\nCan't allocate memory for sorting"};
inline constexpr Message kMsgImportSortError2{"Error #817.2\nCan't allocate memory for sorting",
                                              "Error #817.2\nCan't allocate memory for sorting"};

// Closing actions.
inline constexpr Message kMsgImportMergeQuestion{
    "This operation will merge detections found in this file with those directly got from "
    "box(es)\nAre you sure you want to proceed?",
    "Cette opération va fusionner les détections trouvées dans ce fichier avec celles "
    "directement issues des boîtiers\nEtes vous certain de vouloir le faire ?"};
inline constexpr Message kMsgImportReplayQuestion{
    "This operation will replay selected detections as if sent directly by a Varnex box\nAre "
    "you sure you want to proceed?",
    "Cette opération va rejouer les détections sélectionnées comme si elles venaient du "
    "boitier\nEtes vous certain de vouloir le faire ?"};
inline constexpr Message kMsgImportNoOutput{"No output file is specified...",
                                            "Aucun fichier de sortie n'est spécifié..."};
inline constexpr Message kMsgImportOverwrite{
    "File\n%s\nalready exists. It will be replaced by this operation.\nAre you sure?",
    "Le fichier\n%s\nexiste déjà. Il sera écrasé par cette opération.\nEtes vous certain ?"};
inline constexpr Message kMsgImportRemoveFailed{"Can't remove file\n%s\n%s",
                                                "Impossible de supprimer le fichier\n%s\n%s"};

// Import command.
inline constexpr Message kMsgImportToImport{"+++ %d detections to import for box %s",
                                            "+++ %d détections à importer pour Id. Boîtier %s"};
inline constexpr Message kMsgImportToReplay{"+++ %d detections to replay for box %s",
                                            "+++ %d détections à rejouer pour Id. Boîtier %s"};
inline constexpr Message kMsgImportToSave{"+++ %d detections to save for box %s",
                                          "+++ %d détections à sauver pour Id. Boîtier %s"};
inline constexpr Message kMsgImportHoursAdded{"+++ %d hours added to detections",
                                              "+++ Ajout de %d heures aux détections"};
inline constexpr Message kMsgImportCaptionImport{"Importing Varnex detections",
                                                 "Import des détections Varnex"};
inline constexpr Message kMsgImportCaptionReplay{"Replaying Varnex detections",
                                                 "Replay des détections Varnex"};
inline constexpr Message kMsgImportCaptionSave{"Saving Varnex detections",
                                               "Sauvegarde des détections Varnex"};
inline constexpr Message kMsgImportCreateError{"Error creating file %s",
                                               "Erreur création fichier %s"};
inline constexpr Message kMsgImportProgressReplay{"%d / %d detection%s replayed",
                                                  "%d / %d détection%s rejouée%s"};
inline constexpr Message kMsgImportProgressImport{"%d / %d detection%s added",
                                                  "%d / %d détection%s ajoutée%s"};
inline constexpr Message kMsgImportProgressSave{"%d / %d detection%s saved",
                                                "%d / %d détection%s sauvée%s"};
inline constexpr Message kMsgImportDoneImport{"+++ Import done", "+++ Import terminé"};
inline constexpr Message kMsgImportDoneReplay{"+++ Replay done", "+++ Replay terminé"};
inline constexpr Message kMsgImportDoneSave{"+++ File saved", "+++ Sauvegarde terminée dans %s"};
inline constexpr Message kMsgImportCancelled{"+++ Cancelled: %d / %d detection%s handled",
                                             "+++ Annulé : %d / %d détection%s traitée%s"};
inline constexpr Message kMsgImportWriteError{"Error writing file %s",
                                              "Erreur écriture fichier %s"};

}  // namespace lapora

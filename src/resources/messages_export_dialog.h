// Texts of the detection-lines export: its dialog, its final message, the ZIP and FTP steps and
// the export of all recorded detections. Read-only constants: safe from any thread. Texts that
// exist in one language only are the same in both.
#pragma once

#include "foundation/text.h"

namespace lapora {

// The dialog and its controls.
inline constexpr Message kMsgExportTitle{"Export des lignes de détections",
                                         "Export des lignes de détections"};
inline constexpr Message kMsgExportGapLabel{"Minimum gap:", "Ecart minimum :"};
inline constexpr Message kMsgExportFolderLabel{"Folder:", "Répertoire :"};
inline constexpr Message kMsgExportNameLabel{"Generic file name:", "Nom générique :"};
inline constexpr Message kMsgExportZipBox{"ZIP archive", "Archive ZIP"};
inline constexpr Message kMsgExportFtpBox{"FTP transfer", "Transfert FTP"};
inline constexpr Message kMsgExportBrowse{"...", "..."};
inline constexpr Message kMsgExportTypeClockRadio{"Heure de détection", "Heure de détection"};
inline constexpr Message kMsgExportTypePassageRadio{"Temps de passage", "Temps de passage"};
inline constexpr Message kMsgExportTypeLogicaRadio{"Temps au format Logica",
                                                   "Temps au format Logica"};
inline constexpr Message kMsgExportColumnDetector{"Det.", "Dét."};
inline constexpr Message kMsgExportColumnMaxPass{"MaxPass", "MaxPass"};
inline constexpr Message kMsgExportColumnCount{"Count", "Nb"};
inline constexpr Message kMsgExportColumnBestTime{"Best time", "Meill. Temps"};
inline constexpr Message kMsgExportColumnBib{"Bib", "Dossard"};
inline constexpr Message kMsgExportColumnHandicap{"Handicap", "Handicap"};
inline constexpr Message kMsgExportFilter{"Filtrer", "Filtrer"};
inline constexpr Message kMsgExportRetiming{"Recalage...", "Recalage..."};
inline constexpr Message kMsgExportHandicapLabel{"Handicap:", "Handicap :"};
inline constexpr Message kMsgExportNoHandicap{"...", "..."};
inline constexpr Message kMsgExportResetButton{"0", "0"};
inline constexpr Message kMsgExportResetTip{"Reset handicap", "Remise à 0 du handicap"};
inline constexpr Message kMsgExportResetQuestion{
    "Do you really want to reset detector handicap to 0?",
    "Voulez vous vraiment remettre à 0 le handicap ?"};
inline constexpr Message kMsgExportDataLabel{"Données à exporter :", "Données à exporter :"};
inline constexpr Message kMsgExportNow{"Exporter maintenant", "Exporter maintenant"};
inline constexpr Message kMsgExportEvery{"Exporter toutes les ", "Exporter toutes les "};
inline constexpr Message kMsgExportMinutes{"minutes", "minutes"};
inline constexpr Message kMsgExportClose{"Fermer", "Fermer"};

// "Données à exporter :".
inline constexpr Message kMsgExportNoData{"aucune", "aucune"};
inline constexpr Message kMsgExportFileCount{"%d fichier%s de détection%s",
                                             "%d fichier%s de détection%s"};
inline constexpr Message kMsgExportKindClock{"Heures de détections", "Heures de détections"};
inline constexpr Message kMsgExportKindPassage{"Temps de passages", "Temps de passages"};
inline constexpr Message kMsgExportKindLogica{"Temps format LOGICA", "Temps format LOGICA"};

// The FTP target label and the FTP check box's tool tip.
inline constexpr Message kMsgExportTransferTo{"Transfer to ", "Transfert vers "};
inline constexpr Message kMsgExportNoFtpServer{" <No FTP server>", "<Aucun serveur FTP>"};
inline constexpr Message kMsgExportNoFtpSettings{"No FTP settings defined!",
                                                 "Paramètres FTP non définis !"};

// Checks of "Filtrer" and "Exporter maintenant".
inline constexpr Message kMsgExportInvalidGap{
    "Temps invalide.\nLe format est 'hh:mn:ss' ou 'hh.mm.ss'",
    "Temps invalide.\nLe format est 'hh:mn:ss' ou 'hh.mm.ss'"};
inline constexpr Message kMsgExportNameMandatory{"Destination filename mandatory!",
                                                 "Nom de fichier obligatoire !"};
inline constexpr Message kMsgExportFolderMandatory{"Destination folder mandatory!",
                                                   "Nom de répertoire obligatoire !"};

// A detector handicap that is not the detector's own in the settings file: said when it is set
// and in the final message of an export that uses it.
inline constexpr Message kMsgExportHandicapNotStorable{
    "The handicap of detector [%s] cannot be stored: its name cannot be a settings key (it holds "
    "\"=\" or a line break, or ends with a blank). Its files are written without a handicap.",
    "Le handicap du détecteur [%s] ne peut pas être enregistré : son nom ne peut pas servir de "
    "clé de réglage (il contient \"=\" ou un saut de ligne, ou finit par un blanc). Ses fichiers "
    "sont écrits sans handicap."};
inline constexpr Message kMsgExportHandicapShared{
    "Detectors [%s] and [%s] share one handicap: settings keys do not tell upper case from lower "
    "case.",
    "Les détecteurs [%s] et [%s] partagent un même handicap : les clés de réglage ne distinguent "
    "pas les majuscules des minuscules."};
inline constexpr Message kMsgExportHandicapNotWritten{
    "The handicap of detector [%s] could not be written to the settings file %s.",
    "Le handicap du détecteur [%s] n'a pas pu être écrit dans le fichier de réglages %s."};

// The final message of an export.
inline constexpr Message kMsgExportDone{
    "Export de données terminé.\n\nLes fichiers suivants ont été créés :",
    "Export de données terminé.\n\nLes fichiers suivants ont été créés :"};
inline constexpr Message kMsgExportFtpLaunched{"\n\nTransfert FTP lancé.",
                                               "\n\nTransfert FTP lancé."};
inline constexpr Message kMsgExportFtpLaunchError{"\n\nErreur de lancement transfert FTP : ",
                                                  "\n\nErreur de lancement transfert FTP : "};
inline constexpr Message kMsgExportNoServerSelected{"No FTP server selected...",
                                                    "No FTP server selected..."};
inline constexpr Message kMsgExportNoServerDefined{"No FTP server defined...",
                                                   "No FTP server defined..."};
// Files that could not be written, and an archive that could not be made: the operator is told
// rather than shown a list that looks complete.
inline constexpr Message kMsgExportNotWritten{
    "\n\nThese files could not be written:",
    "\n\nLes fichiers suivants n'ont pas pu être écrits :"};
inline constexpr Message kMsgExportNothingWritten{
    "Export failed: no file could be written in\n    %s",
    "Echec de l'export : aucun fichier n'a pu être écrit dans\n    %s"};
inline constexpr Message kMsgExportZipFailed{
    "\n\nThe ZIP archive %s could not be made (error %d): the files were kept.",
    "\n\nL'archive ZIP %s n'a pas pu être créée (erreur %d) : les fichiers ont été conservés."};

// What the progress dialog says while the dialog's work runs on a worker: the snapshot taken
// when it opens (detections read and in all), "Filtrer" (detector reached and in all), and
// "Exporter maintenant".
inline constexpr Message kMsgExportSnapshotCaption{"Reading the recorded detections",
                                                   "Lecture des détections enregistrées"};
inline constexpr Message kMsgExportSnapshotProgress{
    "Reading the recorded detections... %d of %d",
    "Lecture des détections enregistrées... %d sur %d"};
inline constexpr Message kMsgExportFilterCaption{"Distributing the detections",
                                                 "Répartition des détections"};
inline constexpr Message kMsgExportFilterProgress{
    "Distributing the detections... detector %d of %d",
    "Répartition des détections... détecteur %d sur %d"};
inline constexpr Message kMsgExportNowCaption{"Exporting the detection lines",
                                              "Export des lignes de détections en cours"};
// "Exporter maintenant" while the export runs: files written, detectors done and in all.
inline constexpr Message kMsgExportProgress{"Exporting... %d file(s) written, detector %d of %d",
                                            "Export en cours... %d fichier(s) écrit(s), "
                                            "détecteur %d sur %d"};

// The background export: its failures (once per distinct error) and its return to normal, in
// the log at level 0, with the reasons they give.
inline constexpr Message kMsgBackgroundExportFailed{"## Background export failed: %s",
                                                    "## Echec de l'export automatique : %s"};
inline constexpr Message kMsgBackgroundExportWorks{"+ Background export works again",
                                                   "+ L'export automatique fonctionne de nouveau"};
inline constexpr Message kMsgBackgroundInvalidGap{"invalid minimum gap [%s]",
                                                  "écart minimum invalide [%s]"};
inline constexpr Message kMsgBackgroundNoFolder{"no export folder", "pas de répertoire d'export"};
inline constexpr Message kMsgBackgroundNoName{"no generic file name", "pas de nom générique"};
inline constexpr Message kMsgBackgroundNoFtpServer{"FTP transfer without a server selected",
                                                   "transfert FTP sans serveur choisi"};
inline constexpr Message kMsgBackgroundNotWritten{"cannot write [%s]", "impossible d'écrire [%s]"};
inline constexpr Message kMsgBackgroundZipFailed{"ZIP archive [%s] not made (error %d)",
                                                 "archive ZIP [%s] non créée (erreur %d)"};
inline constexpr Message kMsgBackgroundFtpNotLaunched{"FTP transfer not launched: %s",
                                                      "transfert FTP non lancé : %s"};

// The export of all recorded detections (main window button).
inline constexpr Message kMsgExportAllDone{"+ Detections exported in file [%s]",
                                           "+ Export des détections effectué dans le fichier [%s]"};
// The export file could not be written: said, rather than nothing at all.
inline constexpr Message kMsgExportAllFailed{"## Cannot write export file [%s]",
                                             "## Erreur d'écriture du fichier d'export [%s]"};

}  // namespace lapora

// Texts of the configuration dialog and the advanced configuration dialog, English and French,
// in UTF-8. Texts that exist in one language only carry the same text twice. Read-only
// constants: safe from any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Configuration dialog.
inline constexpr Message kMsgConfigTitle{"Lapora Configuration", "Configuration Lapora"};
inline constexpr Message kMsgConfigBoxesGroup{" Installed Boxes ", " Boîtiers installés "};
inline constexpr Message kMsgConfigBoxesHeading{"Configure Varnex boxes",
                                                "Configurer les boîtiers Varnex"};
inline constexpr Message kMsgConfigBoxesNote{
    "Important note: Once connected to Varnex boxes, you will not be able to change their "
    "connection settings.",
    "Note importante: une fois établies les connexions avec les boîtiers, ces paramètres ne "
    "seront plus accessibles,\nsauf à se déconnecter des boîtiers."};
inline constexpr Message kMsgConfigBoxLabel{"Box %d ", "Boîtier%d "};
inline constexpr Message kMsgConfigHostLabel{"Hostname\nor TCP/IP address:",
                                             "Hostname\nou adresse TCP/IP :"};
inline constexpr Message kMsgConfigPortLabel{"TCP/IP port:", "Port TCP/.IP :"};
inline constexpr Message kMsgConfigBoxIdLabel{"Box Id.:", "Id. Boîtier :"};
inline constexpr Message kMsgConfigExportGroup{" Export ", " Export "};
inline constexpr Message kMsgConfigExportFileLabel{"Export file: ", "Fichier d'export : "};
inline constexpr Message kMsgConfigBrowse{"...", "..."};
inline constexpr Message kMsgConfigDirectGroup{" Direct Dorix-PRO Connection ",
                                               " Connexion directe Dorix-Pro "};
inline constexpr Message kMsgConfigRetryLabel{"Try to reconnect every",
                                              "Essayer de se reconnecter toutes les "};
inline constexpr Message kMsgConfigSeconds{"seconds", "secondes"};
inline constexpr Message kMsgConfigCatchUp{
    "Send the detections recorded while disconnected once connected again",
    "Envoyer après la reconnexion les détections enregistrées pendant la coupure"};
inline constexpr Message kMsgConfigOtherGroup{" Other settings ", "Divers"};
inline constexpr Message kMsgConfigLostConnectionLabel{
    "If connexion to the box is lost:", "En cas de perte de connection avec le boîtier :"};
inline constexpr Message kMsgConfigLostConnectionTip{
    "In cas of a loss of connection to a box, you may configure Lapora to try to reconnect to "
    "the box automatically ASAP.",
    "En cas de perte de connexion avec un boîtier, vous pouvez configurer Lapora afin qu'il "
    "tente de lui même de se reconnecter au boîtier au plus vite."};
inline constexpr Message kMsgConfigLongRaceLabel{"Long (very very long) races",
                                                 "Longues (très très longues) courses"};
inline constexpr Message kMsgConfigLongRaceToday{"Use today times",
                                                 "Utiliser l'heure d'aujourd'hui"};
inline constexpr Message kMsgConfigLongRace24h{"Add 24 hours to times", "Ajouter 24h aux temps"};
inline constexpr Message kMsgConfigLongRace48h{"Add 48 hours to times", "Ajouter 48h aux temps"};
inline constexpr Message kMsgConfigLongRace72h{"Add 72 hours to times", "Ajouter 72h aux temps"};
inline constexpr Message kMsgConfigIgnoreUnknownTags{
    "Ignore chip ids which are not present in the chip table",
    "Ignorer les puces non présentes dans la table de correspondance"};
inline constexpr Message kMsgConfigSoundsLabel{"Sounds :", "Sons :"};
inline constexpr Message kMsgConfigBeepDetections{"Beep each detection",
                                                  "Biper à chaque détection"};
inline constexpr Message kMsgConfigBeepWhenQuit{"Play a sound on exit", "Jouer un son en sortie"};
inline constexpr Message kMsgConfigReloadChipTable{"Reload chip table",
                                                   "Recharger la table de correspondance"};
inline constexpr Message kMsgConfigAdvancedButton{"Advanced\nSettings...", "Config.\nAvancée..."};
inline constexpr Message kMsgConfigViewLogFolder{"View log\nfolder...",
                                                 "Voir répertoire\nde logs..."};
inline constexpr Message kMsgConfigIncompatible{
    "Caution !\nThis configuration is incompatible with Dorix Classic !",
    "Attention !\nCette configuration est incompatible avec Dorix Classic !"};
inline constexpr Message kMsgConfigOk{"OK", "OK"};
inline constexpr Message kMsgConfigCancel{"Cancel", "Annuler"};

// The behaviour on a lost box connection (French only).
inline constexpr Message kMsgLostJustAlert{"Simplement signaler par une alerte sonore",
                                           "Simplement signaler par une alerte sonore"};
inline constexpr Message kMsgLostRetry30s{"Essayer de se reconnecter pendant 30s",
                                          "Essayer de se reconnecter pendant 30s"};
inline constexpr Message kMsgLostRetry1mn{"Essayer de se reconnecter pendant 1mn",
                                          "Essayer de se reconnecter pendant 1mn"};
inline constexpr Message kMsgLostRetry1mn30{"Essayer de se reconnecter pendant 1mn30",
                                            "Essayer de se reconnecter pendant 1mn30"};
inline constexpr Message kMsgLostRetry2mn{"Essayer de se reconnecter pendant 2mn",
                                          "Essayer de se reconnecter pendant 2mn"};

// Applying a slot.
inline constexpr Message kMsgConfigInvalidPort{"Invalid TCP/IP port number !!!!",
                                               "Port TCP/IP invalide !!!!"};
inline constexpr Message kMsgConfigComSpeed{"COM speed should be 9600...",
                                            "La vitesse devrait être 9600"};

// Range checks of both dialogs (French only); %1 and %2 are the limits.
inline constexpr Message kMsgTypeInteger{"Tapez un nombre entier.", "Tapez un nombre entier."};
inline constexpr Message kMsgTypeIntegerBetween{"Tapez un nombre entier compris entre %1 et %2.",
                                                "Tapez un nombre entier compris entre %1 et %2."};

// The export file's save dialog; the tab separates the description from the pattern.
inline constexpr Message kMsgExportFileDialogTitle{"Export file", "Fichier d'export"};
inline constexpr Message kMsgExportFileFilter{"Detection file (*.kol)\t*.kol",
                                              "Fichier de détections (*.kol)\t*.kol"};

// Advanced configuration dialog (title in French in both languages).
inline constexpr Message kMsgAdvancedTitle{"Configuration avancée", "Configuration avancée"};
inline constexpr Message kMsgAdvancedInputDeltaBefore{
    "Ignore box\ndetections at less than", "Ignorer les détections\nde boîtier à moins de "};
inline constexpr Message kMsgAdvancedInputDeltaAfter{"ms from the previous one.",
                                                     "ms de la précédente"};
inline constexpr Message kMsgAdvancedOutputDeltaBefore{
    "In direct connection,\ndo not send to Dorix detections at less than",
    "En connexion directe,\nne pas envoyer à Dorix les détections à moins de "};
inline constexpr Message kMsgAdvancedOutputDeltaAfter{"ms from the previous sent.",
                                                      "ms de la précédente"};
inline constexpr Message kMsgAdvancedReadDeltaBefore{
    "Time to wait before checking for box input:",
    "Temps d'attente entre\n2 lectures de détections :"};
inline constexpr Message kMsgAdvancedReadDeltaAfter{"ms", "ms"};
inline constexpr Message kMsgAdvancedSyncDetections{
    "Make each detection safe on the disk before showing and sending it\n(a power cut loses "
    "nothing; slower on some disks)",
    "Mettre chaque détection en sûreté sur le disque avant de l'afficher et de l'envoyer\n(une "
    "coupure de courant ne perd rien ; plus lent sur certains disques)"};
inline constexpr Message kMsgAdvancedAutoRecover{
    "When a box comes back after a lost connection,\nhave it replay the reads it made meanwhile",
    "Quand un boîtier revient après une perte de connexion,\nlui faire rejouer les lectures faites "
    "entre-temps"};
inline constexpr Message kMsgAdvancedFactory{"Restore factory settings",
                                             "Restaurer valeurs d'usine"};

}  // namespace lapora

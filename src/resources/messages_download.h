// Texts of the download of box data files from a detection server (the download dialog, the
// server dialog and the two source-menu entries of the import), English and French, in UTF-8.
// Read-only constants: safe from any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Source-menu entries of the import dialog.
inline constexpr Message kMsgDownloadImportFromServer{
    "Import from server of Varnex detections...",
    "Récupération depuis un serveur de détections Varnex..."};
inline constexpr Message kMsgDownloadDefineServer{"Define server of Varnex detections...",
                                                  "Définition du serveur de détections Varnex..."};

// Server dialog.
inline constexpr Message kMsgDownloadServerPrompt{"Enter Varnex detection server URL",
                                                  "Entrez le nom du serveur de détections Varnex"};

// Download dialog.
inline constexpr Message kMsgDownloadTitle{"Download Varnex detection files",
                                           "Téléchargement fichiers de détections Varnex"};
inline constexpr Message kMsgDownloadBoxes{"Boxes", "Boîtiers"};
inline constexpr Message kMsgDownloadFilesFound{"Files found", "Fichiers disponibles"};
inline constexpr Message kMsgDownloadDestination{"Destination directory",
                                                 "Répertoire de destination"};
inline constexpr Message kMsgDownloadRefresh{"Refresh", "Rafraîchir"};
inline constexpr Message kMsgDownloadRemove{"Remove file", "Supprimer le fichier"};
inline constexpr Message kMsgDownloadCopyUrl{"Copy URL", "Copier l'URL"};
inline constexpr Message kMsgDownloadDownload{"Download", "Télécharger"};
inline constexpr Message kMsgDownloadCancel{"Cancel", "Annuler"};
// One file of the list: file name, detections, date, time.
inline constexpr Message kMsgDownloadEntry{" %-3s: \t Detections: %d\t %s\t %s",
                                           " %-3s: \t Détections: %d\t %s\t %s"};
inline constexpr Message kMsgDownloadLooking{"Looking for available files...",
                                             "Recherche des fichiers disponibles..."};

// Download.
inline constexpr Message kMsgDownloadNoFolder{"Specify a local destination folder!",
                                              "Spécifiez un répertoire local de téléchargement !"};
inline constexpr Message kMsgDownloadCreateFolder{
    "Folder\n    %s  \ndoes not exist.\nCreate it?",
    "Le répertoire\n    %s  \nn'existe pas.\nLe créer ?"};
inline constexpr Message kMsgDownloadCannotCreate{"Cannot create folder\n    %s  \n",
                                                  "Erreur de création du répertoire\n    %s  \n"};
inline constexpr Message kMsgDownloadFileEmpty{"File %s is empty!", "Le fichier %s est vide !"};
inline constexpr Message kMsgDownloadError{"Download error\n", "Erreur de téléchargement\n"};
inline constexpr Message kMsgDownloadDone{"Download done", "Téléchargement terminé"};

// Removal.
inline constexpr Message kMsgDownloadRemoveQuestion{
    "Are you sure you want to remove this file on server?",
    "Etes-vous certain de vouloir supprimer ce fichier sur le serveur ?"};
inline constexpr Message kMsgDownloadServerReturned{"Server returned: ", "Retour du serveur : "};
inline constexpr Message kMsgDownloadRemoveError{"Error: ", "Erreur : "};

// Progress of a transfer: the address and the kilobytes received so far.
inline constexpr Message kMsgDownloadProgress{"Downloading %s: %d KB received",
                                              "Téléchargement de %s : %d Ko reçus"};

}  // namespace lapora

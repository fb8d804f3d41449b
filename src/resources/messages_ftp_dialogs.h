// Texts of the FTP servers dialog and of the FTP parameters dialog. Read-only constants: safe
// from any thread. English first, French second.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Titles.
inline constexpr Message kMsgFtpServersTitle{"FTP Servers", "Serveurs FTP"};
inline constexpr Message kMsgFtpParametersTitle{"FTP Server definition", "Paramètres FTP"};

// Groups: their titles keep the blanks that separate them from the frame.
inline constexpr Message kMsgFtpServersGroup{" Servers ", " Liste des serveurs "};
inline constexpr Message kMsgFtpServerInfoGroup{" Server information ", " Information serveur "};
// The list's only column (its header is not shown).
inline constexpr Message kMsgFtpServersColumn{"Servers", "Servers"};

// Buttons.
inline constexpr Message kMsgFtpFullForm{">>", ">>"};
inline constexpr Message kMsgFtpCompactForm{"<<", "<<"};
inline constexpr Message kMsgFtpAdd{"Add", "Ajouter"};
inline constexpr Message kMsgFtpRemove{"Remove", "Supprimer"};
inline constexpr Message kMsgFtpUpdate{"Update", "Modifier"};
inline constexpr Message kMsgFtpValidateEdit{"Validate update", "Valider l'édition"};
inline constexpr Message kMsgFtpCancelEdit{"Cancel update", "Annuler l'édition"};
inline constexpr Message kMsgFtpOk{"OK", "OK"};
inline constexpr Message kMsgFtpCancel{"Cancel", "Annuler"};

// The edits' labels, shared by both dialogs.
inline constexpr Message kMsgFtpLabelLabel{"Label :", "Label :"};
inline constexpr Message kMsgFtpSiteLabel{"Site :", "Site :"};
inline constexpr Message kMsgFtpUserLabel{"User:", "Uitilisateur :"};
inline constexpr Message kMsgFtpPasswordLabel{"Password", "Mot de passe :"};
inline constexpr Message kMsgFtpDirectoryLabel{"Destination directory:",
                                               "Répertoire destination :"};

// "Validate update": the names of the fields in the warnings.
inline constexpr Message kMsgFtpFieldLabel{"Label", "Label"};
inline constexpr Message kMsgFtpFieldUser{"User", "Utilisateur"};
inline constexpr Message kMsgFtpFieldPassword{"Password", "Mot de passe"};
inline constexpr Message kMsgFtpFieldSite{"Server", "Serveur"};
inline constexpr Message kMsgFtpFieldDirectory{"Destination directory", "Répertoire destination"};

// A required field left empty; %s is the field's name.
inline constexpr Message kMsgFtpFieldEmpty{"%s is empty!", "%s vide !"};
// A field holding a character that FtpServers.dat uses between fields or lines; %s is the
// field's name.
inline constexpr Message kMsgFtpFieldSeparator{
    "%s cannot contain a tab, a line break or \";\"!",
    "%s ne peut contenir ni tabulation, ni saut de ligne, ni \";\" !"};
// A site that is not a host with an optional port and an optional ftp://, ftps:// or sftp://.
inline constexpr Message kMsgFtpSiteForm{
    "Server: a host name or address, with \":port\" when not the usual one, preceded by "
    "ftps:// for FTP over TLS or sftp:// for SFTP (ftp:// or nothing: plain FTP).\nFor instance: "
    "ftps://results.example.org or sftp://192.168.1.20:2222",
    "Serveur : un nom ou une adresse d'hôte, avec \":port\" si ce n'est pas l'habituel, précédé "
    "de ftps:// pour FTP sur TLS ou de sftp:// pour SFTP (ftp:// ou rien : FTP simple).\nPar "
    "exemple : ftps://resultats.example.org ou sftp://192.168.1.20:2222"};
// A label holding the character that joins the labels of the export's server list.
inline constexpr Message kMsgFtpLabelBackslash{"Label cannot contain \"\\\"!",
                                               "Label ne peut pas contenir \"\\\" !"};

// The FTP parameters dialog: a value the settings file refused; %s is the field's name.
inline constexpr Message kMsgFtpParameterNotSaved{"%s could not be saved in the settings file.",
                                                  "%s n'a pas pu être enregistré dans le fichier "
                                                  "de paramètres."};

}  // namespace lapora

// Texts of the program's command line and of its start, English then French, UTF-8.
// Read-only data; any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

inline constexpr Message kMsgUsage{
    "usage: lapora [--headless] [--data-dir DIR] [--connect] [--direct] [--duration SECONDS]\n"
    "       lapora [--data-dir DIR] --popfront\n"
    "       lapora --help | --version\n"
    "Options:\n"
    "  --headless          no window: log lines on stdout, commands on stdin (\"help\" lists "
    "them)\n"
    "  --data-dir DIR      keep the settings, chip table, logs and detection files in DIR\n"
    "  --connect           connect to the configured boxes at start\n"
    "  --direct            start the direct connection to the results software at start\n"
    "  --duration SECONDS  close by itself after SECONDS, as Exit with Ctrl held does\n"
    "  --popfront          bring the running Lapora's window to the front; status 1 if none "
    "runs\n"
    "  -h, --help          show this help and exit\n"
    "  --version           show the version and exit\n"
    "Without a display Lapora runs as with --headless.\n",
    "usage : lapora [--headless] [--data-dir DOSSIER] [--connect] [--direct] "
    "[--duration SECONDES]\n"
    "        lapora [--data-dir DOSSIER] --popfront\n"
    "        lapora --help | --version\n"
    "Options :\n"
    "  --headless           sans fenêtre : traces sur la sortie standard, commandes sur "
    "l'entrée standard\n"
    "  --data-dir DOSSIER   garder réglages, table de correspondance, traces et détections "
    "dans DOSSIER\n"
    "  --connect            se connecter aux boîtiers configurés dès le démarrage\n"
    "  --direct             lancer la connexion directe au logiciel de résultats dès le "
    "démarrage\n"
    "  --duration SECONDES  se fermer seul après SECONDES, comme Quitter avec Ctrl enfoncé\n"
    "  --popfront           mettre au premier plan la fenêtre du Lapora lancé ; état 1 s'il "
    "n'y en a pas\n"
    "  -h, --help           afficher cette aide et sortir\n"
    "  --version            afficher la version et sortir\n"
    "Sans écran, Lapora fonctionne comme avec --headless.\n"};
// The last line of --help. %s: the help document's path.
inline constexpr Message kMsgUsageManual{"Operator manual: %s\n", "Manuel de l'opérateur : %s\n"};

// Said once, on stderr and in the log, when no audio output can be had. %s: the reason.
inline constexpr Message kMsgSoundsOff{"+ No sound output (%s): sounds are off",
                                       "+ Pas de sortie son (%s) : sons coupés"};

}  // namespace lapora

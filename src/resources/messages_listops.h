// Texts of the operator's operations on the recorded detections (manual entry dialog, remove and
// restore, forget all, list reset), English and French, in UTF-8. Read-only constants: safe from
// any thread.
#pragma once

#include "foundation/text.h"

namespace lapora {

// Manual entry dialog.
inline constexpr Message kMsgManualEntryTitle{"Manual bib number input",
                                              "Saisie manuelle de dossard"};
inline constexpr Message kMsgManualTimeLabel{"Time to insert:", "Temps à insérer :"};
inline constexpr Message kMsgManualBibLabel{"Bib number:", "Numéro de dossard :"};
inline constexpr Message kMsgManualDetectorLabel{"Detector :", "Détecteur :"};
inline constexpr Message kMsgManualCorrectionLabel{"Time correction:", "Correction des temps :"};
inline constexpr Message kMsgCorrectionToday{"Use today times", "Utiliser le temps tel quel"};
inline constexpr Message kMsgCorrection24h{"Add 24 hours to times", "Ajouter 24h aux temps"};
inline constexpr Message kMsgCorrection48h{"Add 48 hours to times", "Ajouter 48h aux temps"};
inline constexpr Message kMsgCorrection72h{"Add 72 hours to times", "Ajouter 72h aux temps"};
inline constexpr Message kMsgCorrectionIndicator{"+%dh", "+%dh"};
inline constexpr Message kMsgManualOk{"OK", "OK"};
inline constexpr Message kMsgManualCancel{"Cancel", "Annuler"};

// Checks of the manual entry.
inline constexpr Message kMsgInvalidBib{"Empty or invalid runner bib!",
                                        "Dossard vide ou invalide !"};
inline constexpr Message kMsgInvalidManualTime{"Time is empty or invalid!", "Temps invalide !"};
inline constexpr Message kMsgNoDetectorId{"No Detector Id.!", "Pas de n° de détecteur !"};

// The log line of a manual detection (the English spelling is the program's own).
inline constexpr Message kMsgAddedManualDetection{
    "+++ Added manual detecttion for box %s at %s for runner %d",
    "+++ Ajout manuel d'une détection Id. Boîtier %s à %s pour le coureur %d"};

// Context menu of the detections list and its questions.
inline constexpr Message kMsgRemoveSelected{"Remove selected detections",
                                            "Supprimer les détections sélectionnées"};
inline constexpr Message kMsgRestoreSelected{"Restore selected detections",
                                             "Restaurer les détections sélectionnées"};
inline constexpr Message kMsgMenuCancel{"Cancel", "Annuler"};
inline constexpr Message kMsgRemoveOne{"Remove detection %s of runner %s ?",
                                       "Supprimer la détection %s du dossard %s ?"};
inline constexpr Message kMsgRestoreOne{"Restore detection %s of runner %s ?",
                                        "Restaurer la détection %s du dossard %s ?"};
inline constexpr Message kMsgRemoveSeveral{"Remove those %d detections?",
                                           "Supprimer ces %d détections?"};
inline constexpr Message kMsgRestoreSeveral{"Restore those %d detections?",
                                            "Restaurer ces %d détections ?"};

// Forget all and the list reset.
inline constexpr Message kMsgForgetAllQuestion{
    "Do you really want to clear the list of all recorded detections ?\n\nCAUTION !!!  ALL "
    "RECORDED TIMES WILL BE LOST !!!",
    "Souhaitez vous vraiment vider la liste toutes les détections enregistrées ?\n\nATTENTION "
    "!!!  TOUS LES TEMPS  ENREGISTRES SERONT PERDUS !!!"};
inline constexpr Message kMsgResetDone{
    "+ Detection list reset done. (%d detection%s)",
    "+ Remise à zéro de la liste des détections effectuée. (%d détection%s)"};

}  // namespace lapora

#include "resultslink/link_codes.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include "resources/messages_resultslink.h"

namespace lapora {
namespace {

struct CodeText {
  int code;
  const char* utf8;  // shown as it stands in both languages
};

// The results software's own names, not translated.
constexpr CodeText kCommandNames[] = {
    {0, "DETCMD_UNKNOWN"},
    {1, "DETCMD_PUSH_TIME"},
    {2, "DETCMD_GET_KOL"},
    {3, "DETCMD_GET_BIB_NUMBER"},
    {4, "DETCMD_DISPLAY_DETECTOR"},
    {5, "Nom de la compétition"},
    {6, "Nom du fichier"},
    {7, "Liste des détecteurs"},
    {8, "Liste des courses"},
    {20, "Ping"},
    {21, "DETCMD_WINKOL_LOCK"},
    {22, "DETCMD_WINKOL_UNLOCK"},
    {23, "DETCMD_WINKOL_EXPEDITION"},
    {24, "Application"},
    {25, "Utilisateur"},
    {26, "Reg. Code"},
    {27, "Version"},
    {28, "Printable Version"},
    {49, "Commande inconnue"},
};

constexpr CodeText kStatusTexts[] = {
    {-1, "IR_RUNNER_COURSE_NULL"},
    {-2, "Id. puce non trouvé"},
    {-3, "IR_RUNNER_TABLE_FULL"},
    {-4, "IR_RUNNER_TIME_SKIPPED"},
    {-5, "Coureur inconnu"},
    {-6, "Nombre max de passages atteint"},
    {-7, "Détection refusée pour le coureur"},
    {-9, "Détection refusée pour la course"},
    {-11, "IR_BIB_NUMBER_REJECTED"},
    {-8, "Temps de contrôle"},
    {0, "Temps du coureur inchangé"},
    {1, "Temps du coureur corrigé"},
    {2, "Temps du coureur modifié"},
    {3, "Temps pris en compte pour le coureur"},
    {4, "Coureur marqué comme ayant pris le départ"},
    {-20, "Code inconnu"},
    {101, "Erreur interne"},
    {102, "Aucune compétition/course/coureur"},
    {103, "Commande inconnue"},
    {104, "Commande invalide"},
    {105, "Résultat"},
    {106, "Pas de résultat"},
    {201, "Détecteur inconnu"},
    {202, "Coureur inconnu"},
    {1000, "Connexion refusée"},
};

template <std::size_t N>
const char* Find(const CodeText (&table)[N], int code) {
  for (const CodeText& entry : table) {
    if (entry.code == code) {
      return entry.utf8;
    }
  }
  return nullptr;
}

}  // namespace

std::string CommandNameIn(Language language, int code) {
  const char* name = Find(kCommandNames, code);
  return name != nullptr ? Utf8ToCp1252(name) : TrIn(language, kMsgLinkUnknownCommand);
}

std::string CommandName(int code) {
  return CommandNameIn(BuildLanguage(), code);
}

std::string StatusTextIn(Language language, int code) {
  const char* text = Find(kStatusTexts, code);
  return text != nullptr ? Utf8ToCp1252(text) : TrIn(language, kMsgLinkUnknownStatus);
}

std::string StatusText(int code) {
  return StatusTextIn(BuildLanguage(), code);
}

std::optional<std::array<int, 4>> ParseVersionNumbers(std::string_view text) {
  std::string copy(text);
  std::array<int, 4> numbers{};
  if (std::sscanf(copy.c_str(), "%d,%d,%d,%d", &numbers[0], &numbers[1], &numbers[2],
                  &numbers[3]) != 4) {
    return std::nullopt;
  }
  return numbers;
}

std::string ConvertVersion(std::string_view text) {
  std::optional<std::array<int, 4>> numbers = ParseVersionNumbers(text);
  if (!numbers) {
    return {};
  }
  const auto [a, b, c, d] = *numbers;
  // In 64 bits: a peer's numbers may be any int, and the sums must not overflow.
  const char letter = d != 0 ? static_cast<char>(static_cast<long long>('a') + d - 1) : '_';
  return StrF("%d.%lld%c", a, static_cast<long long>(b) * 10 + c, letter);
}

bool IsVersionRefused(std::string_view text) {
  std::optional<std::array<int, 4>> numbers = ParseVersionNumbers(text);
  if (!numbers) {
    return false;
  }
  const auto [a, b, c, d] = *numbers;
  return std::tie(a, b, c, d) < std::make_tuple(4, 4, 0, 0);
}

std::string OrdinalTextIn(Language language, int rank, std::string_view sex) {
  if (rank == 0) {
    return TrIn(language, kMsgOrdinalUnknown);
  }
  const char first = sex.empty() ? '\0' : sex.front();
  if (language == Language::kFrench) {
    if (rank == 1 && first == 'F') {
      return Utf8ToCp1252("1ère");
    }
    if (rank == 1 && first == 'M') {
      return "1er";
    }
    return StrF(TrIn(language, kMsgOrdinalOther).c_str(), rank);
  }
  // English: 11th, 12th and 13th (and 111th...) whatever their last digit says.
  const int lastTwo = std::abs(rank % 100);
  if (lastTwo >= 11 && lastTwo <= 13) {
    return StrF(TrIn(language, kMsgOrdinalOther).c_str(), rank);
  }
  switch (std::abs(rank % 10)) {
    case 1:
      return StrF("%dst", rank);
    case 2:
      return StrF("%dnd", rank);
    case 3:
      return StrF("%drd", rank);
    default:
      return StrF(TrIn(language, kMsgOrdinalOther).c_str(), rank);
  }
}

std::string OrdinalText(int rank, std::string_view sex) {
  return OrdinalTextIn(BuildLanguage(), rank, sex);
}

}  // namespace lapora

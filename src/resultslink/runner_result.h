// The runner results of the results software: the fields of one result and the decoders of
// its four line layouts ("RES:1" split by backslashes, and the tagged "nq04", "nq05", "nq06").
// Pure functions; any thread. Decoders leave nothing behind on failure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lapora {

// One runner result. Text fields are Windows-1252 and hold at most the lengths below.
struct CRunnerResult {
  static constexpr std::size_t kTextMax = 255;
  static constexpr std::size_t kCatMax = 49;
  static constexpr std::size_t kCodeMax = 19;  // SEX, SCAT and the reserved field

  int pass = 0;
  double dist = 0.0;
  std::string nation;
  std::string race;
  int rankOverall = 0;   // CLT-GAL; 0: no ranking
  int rankCategory = 0;  // CLT-CAT
  int rankSex = 0;       // CLT-SEX
  int number = 0;
  std::string lastName;
  std::string firstName;
  std::string sex;
  std::string categoryCode;  // SCAT
  std::string category;      // CAT
  std::string team;
  std::string time;
  std::string reserved;
  int status = 0;

  bool operator==(const CRunnerResult&) const = default;
};

// The split layout: "RES:1", one character, then backslash-separated fields whose first two
// are skipped. Integers that do not start with a number and a distance that is not one read
// as 0; empty fields are allowed; texts are cut to their lengths. None when fewer than the 19
// fields are present (fieldCount, optional, receives how many there were).
std::optional<CRunnerResult> DecodeSplitResult(std::string_view line, int* fieldCount = nullptr);

// The tagged layouts, tried in the order nq04, nq05, nq06. Every field must be present, every
// text non-empty and within its length, integers decimal, the distance a decimal number.
// None when no layout matches; nq06Count (optional) then receives how many fields the nq06
// reading took before it stopped.
std::optional<CRunnerResult> DecodeTaggedResult(std::string_view line, int* nq06Count = nullptr);

// A decimal number read the same way whatever the process locale: optional blanks and sign,
// then digits with an optional '.' fraction and exponent. wholeField: the number must take the
// whole text (tagged layouts); otherwise the longest leading number counts, and none reads 0.
std::optional<double> ParseDecimal(std::string_view text, bool wholeField);

}  // namespace lapora

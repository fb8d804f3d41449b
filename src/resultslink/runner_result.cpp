#include "resultslink/runner_result.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <vector>

#include "foundation/text.h"

namespace lapora {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The length of the decimal number at the start of text (after the sign), 0 when none.
std::size_t NumberSpan(std::string_view text) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) {
    ++i;
    ++digits;
  }
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    std::size_t fraction = 0;
    while (j < text.size() && IsDigit(text[j])) {
      ++j;
      ++fraction;
    }
    if (digits + fraction > 0) {
      i = j;
      digits += fraction;
    }
  }
  if (digits == 0) {
    return 0;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) {
        ++j;
      }
      i = j;
    }
  }
  return i;
}

// Passes over the blanks and the sign before a number as the scanf conversions do. Returns the
// characters passed; negative tells whether the sign was a minus.
std::size_t SkipBlanksAndSign(std::string_view text, bool* negative) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

// Reads an integer as "%d" does: blanks, sign, digits. Returns the characters taken, 0 when
// there is no number; the value is clamped to the int range.
std::size_t ReadInt(std::string_view text, int* value) {
  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, &negative);
  if (i >= text.size() || !IsDigit(text[i])) {
    return 0;
  }
  long long magnitude = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) {
      magnitude = magnitude * 10 + (text[i] - '0');
    }
    ++i;
  }
  long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT_MAX) {
    signedValue = INT_MAX;
  } else if (signedValue < INT_MIN) {
    signedValue = INT_MIN;
  }
  *value = static_cast<int>(signedValue);
  return i;
}

// Reads a decimal number: blanks, sign, number. Returns the characters taken, 0 when none.
std::size_t ReadDecimal(std::string_view text, double* value) {
  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, &negative);
  std::size_t span = NumberSpan(text.substr(i));
  if (span == 0) {
    return 0;
  }
  double parsed = 0.0;
  const char* begin = text.data() + i;
  auto [end, error] = std::from_chars(begin, begin + span, parsed, std::chars_format::general);
  if (error != std::errc() && error != std::errc::result_out_of_range) {
    return 0;
  }
  *value = negative ? -parsed : parsed;
  return static_cast<std::size_t>(end - text.data());
}

std::string Cut(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, max));
}

int IntOrZero(std::string_view text) {
  int value = 0;
  return ReadInt(text, &value) > 0 ? value : 0;
}

// What each field of a tagged layout is, and where it goes: an integer ("%d"), the distance
// ("%f") or a text ("%[^\]" bounded by its length) into its member; the tag is the text with no
// member.
struct Field {
  enum class Type { kInt, kDecimal, kText };
  Type type;
  int CRunnerResult::*intMember = nullptr;
  std::string CRunnerResult::*textMember = nullptr;
  std::size_t textMax = CRunnerResult::kTextMax;
};

constexpr Field Int(int CRunnerResult::*member) {
  return {Field::Type::kInt, member, nullptr};
}
constexpr Field Text(std::string CRunnerResult::*member,
                     std::size_t max = CRunnerResult::kTextMax) {
  return {Field::Type::kText, nullptr, member, max};
}

constexpr Field kTag = Text(nullptr);
constexpr Field kPass = Int(&CRunnerResult::pass);
constexpr Field kDist{Field::Type::kDecimal};
constexpr Field kNation = Text(&CRunnerResult::nation);
constexpr Field kRace = Text(&CRunnerResult::race);
constexpr Field kGal = Int(&CRunnerResult::rankOverall);
constexpr Field kCat = Int(&CRunnerResult::rankCategory);
constexpr Field kSex = Int(&CRunnerResult::rankSex);
constexpr Field kNumber = Int(&CRunnerResult::number);
constexpr Field kLast = Text(&CRunnerResult::lastName);
constexpr Field kFirst = Text(&CRunnerResult::firstName);
constexpr Field kSexCode = Text(&CRunnerResult::sex, CRunnerResult::kCodeMax);
constexpr Field kCatCode = Text(&CRunnerResult::categoryCode, CRunnerResult::kCodeMax);
constexpr Field kCatName = Text(&CRunnerResult::category, CRunnerResult::kCatMax);
constexpr Field kTeam = Text(&CRunnerResult::team);
constexpr Field kTime = Text(&CRunnerResult::time);
constexpr Field kReserved = Text(&CRunnerResult::reserved, CRunnerResult::kCodeMax);
constexpr Field kStatus = Int(&CRunnerResult::status);

const std::vector<Field>& LayoutFields(int layout) {
  static const std::vector<Field> nq04 = {kTag,     kPass, kGal,   kCat,      kSex,
                                          kNumber,  kLast, kFirst, kSexCode,  kCatCode,
                                          kCatName, kTeam, kTime,  kReserved, kStatus};
  static const std::vector<Field> nq05 = {kTag,     kPass,   kDist, kNation,   kGal,     kCat,
                                          kSex,     kNumber, kLast, kFirst,    kSexCode, kCatCode,
                                          kCatName, kTeam,   kTime, kReserved, kStatus};
  static const std::vector<Field> nq06 = {kTag,     kPass,    kDist,   kNation, kRace,     kGal,
                                          kCat,     kSex,     kNumber, kLast,   kFirst,    kSexCode,
                                          kCatCode, kCatName, kTeam,   kTime,   kReserved, kStatus};
  return layout == 4 ? nq04 : layout == 5 ? nq05 : nq06;
}

// Reads one field at the start of rest into out (or tag). Returns the characters taken, 0
// when the field's conversion fails.
std::size_t ReadField(std::string_view rest, const Field& field, CRunnerResult* out,
                      std::string* tag) {
  switch (field.type) {
    case Field::Type::kInt:
      return ReadInt(rest, &(out->*field.intMember));
    case Field::Type::kDecimal:
      return ReadDecimal(rest, &out->dist);
    case Field::Type::kText: {
      // A non-empty run of characters other than a backslash, at most the field's length;
      // a longer text leaves a character where the next backslash should be.
      std::size_t taken = 0;
      while (taken < rest.size() && taken < field.textMax && rest[taken] != '\\') {
        ++taken;
      }
      if (taken > 0) {
        (field.textMember != nullptr ? out->*field.textMember : *tag) =
            std::string(rest.substr(0, taken));
      }
      return taken;
    }
  }
  return 0;
}

// Scans one tagged layout with the rules of a scanf pattern made of "%[^\]", "%d" and "%f"
// conversions joined by literal backslashes (texts bounded by their lengths). Returns the
// number of conversions made; tag receives the first field.
int ScanLayout(std::string_view line, int layout, CRunnerResult* out, std::string* tag) {
  const std::vector<Field>& fields = LayoutFields(layout);
  std::size_t at = 0;
  int count = 0;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) {
      if (at >= line.size() || line[at] != '\\') {
        return count;
      }
      ++at;
    }
    std::size_t taken = ReadField(line.substr(at), fields[f], out, tag);
    if (taken == 0) {
      return count;
    }
    at += taken;
    ++count;
  }
  return count;
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text, bool wholeField) {
  double value = 0.0;
  std::size_t taken = ReadDecimal(text, &value);
  if (taken == 0) {
    return wholeField ? std::nullopt : std::optional<double>(0.0);
  }
  if (wholeField && taken != text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<CRunnerResult> DecodeSplitResult(std::string_view line, int* fieldCount) {
  std::vector<std::string_view> fields;
  if (line.size() > 6) {
    std::string_view rest = line.substr(6);
    std::size_t start = 0;
    while (true) {
      std::size_t end = rest.find('\\', start);
      fields.push_back(rest.substr(start, end == std::string_view::npos ? end : end - start));
      if (end == std::string_view::npos) {
        break;
      }
      start = end + 1;
    }
  }
  if (fieldCount != nullptr) {
    *fieldCount = static_cast<int>(fields.size());
  }
  if (fields.size() < 19) {
    return std::nullopt;
  }
  CRunnerResult result;
  result.pass = IntOrZero(fields[2]);
  result.dist = *ParseDecimal(fields[3], false);
  result.nation = Cut(fields[4], CRunnerResult::kTextMax);
  result.race = Cut(fields[5], CRunnerResult::kTextMax);
  result.rankOverall = IntOrZero(fields[6]);
  result.rankCategory = IntOrZero(fields[7]);
  result.rankSex = IntOrZero(fields[8]);
  result.number = IntOrZero(fields[9]);
  result.lastName = Cut(fields[10], CRunnerResult::kTextMax);
  result.firstName = Cut(fields[11], CRunnerResult::kTextMax);
  result.sex = Cut(fields[12], CRunnerResult::kCodeMax);
  result.categoryCode = Cut(fields[13], CRunnerResult::kCodeMax);
  result.category = Cut(fields[14], CRunnerResult::kCatMax);
  result.team = Cut(fields[15], CRunnerResult::kTextMax);
  result.time = Cut(fields[16], CRunnerResult::kTextMax);
  result.reserved = Cut(fields[17], CRunnerResult::kCodeMax);
  result.status = IntOrZero(fields[18]);
  return result;
}

std::optional<CRunnerResult> DecodeTaggedResult(std::string_view line, int* nq06Count) {
  static constexpr const char* kTags[] = {"nq04", "nq05", "nq06"};
  for (int layout = 4; layout <= 6; ++layout) {
    CRunnerResult result;
    std::string tag;
    int count = ScanLayout(line, layout, &result, &tag);
    if (layout == 6 && nq06Count != nullptr) {
      *nq06Count = count;
    }
    if (count == static_cast<int>(LayoutFields(layout).size()) && tag == kTags[layout - 4]) {
      return result;
    }
  }
  return std::nullopt;
}

}  // namespace lapora

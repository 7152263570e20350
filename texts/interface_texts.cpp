#include "texts/interface_texts.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "texts/catalogue.h"

namespace tarvik {

namespace {

constexpr uint16_t kLanguageChinese = 2052;
constexpr uint16_t kLanguageEnglish = 1033;

bool g_chinese = false;

// One conversion of a printf format: where it is, what it converts and which
// argument it takes (from 0; positional ones say so with "%2$s").
struct Conversion {
  size_t begin = 0;
  size_t end = 0;
  char kind = 's';
  std::optional<size_t> position;
};

// The conversions of `format` in order; "%%" is none.
std::vector<Conversion> Conversions(std::string_view format) {
  std::vector<Conversion> found;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    Conversion c;
    c.begin = i;
    size_t j = i + 1;
    size_t digits = j;
    while (digits < format.size() && std::isdigit(static_cast<unsigned char>(format[digits]))) ++digits;
    if (digits > j && digits < format.size() && format[digits] == '$') {
      c.position = std::stoul(std::string(format.substr(j, digits - j))) - 1;
      j = digits + 1;
    }
    while (j < format.size() && std::strchr("-+ #0123456789.hlzjtL", format[j])) ++j;
    if (j >= format.size()) break;
    c.kind = format[j];
    c.end = j + 1;
    found.push_back(c);
    i = j;
  }
  return found;
}

// The literal text of `format` between two conversions, with "%%" as "%".
std::string Literal(std::string_view format, size_t begin, size_t end) {
  std::string text;
  for (size_t i = begin; i < end; ++i) {
    text.push_back(format[i]);
    if (format[i] == '%' && i + 1 < end && format[i + 1] == '%') ++i;
  }
  return text;
}

// Whether the characters of `piece` are what conversion `kind` prints.
bool FitsConversion(char kind, std::string_view piece) {
  if (kind == 's') return true;
  if (piece.empty()) return false;
  if (kind == 'c') return piece.size() == 1;
  size_t i = 0;
  if ((kind == 'd' || kind == 'i' || kind == 'f') && piece[0] == '-') i = 1;
  if (i == piece.size()) return false;
  for (; i < piece.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(piece[i]);
    const bool fits = kind == 'x' || kind == 'X' ? std::isxdigit(c) != 0
                      : kind == 'f'              ? std::isdigit(c) != 0 || c == '.'
                                                 : std::isdigit(c) != 0;
    if (!fits) return false;
  }
  return true;
}

// What a piece printed by %s must be for a match to count.
using PieceCheck = std::function<bool(std::string_view)>;

// Matches `text` from `at` against the literals and conversions from `index`
// on; the pieces the conversions printed go to `pieces`.
bool MatchFrom(const std::vector<std::string>& literals, const std::vector<char>& kinds, size_t index,
               std::string_view text, size_t at, const PieceCheck& check, std::vector<std::string_view>& pieces) {
  if (index == kinds.size()) return at == text.size();
  const std::string& next = literals[index + 1];
  // The shortest piece that lets the rest match.
  for (size_t end = at; end <= text.size(); ++end) {
    const std::string_view piece = text.substr(at, end - at);
    if (!FitsConversion(kinds[index], piece)) {
      if (kinds[index] != 's' && end > at) break;  // a longer number does not fit either
      continue;
    }
    if (text.compare(end, next.size(), next) != 0) continue;
    if (kinds[index] == 's' && !check(piece)) continue;
    pieces.push_back(piece);
    if (MatchFrom(literals, kinds, index + 1, text, end + next.size(), check, pieces)) return true;
    pieces.pop_back();
  }
  return false;
}

// The pieces `text` was made of, were it made from `format`.
std::optional<std::vector<std::string_view>> MatchFormat(std::string_view format, std::string_view text,
                                                         const PieceCheck& check) {
  const std::vector<Conversion> conversions = Conversions(format);
  std::vector<std::string> literals;
  std::vector<char> kinds;
  size_t from = 0;
  for (const Conversion& c : conversions) {
    literals.push_back(Literal(format, from, c.begin));
    kinds.push_back(c.kind);
    from = c.end;
  }
  literals.push_back(Literal(format, from, format.size()));
  if (text.compare(0, literals[0].size(), literals[0]) != 0) return std::nullopt;
  // Most formats are told apart by a word of theirs the text lacks.
  for (const std::string& literal : literals) {
    if (text.find(literal) == std::string_view::npos) return std::nullopt;
  }
  std::vector<std::string_view> pieces;
  if (!MatchFrom(literals, kinds, 0, text, literals[0].size(), check, pieces)) return std::nullopt;
  return pieces;
}

std::string Translate(const std::string& english, bool joins);

// `translation` with its conversions replaced by the English pieces, those
// printed by %s translated in turn.
std::string Fill(std::string_view translation, const std::vector<std::string_view>& pieces) {
  std::string text;
  size_t from = 0;
  size_t next = 0;
  for (const Conversion& c : Conversions(translation)) {
    text += Literal(translation, from, c.begin);
    const size_t which = c.position.value_or(next++);
    if (which < pieces.size()) {
      const std::string piece(pieces[which]);
      text += c.kind == 's' ? Translate(piece, true) : piece;
    }
    from = c.end;
  }
  return text + Literal(translation, from, translation.size());
}

size_t Letters(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }));
}

// A format a finished text may have been made from. One with few words of its
// own ("%s %s", "%s at %s") says little about its pieces: it matches only when
// every piece it printed with %s is a text of the catalogue too, or no words.
struct KnownFormat {
  const char* msgid;
  bool strict;
};

// The catalogue's formats, the most specific first.
const std::vector<KnownFormat>& KnownFormats() {
  static const std::vector<KnownFormat> formats = [] {
    constexpr size_t kTellingLetters = 8;
    std::vector<std::pair<size_t, KnownFormat>> list;
    for (size_t i = 0; i < kCatalogueEntryCount; ++i) {
      const CatalogueEntry& entry = kCatalogueEntries[i];
      const std::vector<Conversion> conversions = Conversions(entry.msgid);
      if (!entry.format || entry.msgidPlural != nullptr || conversions.empty()) continue;
      std::string literal;
      size_t from = 0;
      for (const Conversion& c : conversions) {
        literal += Literal(entry.msgid, from, c.begin);
        from = c.end;
      }
      literal += Literal(entry.msgid, from, std::strlen(entry.msgid));
      list.push_back({literal.size(), {entry.msgid, Letters(literal) < kTellingLetters}});
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<KnownFormat> known;
    for (const auto& entry : list) known.push_back(entry.second);
    return known;
  }();
  return formats;
}

// `english` translated whole, or by the format it was made from; `joins`:
// formats with few words of their own may be tried too (not for their own
// pieces, which keeps the search short).
std::string Translate(const std::string& english, bool joins) {
  if (Letters(english) == 0) return english;  // numbers, a percentage: nothing to translate
  const char* whole = catalogue::Lookup(english.c_str());
  if (std::strcmp(whole, english.c_str()) != 0) return whole;
  // Reasons are made on one line; a text of several (the access hint) comes in the user's language.
  if (const size_t end = english.find('\n'); end != std::string::npos && end + 1 != english.size()) return english;
  const PieceCheck any = [](std::string_view) { return true; };
  const PieceCheck known = [](std::string_view piece) {
    const std::string text(piece);
    return Letters(text) == 0 || Translate(text, false) != text;
  };
  for (const KnownFormat& format : KnownFormats()) {
    if (format.strict && !joins) continue;
    const std::optional<std::vector<std::string_view>> pieces =
        MatchFormat(format.msgid, english, format.strict ? known : any);
    if (!pieces) continue;
    const char* translation = catalogue::Lookup(format.msgid);
    if (std::strcmp(translation, format.msgid) == 0) continue;
    return Fill(translation, *pieces);
  }
  return english;
}

}  // namespace

uint16_t ChooseTextLanguage(uint16_t interfaceLanguage) {
  g_chinese = interfaceLanguage == kLanguageChinese && catalogue::Open();
  if (interfaceLanguage == kLanguageChinese && !g_chinese) catalogue::SpeakEnglish();
  return g_chinese ? kLanguageChinese : interfaceLanguage == kLanguageChinese ? kLanguageEnglish : interfaceLanguage;
}

bool TextsInChinese() { return g_chinese; }

const char* Tr(const char* english) { return g_chinese ? catalogue::Lookup(english) : english; }

const char* TrN(const char* singular, const char* plural, unsigned long n) {
  if (g_chinese) return catalogue::LookupPlural(singular, plural, n);
  return n == 1 ? singular : plural;
}

std::string TrText(const std::string& english) { return g_chinese ? Translate(english, true) : english; }

}  // namespace tarvik

#include "passes/EpisodeIdentity.h"

#include <algorithm>
#include <cwctype>
#include <initializer_list>

namespace tev {
namespace {

struct Numbers {
  int32_t season = 0, episode = 0, part = 0, parts = 0;  // 1-based; 0 unknown
};

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

// Digits only, at most 6 of them; -1 otherwise.
int32_t Number(const std::wstring& text) {
  if (text.empty() || text.size() > 6) return -1;
  int32_t value = 0;
  for (wchar_t c : text) {
    if (!IsAsciiDigit(c)) return -1;
    value = value * 10 + (c - L'0');
  }
  return value;
}

std::wstring Trim(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return L"";
  return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// xmltv_ns: "season.episode.part", zero-based, each optionally "n/total",
// any field may be empty, blanks anywhere ("2 . 9 . 0/1"). False when the
// text is not of that form.
bool ParseXmltvNs(const std::wstring& text, Numbers* out) {
  std::wstring compact;
  for (wchar_t c : text) {
    if (!std::iswspace(c)) compact += c;
  }
  std::vector<std::wstring> fields(1);
  for (wchar_t c : compact) {
    if (c == L'.') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() > 3) return false;
  int32_t values[3] = {0, 0, 0}, totals[3] = {0, 0, 0};
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t slash = fields[i].find(L'/');
    const std::wstring value = fields[i].substr(0, slash);
    if (!value.empty()) {
      const int32_t n = Number(value);
      if (n < 0) return false;
      values[i] = n + 1;
    }
    if (slash != std::wstring::npos) {
      totals[i] = Number(fields[i].substr(slash + 1));
      if (totals[i] < 0) return false;
    }
  }
  *out = {values[0], values[1], values[2], totals[2]};
  return true;
}

// The words and numbers of a text, lower case, punctuation dropped:
// "S04E03" is {"s", "04", "e", "03"}, "Season 4, Episode 3" is
// {"season", "4", "episode", "3"}.
std::vector<std::wstring> Tokens(const std::wstring& text) {
  std::vector<std::wstring> tokens;
  int kind = 0;  // of the last character: 1 letter, 2 digit, 0 other
  for (wchar_t c : text) {
    const int now = IsAsciiLetter(c) ? 1 : IsAsciiDigit(c) ? 2 : 0;
    if (now != 0 && now != kind) tokens.emplace_back();
    if (now != 0) tokens.back() += AsciiLower(c);
    kind = now;
  }
  return tokens;
}

bool IsWord(const std::wstring& token, std::initializer_list<const wchar_t*> words) {
  for (const wchar_t* w : words) {
    if (token == w) return true;
  }
  return false;
}

// onscreen (and common): "S04E03", "S4 E3", "4x03", "Season 4, Episode
// 3", "403" (season 4, episode 3), "Ep. 3", "E3". Other free text tells
// nothing.
bool ParseOnscreen(const std::wstring& text, Numbers* out) {
  const std::vector<std::wstring> t = Tokens(text);
  auto number = [&](size_t i) { return i < t.size() ? Number(t[i]) : -1; };
  if (t.size() >= 4 && IsWord(t[0], {L"s", L"season", L"series"}) && number(1) > 0 &&
      IsWord(t[2], {L"e", L"ep", L"episode"}) && number(3) > 0) {
    *out = {number(1), number(3), 0, 0};
    return true;
  }
  if (t.size() >= 3 && number(0) > 0 && t[1] == L"x" && number(2) > 0) {
    *out = {number(0), number(2), 0, 0};
    return true;
  }
  if (t.size() >= 2 && IsWord(t[0], {L"e", L"ep", L"episode"}) && number(1) > 0) {
    *out = {0, number(1), 0, 0};
    return true;
  }
  if (t.size() == 1 && number(0) > 0 && (t[0].size() == 3 || t[0].size() == 4) &&
      number(0) % 100 > 0) {
    *out = {number(0) / 100, number(0) % 100, 0, 0};
    return true;
  }
  return false;
}

struct ProgramId {
  std::wstring kind;     // "EP" episode, "SH" show, "MV" film, "SP" sports
  std::wstring episode;  // "EP524061.0075" when an episode is named
};

// dd_progid: two letters, the series digits, "." and the episode digits.
bool ParseDdProgid(const std::wstring& text, ProgramId* out) {
  const std::wstring id = Trim(text);
  if (id.size() < 3 || !IsAsciiLetter(id[0]) || !IsAsciiLetter(id[1])) return false;
  const std::wstring kind = {static_cast<wchar_t>(std::towupper(id[0])),
                             static_cast<wchar_t>(std::towupper(id[1]))};
  if (!IsWord(kind, {L"EP", L"SH", L"MV", L"SP"})) return false;
  const size_t dot = id.find(L'.');
  const std::wstring series =
      id.substr(2, dot == std::wstring::npos ? std::wstring::npos : dot - 2);
  if (series.empty() || !std::all_of(series.begin(), series.end(), IsAsciiDigit)) return false;
  out->kind = kind;
  out->episode.clear();
  if (dot != std::wstring::npos) {
    const std::wstring episode = id.substr(dot + 1);
    if (episode.empty() || episode.size() > 6 || Number(episode) < 0) return false;
    if (kind == L"EP" && Number(episode) > 0) out->episode = kind + series + L"." + episode;
  }
  return true;
}

std::wstring TwoDigits(int32_t n) { return (n < 10 ? L"0" : L"") + std::to_wstring(n); }

}  // namespace

std::wstring NormaliseListingText(const std::wstring& text) {
  std::wstring out;
  bool space = false;
  for (wchar_t c : text) {
    const bool keep = IsAsciiLetter(c) || IsAsciiDigit(c) || c > 0x7f;
    if (!keep) {
      space = !out.empty();
      continue;
    }
    if (space) out += L' ';
    space = false;
    out += AsciiLower(c);
  }
  return out;
}

EpisodeIdentity IdentifyEpisode(const ListingMarks& listing) {
  EpisodeIdentity identity;
  identity.showing = listing.isNew || listing.premiere ? Showing::kNew
                     : listing.previouslyShown         ? Showing::kRepeat
                                                       : Showing::kUnknown;
  // xmltv_ns is the structured form: it wins over onscreen text.
  Numbers numbers, onscreen;
  bool haveNs = false, haveOnscreen = false, haveId = false;
  ProgramId programId;
  for (const auto& [system, text] : listing.episodeNums) {
    const std::wstring name = NormaliseListingText(system);
    if (name == L"xmltv ns" && !haveNs) {
      haveNs = ParseXmltvNs(text, &numbers);
    } else if ((name == L"onscreen" || name == L"common") && !haveOnscreen) {
      haveOnscreen = ParseOnscreen(text, &onscreen);
    } else if (name == L"dd progid" && !haveId) {
      haveId = ParseDdProgid(text, &programId);
    }
  }
  if (haveOnscreen && (!haveNs || (numbers.season == 0 && numbers.episode == 0))) {
    numbers.season = onscreen.season;
    numbers.episode = onscreen.episode;
  }
  identity.season = numbers.season;
  identity.episode = numbers.episode;
  identity.part = numbers.parts == 1 ? 0 : numbers.part;

  const std::wstring series = NormaliseListingText(listing.title);
  const std::wstring subTitle = NormaliseListingText(listing.subTitle);
  std::wstring which;
  if (identity.season > 0 && identity.episode > 0) {
    which = L"S" + TwoDigits(identity.season) + L"E" + TwoDigits(identity.episode);
    if (identity.part > 0) which += L"P" + std::to_wstring(identity.part);
  } else if (!programId.episode.empty()) {
    which = programId.episode;
  } else if (haveId && programId.kind == L"MV") {
    which = L"film";
  } else if (!subTitle.empty()) {
    which = subTitle;
  } else if (identity.episode > 0) {
    which = L"E" + TwoDigits(identity.episode);
  }
  if (!which.empty() && !series.empty()) identity.key = series + L"/" + which;
  return identity;
}

}  // namespace tev

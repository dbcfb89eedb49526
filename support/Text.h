// Small wide-text helpers shared by the whole module. The module never
// sets a locale, so "white space" and case are those of the C locale.
#ifndef TEV_SUPPORT_TEXT_H_
#define TEV_SUPPORT_TEXT_H_

#include <cwctype>
#include <string>

namespace tev {

// `text` without the white space at both ends (iswspace).
inline std::wstring Trim(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
  while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// `text` without any of `blanks` at both ends.
inline std::wstring TrimOf(const std::wstring& text, const wchar_t* blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Exact, case-sensitive prefix test.
inline bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

inline std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

// Equal when lowered unit by unit (towlower).
inline bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace tev

#endif  // TEV_SUPPORT_TEXT_H_

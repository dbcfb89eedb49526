#include "vel/WireTypes.h"

#include <cstdio>
#include <cstring>

namespace vel {

namespace {

struct TypeEntry {
  VARTYPE vt;
  const char* name;
};
const TypeEntry kTypes[] = {
    {VT_EMPTY, "EMPTY"}, {VT_NULL, "NULL"},   {VT_I2, "I2"},     {VT_I4, "I4"},
    {VT_R4, "R4"},       {VT_R8, "R8"},       {VT_DATE, "DATE"}, {VT_BSTR, "BSTR"},
    {VT_ERROR, "ERROR"}, {VT_BOOL, "BOOL"},   {VT_VARIANT, "VARIANT"}, {VT_I1, "I1"},
    {VT_UI1, "UI1"},     {VT_UI2, "UI2"},     {VT_UI4, "UI4"},   {VT_I8, "I8"},
    {VT_UI8, "UI8"},     {VT_INT, "INT"},     {VT_UINT, "UINT"},
};

}  // namespace

std::string TypeName(VARTYPE vt) {
  std::string prefix;
  if (vt & VT_ARRAY) {
    prefix = "ARRAY|";
    vt &= VT_TYPEMASK;
  }
  for (const TypeEntry& t : kTypes)
    if (t.vt == vt) return prefix + t.name;
  return std::string();
}

bool TypeFromName(const std::string& name, VARTYPE* vt) {
  std::string base = name;
  VARTYPE flags = 0;
  if (base.compare(0, 6, "ARRAY|") == 0) {
    flags = VT_ARRAY;
    base = base.substr(6);
  }
  for (const TypeEntry& t : kTypes) {
    if (base == t.name) {
      if (flags && (t.vt == VT_EMPTY || t.vt == VT_NULL)) return false;
      if (!flags && t.vt == VT_VARIANT) return false;
      *vt = t.vt | flags;
      return true;
    }
  }
  return false;
}

bool DecodeIsoDate(const std::string& s, double* out) {
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  int used = 0;
  if (s.size() < 19 || s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != 't' && s[10] != ' ') ||
      s[13] != ':' || s[16] != ':')
    return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
    if (s[i] < '0' || s[i] > '9') return false;
  if (std::sscanf(s.c_str(), "%4u-%2u-%2u%*c%2u:%2u:%2u%n", &y, &mo, &d, &h, &mi, &sec, &used) != 6 ||
      used != 19)
    return false;
  double fraction = 0;
  size_t pos = 19;
  if (pos < s.size() && s[pos] == '.') {
    double scale = 0.1;
    for (++pos; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos, scale /= 10)
      fraction += (s[pos] - '0') * scale;
  }
  if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) ++pos;
  if (pos != s.size()) return false;
  SYSTEMTIME st;
  std::memset(&st, 0, sizeof st);
  st.wYear = static_cast<uint16_t>(y);
  st.wMonth = static_cast<uint16_t>(mo);
  st.wDay = static_cast<uint16_t>(d);
  st.wHour = static_cast<uint16_t>(h);
  st.wMinute = static_cast<uint16_t>(mi);
  st.wSecond = static_cast<uint16_t>(sec);
  double date = 0;
  if (!SystemTimeToVariantTime(&st, &date)) return false;
  // The time of day counts forward from midnight on both sides of the epoch.
  date += (date < 0 ? -fraction : fraction) / 86400.0;
  *out = date;
  return true;
}

}  // namespace vel

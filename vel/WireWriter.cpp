#include "vel/WireWriter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "platform/WideText.h"
#include "vel/WireTypes.h"

namespace vel {

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

template <typename Integer>
void WriteInteger(Integer value, std::string* out) {
  char buffer[24];
  const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out->append(buffer, static_cast<size_t>(end - buffer));
}

// Shortest text that reads back as the same double, formatted as the JSON
// library formats it ("1.0", "1e+20"), so the bytes match its dumps.
void WriteDouble(double d, std::string* out) {
  if (std::isnan(d)) {
    out->append("\"nan\"");
  } else if (std::isinf(d)) {
    out->append(d > 0 ? "\"inf\"" : "\"-inf\"");
  } else {
    char buffer[64];
    const char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, d);
    out->append(buffer, static_cast<size_t>(end - buffer));
  }
}

// Appends units that are bytes of valid UTF-8 or ASCII characters, escaping
// what JSON requires (as the JSON library does: short escapes where JSON has
// them, \u00xx for the other control characters, everything else as is).
template <typename Unit>
void WriteEscaped(const Unit* units, size_t length, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->reserve(out->size() + length + 2);
  out->push_back('"');
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<typename std::make_unsigned<Unit>::type>(units[i]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      out->push_back(static_cast<char>(c));
      continue;
    }
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\f': out->append("\\f"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out->append(escape, sizeof escape);
      }
    }
  }
  out->push_back('"');
}

void WriteBstr(BSTR text, std::string* out) { WriteText(text, text ? SysStringLen(text) : 0, out); }

// One scalar of type `vt` stored at `p` (the layout inside a SAFEARRAY or a
// VARIANT's value field), in its plain form.
bool WriteScalar(VARTYPE vt, const void* p, std::string* out, std::string* error) {
  switch (vt) {
    case VT_I1: WriteInteger<int>(*static_cast<const int8_t*>(p), out); return true;
    case VT_UI1: WriteInteger<unsigned>(*static_cast<const uint8_t*>(p), out); return true;
    case VT_I2: case VT_BOOL: WriteInteger<int>(*static_cast<const int16_t*>(p), out); return true;
    case VT_UI2: WriteInteger<unsigned>(*static_cast<const uint16_t*>(p), out); return true;
    case VT_I4: case VT_INT: case VT_ERROR: WriteInteger(*static_cast<const int32_t*>(p), out); return true;
    case VT_UI4: case VT_UINT: WriteInteger(*static_cast<const uint32_t*>(p), out); return true;
    case VT_I8: WriteInteger(*static_cast<const int64_t*>(p), out); return true;
    case VT_UI8: WriteInteger(*static_cast<const uint64_t*>(p), out); return true;
    case VT_R4: WriteDouble(*static_cast<const float*>(p), out); return true;
    case VT_R8: case VT_DATE: WriteDouble(*static_cast<const double*>(p), out); return true;
    case VT_BSTR: WriteBstr(*static_cast<const BSTR*>(p), out); return true;
    default: return Fail(error, "type " + std::to_string(vt) + " cannot be sent");
  }
}

void WriteTypeName(VARTYPE vt, std::string* out) {
  out->append("\"vt\":\"");
  out->append(TypeName(vt));
  out->push_back('"');
}

bool Write(const VARIANT& v, std::string* out, std::string* error, int depth);

// Keys in sorted order: "lbound" (when not 0), "v", "vt".
bool WriteArray(const VARIANT& v, std::string* out, std::string* error, int depth) {
  SAFEARRAY* psa = v.parray;
  const VARTYPE element = v.vt & VT_TYPEMASK;
  if (!psa) return Fail(error, "array without data");
  if (SafeArrayGetDim(psa) != 1) return Fail(error, "only one-dimensional arrays can be sent");
  LONG lbound = 0;
  SafeArrayGetLBound(psa, 1, &lbound);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) return Fail(error, "array not accessible");
  const bool plain = element == VT_VARIANT && lbound == 0;
  if (!plain) {
    out->push_back('{');
    if (lbound != 0) {
      out->append("\"lbound\":");
      WriteInteger(lbound, out);
      out->push_back(',');
    }
    out->append("\"v\":");
  }
  out->push_back('[');
  bool ok = true;
  const size_t count = psa->rgsabound[0].cElements;
  for (size_t i = 0; ok && i < count; ++i) {
    if (i > 0) out->push_back(',');
    const char* p = static_cast<const char*>(data) + i * psa->cbElements;
    ok = element == VT_VARIANT ? Write(*reinterpret_cast<const VARIANT*>(p), out, error, depth + 1)
                               : WriteScalar(element, p, out, error);
  }
  SafeArrayUnaccessData(psa);
  if (!ok) return false;
  out->push_back(']');
  if (!plain) {
    out->push_back(',');
    WriteTypeName(v.vt, out);
    out->push_back('}');
  }
  return true;
}

// The plain form whenever decoding it gives back the same VARIANT.
bool WritePlain(const VARIANT& v, std::string* out) {
  switch (v.vt) {
    case VT_NULL: out->append("null"); return true;
    case VT_BSTR: WriteBstr(v.bstrVal, out); return true;
    case VT_I4: WriteInteger(v.lVal, out); return true;
    case VT_BOOL:
      if (v.boolVal != VARIANT_TRUE && v.boolVal != VARIANT_FALSE) return false;
      out->append(v.boolVal == VARIANT_TRUE ? "true" : "false");
      return true;
    case VT_I8:  // plain integers outside 32 bits decode to I8 (then UI8)
      if (v.llVal >= INT32_MIN && v.llVal <= INT32_MAX) return false;
      WriteInteger(v.llVal, out);
      return true;
    case VT_UI8:
      if (v.ullVal <= static_cast<uint64_t>(INT64_MAX)) return false;
      WriteInteger(v.ullVal, out);
      return true;
    case VT_R8:
      if (!std::isfinite(v.dblVal)) return false;
      WriteDouble(v.dblVal, out);
      return true;
    default:
      return false;
  }
}

bool Write(const VARIANT& v, std::string* out, std::string* error, int depth) {
  if (depth > kMaxValueDepth) return Fail(error, "nesting too deep");
  if (v.vt & VT_ARRAY) return WriteArray(v, out, error, depth);
  if (v.vt == VT_EMPTY) {
    out->append("{\"vt\":\"EMPTY\"}");
    return true;
  }
  if (WritePlain(v, out)) return true;
  out->append("{\"v\":");
  if (!WriteScalar(v.vt, &v.llVal, out, error)) return false;
  out->push_back(',');
  WriteTypeName(v.vt, out);
  out->push_back('}');
  return true;
}

}  // namespace

bool WriteValue(const VARIANT& value, std::string* text, std::string* error) {
  return Write(value, text, error, 0);
}

void WriteText(const wchar_t* text, size_t length, std::string* out) {
  size_t i = 0;
  while (i < length && static_cast<uint32_t>(text[i]) < 0x80) ++i;
  if (i == length) {
    WriteEscaped(text, length, out);
    return;
  }
  const std::string bytes = tev::ToStdUtf8(std::wstring(text, length));
  WriteEscaped(bytes.data(), bytes.size(), out);
}

void WriteUtf8(const std::string& bytes, std::string* out) {
  const std::string valid = tev::ToStdUtf8(tev::FromStdUtf8(bytes));
  WriteEscaped(valid.data(), valid.size(), out);
}

}  // namespace vel

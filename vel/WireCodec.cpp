#include "vel/WireCodec.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "support/WideText.h"

using nlohmann::json;

namespace vel {

namespace {

const int kMaxDepth = 64;
static_assert(kWireJsonDepth >= 2 * (kMaxDepth + 1) + 1, "every encodable value must decode");

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

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

json EncodeReal(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  return d;
}

bool DecodeReal(const json& j, double* d) {
  if (j.is_number()) {
    *d = j.get<double>();
    return true;
  }
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    if (s == "nan") *d = std::numeric_limits<double>::quiet_NaN();
    else if (s == "inf") *d = std::numeric_limits<double>::infinity();
    else if (s == "-inf") *d = -std::numeric_limits<double>::infinity();
    else return false;
    return true;
  }
  return false;
}

// "2026-12-06T10:00:00Z", optionally with fractional seconds and without
// the "Z"; always UTC. Years 100..9999, as OLE dates allow.
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

bool DecodeInteger(const json& j, int64_t lo, uint64_t hi, uint64_t* bits) {
  if (j.is_number_unsigned()) {
    uint64_t u = j.get<uint64_t>();
    if (u > hi) return false;
    *bits = u;
    return true;
  }
  if (j.is_number_integer()) {
    int64_t i = j.get<int64_t>();
    if (i < lo || (i > 0 && static_cast<uint64_t>(i) > hi)) return false;
    *bits = static_cast<uint64_t>(i);
    return true;
  }
  return false;
}

std::wstring BstrText(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

// Encodes one scalar of type `vt` stored at `p` (the layout inside a
// SAFEARRAY or a VARIANT's value field).
bool EncodeScalar(VARTYPE vt, const void* p, json* out, std::string* error) {
  switch (vt) {
    case VT_I1: *out = *static_cast<const int8_t*>(p); return true;
    case VT_UI1: *out = *static_cast<const uint8_t*>(p); return true;
    case VT_I2: case VT_BOOL: *out = *static_cast<const int16_t*>(p); return true;
    case VT_UI2: *out = *static_cast<const uint16_t*>(p); return true;
    case VT_I4: case VT_INT: case VT_ERROR: *out = *static_cast<const int32_t*>(p); return true;
    case VT_UI4: case VT_UINT: *out = *static_cast<const uint32_t*>(p); return true;
    case VT_I8: *out = *static_cast<const int64_t*>(p); return true;
    case VT_UI8: *out = *static_cast<const uint64_t*>(p); return true;
    case VT_R4: *out = EncodeReal(*static_cast<const float*>(p)); return true;
    case VT_R8: case VT_DATE: *out = EncodeReal(*static_cast<const double*>(p)); return true;
    case VT_BSTR: *out = tev::ToStdUtf8(BstrText(*static_cast<const BSTR*>(p))); return true;
    default: return Fail(error, "type " + std::to_string(vt) + " cannot be sent");
  }
}

bool DecodeScalar(VARTYPE vt, const json& j, void* p, std::string* error) {
  uint64_t bits = 0;
  double d = 0;
  auto bad = [&]() { return Fail(error, "bad value for " + TypeName(vt) + ": " + j.dump()); };
  switch (vt) {
    case VT_I1:
      if (!DecodeInteger(j, INT8_MIN, INT8_MAX, &bits)) return bad();
      *static_cast<int8_t*>(p) = static_cast<int8_t>(bits); return true;
    case VT_UI1:
      if (!DecodeInteger(j, 0, UINT8_MAX, &bits)) return bad();
      *static_cast<uint8_t*>(p) = static_cast<uint8_t>(bits); return true;
    case VT_I2: case VT_BOOL:
      if (vt == VT_BOOL && j.is_boolean()) {
        *static_cast<int16_t*>(p) = j.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
      }
      if (!DecodeInteger(j, INT16_MIN, INT16_MAX, &bits)) return bad();
      *static_cast<int16_t*>(p) = static_cast<int16_t>(bits); return true;
    case VT_UI2:
      if (!DecodeInteger(j, 0, UINT16_MAX, &bits)) return bad();
      *static_cast<uint16_t*>(p) = static_cast<uint16_t>(bits); return true;
    case VT_I4: case VT_INT: case VT_ERROR:
      if (!DecodeInteger(j, INT32_MIN, INT32_MAX, &bits)) return bad();
      *static_cast<int32_t*>(p) = static_cast<int32_t>(bits); return true;
    case VT_UI4: case VT_UINT:
      if (!DecodeInteger(j, 0, UINT32_MAX, &bits)) return bad();
      *static_cast<uint32_t*>(p) = static_cast<uint32_t>(bits); return true;
    case VT_I8:
      if (!DecodeInteger(j, INT64_MIN, INT64_MAX, &bits)) return bad();
      *static_cast<int64_t*>(p) = static_cast<int64_t>(bits); return true;
    case VT_UI8:
      if (!DecodeInteger(j, 0, UINT64_MAX, &bits)) return bad();
      *static_cast<uint64_t*>(p) = bits; return true;
    case VT_R4:
      if (!DecodeReal(j, &d)) return bad();
      *static_cast<float*>(p) = static_cast<float>(d); return true;
    case VT_R8: case VT_DATE:
      if (!DecodeReal(j, &d) &&
          !(vt == VT_DATE && j.is_string() && DecodeIsoDate(j.get_ref<const std::string&>(), &d)))
        return bad();
      *static_cast<double*>(p) = d; return true;
    case VT_BSTR: {
      if (!j.is_string()) return bad();
      std::wstring text = tev::FromStdUtf8(j.get_ref<const std::string&>());
      *static_cast<BSTR*>(p) = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
      return true;
    }
    default: return Fail(error, "type " + std::to_string(vt) + " cannot be received");
  }
}

// {"vt": <type name>, "v": <value>}, built in place: an initializer list
// would copy the value.
json Typed(VARTYPE vt, json value) {
  json typed(json::value_t::object);
  typed.emplace("vt", TypeName(vt));
  typed.emplace("v", std::move(value));
  return typed;
}

bool Encode(const VARIANT& v, json* out, std::string* error, int depth);

bool EncodeArray(const VARIANT& v, json* out, std::string* error, int depth) {
  SAFEARRAY* psa = v.parray;
  VARTYPE element = v.vt & VT_TYPEMASK;
  if (!psa) return Fail(error, "array without data");
  if (SafeArrayGetDim(psa) != 1) return Fail(error, "only one-dimensional arrays can be sent");
  LONG lbound = 0;
  SafeArrayGetLBound(psa, 1, &lbound);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) return Fail(error, "array not accessible");
  json items = json::array();
  bool ok = true;
  const size_t count = psa->rgsabound[0].cElements;
  for (size_t i = 0; ok && i < count; ++i) {
    const char* p = static_cast<const char*>(data) + i * psa->cbElements;
    json item;
    ok = element == VT_VARIANT ? Encode(*reinterpret_cast<const VARIANT*>(p), &item, error, depth + 1)
                               : EncodeScalar(element, p, &item, error);
    if (ok) items.push_back(std::move(item));
  }
  SafeArrayUnaccessData(psa);
  if (!ok) return false;
  if (element == VT_VARIANT && lbound == 0) {
    *out = std::move(items);
  } else {
    *out = Typed(v.vt, std::move(items));
    if (lbound != 0) (*out)["lbound"] = lbound;
  }
  return true;
}

bool Encode(const VARIANT& v, json* out, std::string* error, int depth) {
  if (depth > kMaxDepth) return Fail(error, "nesting too deep");
  if (v.vt & VT_ARRAY) return EncodeArray(v, out, error, depth);
  switch (v.vt) {
    case VT_EMPTY: *out = json{{"vt", "EMPTY"}}; return true;
    case VT_NULL: *out = nullptr; return true;
    case VT_BSTR: *out = tev::ToStdUtf8(BstrText(v.bstrVal)); return true;
    case VT_I4: *out = v.lVal; return true;
    case VT_BOOL:
      if (v.boolVal == VARIANT_TRUE || v.boolVal == VARIANT_FALSE) {
        *out = v.boolVal == VARIANT_TRUE;
        return true;
      }
      break;
    case VT_I8:  // plain integers outside 32 bits decode to I8 (then UI8)
      if (v.llVal < INT32_MIN || v.llVal > INT32_MAX) {
        *out = v.llVal;
        return true;
      }
      break;
    case VT_UI8:
      if (v.ullVal > static_cast<uint64_t>(INT64_MAX)) {
        *out = v.ullVal;
        return true;
      }
      break;
    case VT_R8:
      if (std::isfinite(v.dblVal)) {
        *out = v.dblVal;
        return true;
      }
      break;
    default:
      break;
  }
  json value;
  if (!EncodeScalar(v.vt, &v.llVal, &value, error)) return false;
  *out = Typed(v.vt, std::move(value));
  return true;
}

bool Decode(const json& j, VARIANT* out, std::string* error, int depth);

bool DecodeArray(VARTYPE vt, const json& items, LONG lbound, VARIANT* out, std::string* error,
                 int depth) {
  if (!items.is_array()) return Fail(error, "array value is not a JSON array");
  VARTYPE element = vt & VT_TYPEMASK;
  // Every element needs an index that fits a LONG.
  if (items.size() > 0 &&
      static_cast<int64_t>(lbound) + static_cast<int64_t>(items.size()) - 1 > INT32_MAX)
    return Fail(error, "array does not fit above lbound " + std::to_string(lbound));
  SAFEARRAY* psa = SafeArrayCreateVector(element, lbound, static_cast<ULONG>(items.size()));
  if (!psa) return Fail(error, "cannot make an array of " + TypeName(vt));
  void* data = nullptr;
  SafeArrayAccessData(psa, &data);
  bool ok = true;
  for (size_t i = 0; ok && i < items.size(); ++i) {
    char* p = static_cast<char*>(data) + i * psa->cbElements;
    ok = element == VT_VARIANT ? Decode(items[i], reinterpret_cast<VARIANT*>(p), error, depth + 1)
                               : DecodeScalar(element, items[i], p, error);
  }
  SafeArrayUnaccessData(psa);
  if (!ok) {
    SafeArrayDestroy(psa);
    return false;
  }
  out->vt = vt;
  out->parray = psa;
  return true;
}

bool Decode(const json& j, VARIANT* out, std::string* error, int depth) {
  VariantInit(out);
  if (depth > kMaxDepth) return Fail(error, "nesting too deep");
  switch (j.type()) {
    case json::value_t::null: out->vt = VT_NULL; return true;
    case json::value_t::boolean:
      out->vt = VT_BOOL;
      out->boolVal = j.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case json::value_t::string:
      out->vt = VT_BSTR;
      return DecodeScalar(VT_BSTR, j, &out->bstrVal, error) || (out->vt = VT_EMPTY, false);
    case json::value_t::number_float:
      out->vt = VT_R8;
      out->dblVal = j.get<double>();
      return true;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: {
      uint64_t bits = 0;
      if (DecodeInteger(j, INT32_MIN, INT32_MAX, &bits)) {
        out->vt = VT_I4;
        out->lVal = static_cast<int32_t>(bits);
      } else if (DecodeInteger(j, INT64_MIN, INT64_MAX, &bits)) {
        out->vt = VT_I8;
        out->llVal = static_cast<int64_t>(bits);
      } else {
        out->vt = VT_UI8;
        out->ullVal = j.get<uint64_t>();
      }
      return true;
    }
    case json::value_t::array:
      return DecodeArray(VT_ARRAY | VT_VARIANT, j, 0, out, error, depth);
    case json::value_t::object:
      break;
    default:
      return Fail(error, "unsupported JSON value");
  }
  auto vtIt = j.find("vt");
  if (vtIt == j.end() || !vtIt->is_string())
    return Fail(error, "object without a \"vt\" type name: " + j.dump().substr(0, 200));
  VARTYPE vt = 0;
  if (!TypeFromName(vtIt->get<std::string>(), &vt))
    return Fail(error, "unknown type name \"" + vtIt->get<std::string>() + "\"");
  auto value = j.find("v");
  if (vt & VT_ARRAY) {
    if (value == j.end()) return Fail(error, "array without \"v\"");
    LONG lbound = 0;
    auto lb = j.find("lbound");
    if (lb != j.end()) {
      uint64_t bits = 0;
      if (!DecodeInteger(*lb, INT32_MIN, INT32_MAX, &bits)) return Fail(error, "bad lbound");
      lbound = static_cast<LONG>(bits);
    }
    return DecodeArray(vt, *value, lbound, out, error, depth);
  }
  if (vt == VT_EMPTY || vt == VT_NULL) {
    out->vt = vt;
    return true;
  }
  if (value == j.end()) return Fail(error, "value without \"v\"");
  if (!DecodeScalar(vt, *value, &out->llVal, error)) return false;
  out->vt = vt;
  return true;
}

bool ParseObject(const char* data, size_t length, json* out, std::string* error) {
  if (!JsonDepthWithin(data, length, kWireJsonDepth))
    return Fail(error, "nesting deeper than " + std::to_string(kWireJsonDepth) + " levels");
  *out = json::parse(data, data + length, nullptr, false);
  if (out->is_discarded()) return Fail(error, "not JSON");
  if (!out->is_object()) return Fail(error, "not a JSON object");
  return true;
}

}  // namespace

bool JsonDepthWithin(const char* data, size_t length, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < length; ++i) {
    const char c = data[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

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

bool EncodeVariant(const VARIANT& value, json* out, std::string* error) {
  return Encode(value, out, error, 0);
}

bool DecodeVariant(const json& in, VARIANT* out, std::string* error) {
  VariantClear(out);
  if (Decode(in, out, error, 0)) return true;
  VariantClear(out);
  return false;
}

namespace {

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

// The envelopes are written around the dumped value rather than built as
// documents, which would copy it; keys stay in the documents' (sorted) order.
std::string EncodeRequest(const std::wstring& method, const json& in) {
  return "{\"in\":" + Dump(in) + ",\"method\":" + Dump(json(tev::ToStdUtf8(method))) + "}";
}

bool DecodeRequest(const char* data, size_t length, WireRequest* request, std::string* error) {
  json j;
  if (!ParseObject(data, length, &j, error)) return false;
  auto method = j.find("method");
  if (method == j.end() || !method->is_string()) return Fail(error, "request without a method");
  request->method = tev::FromStdUtf8(method->get<std::string>());
  auto in = j.find("in");
  request->in = in == j.end() ? json{{"vt", "EMPTY"}} : std::move(*in);
  return true;
}

std::string EncodeReply(int ret, const json& out) {
  return "{\"out\":" + Dump(out) + ",\"ret\":" + std::to_string(ret) + "}";
}

bool DecodeReply(const char* data, size_t length, WireReply* reply, std::string* error) {
  json j;
  if (!ParseObject(data, length, &j, error)) return false;
  auto ret = j.find("ret");
  uint64_t bits = 0;
  if (ret == j.end() || !DecodeInteger(*ret, INT32_MIN, INT32_MAX, &bits))
    return Fail(error, "reply without a 32-bit \"ret\"");
  reply->ret = static_cast<int>(static_cast<int32_t>(bits));
  auto out = j.find("out");
  reply->out = out == j.end() ? json{{"vt", "EMPTY"}} : std::move(*out);
  return true;
}

}  // namespace vel

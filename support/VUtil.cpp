#include "support/VUtil.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "support/Text.h"

namespace VUtil {

namespace {

constexpr VARTYPE kVariantArray = VT_ARRAY | VT_VARIANT;

// printf-style wide formatting; arguments that are wide strings use %ls.
std::wstring Format(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= (1u << 24)) return std::wstring(format);  // give up, never loop forever
    buffer.resize(buffer.size() * 4);
  }
}

[[noreturn]] void Fail(const std::wstring& message) { throw VelInvalidParameterException(message); }

// "<name>: " when a name is given.
std::wstring Prefix(const wchar_t* name) {
  return name == nullptr ? std::wstring() : Format(L"%ls: ", name);
}

std::wstring FromBstr(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

bool IsArray(const VARIANT& v) { return (v.vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY; }

// SAFEARRAY indices are 32-bit; an index beyond that range is simply out of range.
bool ToIndex(long index, LONG* out) {
  if (index < INT32_MIN || index > INT32_MAX) return false;
  *out = static_cast<LONG>(index);
  return true;
}

HRESULT ReadCell(const VARIANT& array, long index, void* out) {
  LONG i = 0;
  if (!ToIndex(index, &i)) return DISP_E_BADINDEX;
  return SafeArrayGetElement(array.parray, &i, out);
}

// Reads a raw element of an array whose type the caller has checked.
template <typename T>
T ReadRaw(const VARIANT& array, long index, const wchar_t* failMessage) {
  T value{};
  if (FAILED(ReadCell(array, index, &value))) Fail(failMessage);
  return value;
}

// Reads element `index` of a VT_VARIANT array, whose type the caller has checked.
void ReadVariant(const VARIANT& array, long index, VARIANT* out, const wchar_t* failMessage) {
  VariantClear(out);
  if (FAILED(ReadCell(array, index, out))) Fail(failMessage);
}

std::wstring ReadBstr(const VARIANT& array, long index, const wchar_t* failMessage) {
  BSTR text = nullptr;
  if (FAILED(ReadCell(array, index, &text))) Fail(failMessage);
  std::wstring result = FromBstr(text);
  SysFreeString(text);
  return result;
}

void WriteCell(VARIANT* array, long index, const void* value) {
  LONG i = 0;
  if (array == nullptr || !IsArray(*array) || !ToIndex(index, &i) ||
      FAILED(SafeArrayPutElement(array->parray, &i, value))) {
    Fail(L"SafeArrayPutElement failed");
  }
}

// Stores a scalar of type `vt` either raw into an array of that type or
// wrapped into a VARIANT array.
void PutScalar(VARIANT* array, long index, VARTYPE vt, const VARIANT& wrapped,
               const wchar_t* typeMessage) {
  if (array == nullptr) Fail(L"SafeArrayPutElement failed");
  if (array->vt == kVariantArray) {
    WriteCell(array, index, &wrapped);
  } else if (array->vt == (VT_ARRAY | vt)) {
    if (vt == VT_BSTR) {
      WriteCell(array, index, wrapped.bstrVal);
    } else {
      WriteCell(array, index, &wrapped.llVal);  // union members share their address
    }
  } else {
    Fail(typeMessage);
  }
}

// The element `index` of a one-dimensional 0x200C array, in place; null
// when the array is not one or the index lies outside it.
const VARIANT* BorrowVariant(const VARIANT& array, long index) {
  SAFEARRAY* psa = array.parray;
  LONG i = 0, lower = 0, upper = -1;
  if (array.vt != kVariantArray || psa == nullptr || !ToIndex(index, &i) ||
      SafeArrayGetDim(psa) != 1 || FAILED(SafeArrayGetLBound(psa, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(psa, 1, &upper)) || i < lower || i > upper) {
    return nullptr;
  }
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) return nullptr;
  SafeArrayUnaccessData(psa);
  return static_cast<const VARIANT*>(data) + (static_cast<int64_t>(i) - lower);
}

// Reads a VARIANT element of a 0x200C array for the typed readers, which
// only look at it: in place when the array allows it, else through a copy
// (array and element messages are the reader's own).
class ElementReader {
 public:
  ElementReader() { VariantInit(&v_); }
  ~ElementReader() { VariantClear(&v_); }
  ElementReader(const ElementReader&) = delete;
  ElementReader& operator=(const ElementReader&) = delete;
  const VARIANT& Read(const VARIANT& array, long index,
                      const wchar_t* failMessage = L"SafeArrayGetElement failed in VUtil::GetElement") {
    if (const VARIANT* element = BorrowVariant(array, index)) return *element;
    ReadVariant(array, index, &v_, failMessage);
    return v_;
  }

 private:
  VARIANT v_;
};

// Finds the first non-empty element of `pairs` whose name matches and copies
// its value into *value.
bool FindPairValue(const VARIANT& pairs, const std::wstring& name, bool noCase, VARIANT* value) {
  if (pairs.vt != kVariantArray) Fail(L"Variant passed to VUtil::FindPair is not an array");
  const std::wstring wanted = noCase ? tev::Lower(name) : name;
  const long length = GetArrayLength(pairs);
  for (long i = 0; i < length; ++i) {
    ElementReader element;
    const VARIANT& pair = element.Read(pairs, i);
    if (pair.vt == VT_EMPTY) continue;
    std::wstring key = GetStringElement(pair, 0);
    if (noCase) key = tev::Lower(key);
    if (key == wanted) {
      GetElement(pair, 1, value);
      return true;
    }
  }
  return false;
}

std::wstring StringValue(const VARIANT& v) {
  if (v.vt == VT_BSTR) return FromBstr(v.bstrVal);
  if (v.vt == VT_EMPTY) return std::wstring();
  Fail(L"Element is not a string");
}

}  // namespace

// --- Dates -----------------------------------------------------------------

int64_t DateToSeconds(DATE date) {
  // Keeps the arithmetic defined for NaN and absurd magnitudes.
  constexpr double kLimitDays = 1e10;
  if (std::isnan(date)) return 0;
  if (date > kLimitDays) date = kLimitDays;
  if (date < -kLimitDays) date = -kLimitDays;
  const double days = std::trunc(date);
  return (static_cast<int64_t>(days) - 25569) * 86400 +
         static_cast<int64_t>(std::trunc(86400.0 * (date - days) + 0.5));
}

DATE SecondsToDate(int64_t seconds) {
  const int64_t days = seconds / 86400;
  return static_cast<double>(days + 25569) + static_cast<double>(seconds - days * 86400) / 86400.0;
}

// --- Readers ---------------------------------------------------------------

void GetElement(const VARIANT& array, long index, VARIANT* out) {
  if (array.vt != kVariantArray) Fail(L"Variant passed to VUtil::GetElement is not a variant array");
  if (out == nullptr) Fail(L"SafeArrayGetElement failed in VUtil::GetElement");
  ReadVariant(array, index, out, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, std::wstring* out) {
  if (array.vt != (VT_ARRAY | VT_BSTR)) Fail(L"Variant passed to VUtil::GetElement is not a string array");
  *out = ReadBstr(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, long* out) {
  if (array.vt != (VT_ARRAY | VT_I4)) Fail(L"Variant passed to VUtil::GetElement is not a long array");
  *out = ReadRaw<int32_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, int* out) {
  if (array.vt != (VT_ARRAY | VT_I4)) Fail(L"Variant passed to VUtil::GetElement is not an int array");
  *out = ReadRaw<int32_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, double* out) {
  if (array.vt != (VT_ARRAY | VT_R8)) Fail(L"Variant passed to VUtil::GetElement is not a double array");
  *out = ReadRaw<double>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, float* out) {
  if (array.vt != (VT_ARRAY | VT_R4)) Fail(L"Variant passed to VUtil::GetElement is not a float array");
  *out = ReadRaw<float>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, unsigned long* out) {
  if (array.vt != (VT_ARRAY | VT_UI4)) {
    Fail(L"Variant passed to VUtil::GetElement is not a unsigned long array");
  }
  *out = ReadRaw<uint32_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, short* out) {
  // VARIANT_BOOL is a short: this one form serves VT_I2 and VT_BOOL arrays.
  if (array.vt != (VT_ARRAY | VT_I2) && array.vt != (VT_ARRAY | VT_BOOL)) {
    Fail(L"Variant passed to VUtil::GetElement is not a short array");
  }
  *out = ReadRaw<int16_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

void GetElement(const VARIANT& array, long index, bool* out) {
  if (array.vt != (VT_ARRAY | VT_BOOL)) Fail(L"Variant passed to VUtil::GetElement is not a short array");
  *out = ReadRaw<VARIANT_BOOL>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement") != 0;
}

void GetElement(const VARIANT& array, long index, unsigned short* out) {
  if (array.vt != (VT_ARRAY | VT_UI2)) {
    Fail(L"Variant passed to VUtil::GetElement is not a unsigned short array");
  }
  *out = ReadRaw<uint16_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
}

std::wstring GetStringElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_BSTR)) {
    std::wstring text;
    GetElement(array, index, &text);
    return text;
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or string");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  return StringValue(v);
}

namespace {

int32_t ReadI4(const VARIANT& array, long index, bool emptyIsZero, const wchar_t* arrayMessage,
               const wchar_t* elementMessage) {
  if (array.vt == (VT_ARRAY | VT_I4)) {
    return ReadRaw<int32_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
  }
  if (array.vt != kVariantArray) Fail(arrayMessage);
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt == VT_I4) return v.lVal;
  if (emptyIsZero && v.vt == VT_EMPTY) return 0;
  Fail(elementMessage);
}

}  // namespace

int32_t GetLongElement(const VARIANT& array, long index) {
  return ReadI4(array, index, false, L"Not an array of variant or long", L"Element is not a long");
}

std::wstring GetScalarString(const VARIANT& value) {
  if (value.vt != VT_BSTR) Fail(L"Not a string");
  return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : std::wstring();
}

int32_t GetScalarLong(const VARIANT& value) {
  if (value.vt != VT_I4) Fail(L"Not a long");
  return value.lVal;
}

int32_t GetIntElement(const VARIANT& array, long index) {
  return ReadI4(array, index, false, L"Not an array of variant or int", L"Element is not an int");
}

int32_t GetLongOrEmptyElement(const VARIANT& array, long index) {
  return ReadI4(array, index, true, L"Not an array of variant or long", L"Element is not a long");
}

bool GetBoolElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_BOOL)) {
    return ReadRaw<VARIANT_BOOL>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement") != 0;
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or bool");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != VT_BOOL) Fail(L"Element is not a bool");
  return v.boolVal != 0;
}

bool GetBoolLikeElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_BOOL)) {
    return ReadRaw<VARIANT_BOOL>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement") != 0;
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or bool");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return false;
    case VT_I2: return v.iVal != 0;
    case VT_I4: return v.lVal != 0;
    case VT_BOOL: return v.boolVal != 0;
    case VT_UI2: return v.uiVal != 0;
    case VT_UI4: return v.ulVal != 0;
    default: Fail(L"Element is not a bool");
  }
}

int64_t GetDateElement(const VARIANT& array, long index) {
  static const wchar_t kFailed[] = L"SafeArrayGetElement failed in VUtil::GetDateElement";
  if (array.vt == (VT_ARRAY | VT_DATE)) return DateToSeconds(ReadRaw<DATE>(array, index, kFailed));
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or date");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index, kFailed);
  if (v.vt != VT_DATE) Fail(L"Element is not a date");
  return DateToSeconds(v.date);
}

int16_t GetShortElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_I2)) {
    return ReadRaw<int16_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or short");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != VT_I2) Fail(L"Element is not a short");
  return v.iVal;
}

uint16_t GetUShortElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_UI2)) {
    return ReadRaw<uint16_t>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or unsigned short");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != VT_UI2) Fail(L"Element is not an unsigned short");
  return v.uiVal;
}

double GetDoubleElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_R8)) {
    return ReadRaw<double>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant or double");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != VT_R8) Fail(L"Element is not a double");
  return v.dblVal;
}

float GetFloatElement(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_R4)) {
    return ReadRaw<float>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement");
  }
  if (array.vt == (VT_ARRAY | VT_R8)) {
    return static_cast<float>(ReadRaw<double>(array, index, L"SafeArrayGetElement failed in VUtil::GetElement"));
  }
  if (array.vt != kVariantArray) Fail(L"Not an array of variant, float or double");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt == VT_R4) return v.fltVal;
  if (v.vt == VT_R8) return static_cast<float>(v.dblVal);
  Fail(L"Element is not a float or a double");
}

namespace {

// Copies the bytes of a one-byte-element array (any lower bound).
std::vector<unsigned char> ArrayBytes(const VARIANT& v) {
  std::vector<unsigned char> bytes;
  SAFEARRAY* psa = v.parray;
  if (psa == nullptr || psa->cDims != 1 || psa->cbElements != 1) return bytes;
  const size_t n = psa->rgsabound[0].cElements;
  if (n > 0 && psa->pvData != nullptr) {
    const unsigned char* data = static_cast<const unsigned char*>(psa->pvData);
    bytes.assign(data, data + n);
  }
  return bytes;
}

}  // namespace

unsigned char* GetByteArrayElement(const VARIANT& array, long index, long* length) {
  if (array.vt != kVariantArray) Fail(Format(L"Not an array of variant: %d", array.vt));
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != (VT_ARRAY | VT_UI1)) Fail(Format(L"Element is not an array of unsigned char: %d", v.vt));
  const std::vector<unsigned char> bytes = ArrayBytes(v);
  unsigned char* copy = new (std::nothrow) unsigned char[bytes.empty() ? 1 : bytes.size()];
  if (copy == nullptr) Fail(L"Could not allocate data buffer");
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  if (length != nullptr) *length = static_cast<long>(bytes.size());
  return copy;
}

void GetByteArrayElement(const VARIANT& array, long index, std::vector<unsigned char>* out) {
  if (array.vt != kVariantArray) Fail(L"Not an array of variant");
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != (VT_ARRAY | VT_UI1)) Fail(L"Element is not an unsigned char array");
  *out = ArrayBytes(v);
}

void GetCharArrayElement(const VARIANT& array, long index, std::vector<unsigned char>* out) {
  if (array.vt != kVariantArray) Fail(Format(L"Not an array of variant: %d", array.vt));
  ElementReader reader;
  const VARIANT& v = reader.Read(array, index);
  if (v.vt != (VT_ARRAY | VT_UI1) && v.vt != (VT_ARRAY | VT_I1)) {
    Fail(Format(L"Element is not an array of (unsigned) char: %d", v.vt));
  }
  *out = ArrayBytes(v);
}

void GetPair(const VARIANT& pairs, long index, std::wstring* name, std::wstring* value) {
  if (pairs.vt != kVariantArray) Fail(L"Variant passed to VUtil::GetPair is not an array");
  ElementReader reader;
  const VARIANT& pair = reader.Read(pairs, index, L"SafeArrayGetElement failed in VUtil::GetPair");
  *name = GetStringElement(pair, 0);
  *value = GetStringElement(pair, 1);
}

bool FindPair(const VARIANT& pairs, const std::wstring& name, std::wstring* value) {
  AutoVariant found;
  if (!FindPairValue(pairs, name, false, &found)) return false;
  *value = StringValue(found.get());
  return true;
}

bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, std::wstring* value) {
  AutoVariant found;
  if (!FindPairValue(pairs, name, true, &found)) return false;
  *value = StringValue(found.get());
  return true;
}

bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, int32_t* value) {
  AutoVariant found;
  if (!FindPairValue(pairs, name, true, &found)) return false;
  const VARIANT& v = found.get();
  if (v.vt == VT_I4) {
    *value = v.lVal;
  } else if (v.vt == VT_BSTR) {
    // Decimal text as _wtoi reads it: leading digits, 0 when there are none.
    const std::wstring text = FromBstr(v.bstrVal);
    errno = 0;
    long long n = std::wcstoll(text.c_str(), nullptr, 10);
    if (n > INT32_MAX) n = INT32_MAX;
    if (n < INT32_MIN) n = INT32_MIN;
    *value = static_cast<int32_t>(n);
  } else {
    Fail(L"the value in the pair is neither a string nor an int");
  }
  return true;
}

bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, VARIANT* value) {
  return FindPairValue(pairs, name, true, value);
}

namespace {

long ArrayLength(const VARIANT& array) {
  LONG lower = 0, upper = 0;
  if (FAILED(SafeArrayGetLBound(array.parray, 1, &lower))) {
    Fail(L"SafeArrayGetLBound failed in VUtil::GetArrayLength");
  }
  if (lower != 0) Fail(L"Array is not zero indexed! (VUtil::GetArrayLength)");
  if (FAILED(SafeArrayGetUBound(array.parray, 1, &upper))) {
    Fail(L"SafeArrayGetLBound failed in VUtil::GetArrayLength");
  }
  return static_cast<long>(upper) + 1;
}

}  // namespace

long GetArrayLength(const VARIANT& array) {
  if (!IsArray(array)) Fail(L"Variant passed to VUtil::GetArrayLength is not an array");
  return ArrayLength(array);
}

long GetArrayLengthEmpty(const VARIANT& array) {
  if (array.vt == VT_EMPTY) return 0;
  if (!IsArray(array)) Fail(L"Variant passed to VUtil::GetArrayLengthEmpty is not an array");
  return ArrayLength(array);
}

std::wstring GetSingleOutParamString(const VARIANT& out) {
  static const wchar_t kFailed[] = L"SafeArrayGetElement failed in VUtil::GetSingleOutParamString";
  static const wchar_t kNotBstr[] = L"outParam is not a BSTR in VUtil::GetSingleOutParamString";
  if (!IsArray(out)) Fail(kFailed);
  if (out.vt == (VT_ARRAY | VT_BSTR)) return ReadBstr(out, 0, kFailed);
  if (out.vt != kVariantArray) Fail(kNotBstr);
  ElementReader reader;
  const VARIANT& v = reader.Read(out, 0, kFailed);
  if (v.vt != VT_BSTR) Fail(kNotBstr);
  return FromBstr(v.bstrVal);
}

// --- Writers ---------------------------------------------------------------

void CreateArray(VARIANT* out, VARTYPE elementType, long count) {
  if (out == nullptr || count < 0 || count > static_cast<long>(UINT32_MAX)) {
    Fail(L"Could not create safe array");
  }
  SAFEARRAY* psa = SafeArrayCreateVector(elementType, 0, static_cast<ULONG>(count));
  if (psa == nullptr) Fail(L"Could not create safe array");
  VariantClear(out);
  out->vt = static_cast<VARTYPE>(elementType | VT_ARRAY);
  out->parray = psa;
}

void ResizeArray(VARIANT* array, long count) {
  if (array == nullptr || !IsArray(*array) || array->parray == nullptr || count < 0 ||
      count > static_cast<long>(UINT32_MAX)) {
    Fail(L"Could not redimension safe array");
  }
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(count);
  bound.lLbound = array->parray->rgsabound[0].lLbound;
  if (FAILED(SafeArrayRedim(array->parray, &bound))) Fail(L"Could not redimension safe array");
}

const VARIANT* BorrowElement(const VARIANT& array, long index) {
  return BorrowVariant(array, index);
}

const VARIANT& ElementInPlace(const VARIANT& array, long index, VARIANT* copy) {
  if (const VARIANT* borrowed = BorrowElement(array, index)) return *borrowed;
  GetElement(array, index, copy);
  return *copy;
}

void MoveElement(VARIANT* array, long index, VARIANT* value) {
  if (array == nullptr || value == nullptr) Fail(L"SafeArrayPutElement failed");
  VARIANT* slot = const_cast<VARIANT*>(BorrowVariant(*array, index));
  if (slot == nullptr) {
    PutElement(array, index, *value);
    VariantClear(value);
    return;
  }
  VariantClear(slot);
  *slot = *value;  // the value's buffers now belong to the array
  VariantInit(value);
}

void PutElement(VARIANT* array, long index, const VARIANT& value) {
  if (array != nullptr && array->vt != kVariantArray && IsArray(*array) &&
      (value.vt & (VT_ARRAY | VT_BYREF)) == 0 && array->vt == (VT_ARRAY | value.vt)) {
    // A typed array takes the VARIANT's value when the types agree.
    PutScalar(array, index, value.vt, value, L"PutElement failed: not an array of VARIANT");
    return;
  }
  if (array == nullptr || array->vt != kVariantArray) Fail(L"PutElement failed: not an array of VARIANT");
  WriteCell(array, index, &value);
}

void PutElement(VARIANT* array, long index, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  PutScalar(array, index, VT_BOOL, v, L"PutElement failed: not an array of BOOL nor VARIANT");
}

void PutElement(VARIANT* array, long index, const std::wstring& value) {
  AutoVariant v;
  v.get().vt = VT_BSTR;
  v.get().bstrVal = SysAllocStringLen(value.data(), static_cast<uint32_t>(value.size()));
  if (v.get().bstrVal == nullptr) Fail(L"SafeArrayPutElement failed");
  PutScalar(array, index, VT_BSTR, v.get(), L"PutElement failed: not an array of BSTR nor VARIANT");
}

void PutElement(VARIANT* array, long index, const wchar_t* value) {
  PutElement(array, index, std::wstring(value == nullptr ? L"" : value));
}

void PutElement(VARIANT* array, long index, short value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = value;
  PutScalar(array, index, VT_I2, v, L"PutElement failed: not an array of I2 nor VARIANT");
}

void PutElement(VARIANT* array, long index, unsigned short value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI2;
  v.uiVal = value;
  PutScalar(array, index, VT_UI2, v, L"PutElement failed: not an array of UI2 nor VARIANT");
}

void PutElement(VARIANT* array, long index, int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  PutScalar(array, index, VT_I4, v, L"PutElement failed: not an array of I4 nor VARIANT");
}

void PutElement(VARIANT* array, long index, uint32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = value;
  PutScalar(array, index, VT_UI4, v, L"PutElement failed: not an array of UI4 nor VARIANT");
}

void PutElement(VARIANT* array, long index, long value) {
  PutElement(array, index, static_cast<int32_t>(value));
}

void PutElement(VARIANT* array, long index, unsigned long value) {
  PutElement(array, index, static_cast<uint32_t>(value));
}

void PutElement(VARIANT* array, long index, double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  PutScalar(array, index, VT_R8, v, L"PutElement failed: not an array of R8 nor VARIANT");
}

void PutElement(VARIANT* array, long index, float value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = value;
  PutScalar(array, index, VT_R4, v, L"PutElement failed: not an array of R4 nor VARIANT");
}

void PutDateElement(VARIANT* array, long index, int64_t secondsSince1970) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DATE;
  v.date = SecondsToDate(secondsSince1970);
  PutScalar(array, index, VT_DATE, v, L"PutElement failed: not an array of DATE nor VARIANT");
}

void PutElement(VARIANT* array, long index, unsigned char value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI1;
  v.bVal = value;
  PutScalar(array, index, VT_UI1, v, L"PutElement failed: not an array of UI1 nor VARIANT");
}

namespace {

// Stores the pair [name, *value] at `index`, taking *value over (it is left
// empty): the pair is built in place and moved into its slot, where copying
// it cell by cell cost several allocations a pair.
void PutOwnedPair(VARIANT* pairs, long index, const std::wstring& name, VARIANT* value) {
  AutoVariant owned;
  owned.get() = *value;
  VariantInit(value);
  if (pairs == nullptr || pairs->vt != kVariantArray) {
    Fail(L"PutPair: the given variant is not an array of variants");
  }
  VARIANT* slot = const_cast<VARIANT*>(BorrowVariant(*pairs, index));
  if (slot == nullptr) Fail(L"PutPair failed");
  AutoVariant pair;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (psa == nullptr) Fail(L"Could not create safe array in PutPair");
  pair.get().vt = kVariantArray;
  pair.get().parray = psa;
  VARIANT* cells = static_cast<VARIANT*>(psa->pvData);
  cells[0].vt = VT_BSTR;
  cells[0].bstrVal = SysAllocStringLen(name.data(), static_cast<uint32_t>(name.size()));
  if (cells[0].bstrVal == nullptr) Fail(L"PutPair failed");
  cells[1] = owned.get();
  VariantInit(&owned.get());
  VariantClear(slot);
  *slot = pair.get();
  VariantInit(&pair.get());
}

}  // namespace

void PutPair(VARIANT* pairs, long index, const std::wstring& name, const VARIANT& value) {
  AutoVariant copy;
  if (FAILED(VariantCopy(&copy.get(), &value))) Fail(L"PutPair failed");
  PutOwnedPair(pairs, index, name, &copy.get());
}

void PutPair(VARIANT* pairs, long index, const std::wstring& name, const std::wstring& value) {
  AutoVariant v;
  v.get().vt = VT_BSTR;
  v.get().bstrVal = SysAllocStringLen(value.data(), static_cast<uint32_t>(value.size()));
  if (v.get().bstrVal == nullptr) Fail(L"PutPair failed");
  PutOwnedPair(pairs, index, name, &v.get());
}

void PutPair(VARIANT* pairs, long index, const std::wstring& name, int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  PutOwnedPair(pairs, index, name, &v);
}

void PutBinaryIntoVariant(VARIANT* out, const unsigned char* bytes, long length) {
  if (out == nullptr || length < 0 || length > static_cast<long>(UINT32_MAX) ||
      (bytes == nullptr && length > 0)) {
    Fail(L"PutBinaryIntoVariant: could not create safe array");
  }
  VariantClear(out);
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length));
  if (psa == nullptr) Fail(L"PutBinaryIntoVariant: could not create safe array");
  if (length > 0) std::memcpy(psa->pvData, bytes, static_cast<size_t>(length));
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = psa;
}

// --- Checks ----------------------------------------------------------------

void CheckSingleRetcode(const VARIANT& retcodes, const wchar_t* name) {
  long code = -1;
  if (IsArray(retcodes)) {
    try {
      code = GetLongElement(retcodes, 0);
    } catch (const VelException& e) {
      Fail(Prefix(name) + Format(L"safeArrayGetElement failed in VUtil::CheckSingleRetcode : '%ls'",
                                 e.getMessage().c_str()));
    }
  } else if (retcodes.vt == VT_I4) {
    code = retcodes.lVal;
  }
  if (code != 0) {
    // The hexadecimal form is that of the 32-bit code: -1 shows as ffffffff.
    Fail(Prefix(name) + Format(L"Vel error detected in VUtil::CheckSingleRetcode : hr = %ld - 0x%lx",
                               code, static_cast<unsigned long>(static_cast<uint32_t>(code))));
  }
}

long GetSingleRetcode(const VARIANT& retcodes) {
  if (IsArray(retcodes)) {
    try {
      return GetLongElement(retcodes, 0);
    } catch (const VelException& e) {
      Fail(Format(L"safeArrayGetElement failed in VUtil::GetSingleRetcode : '%ls'", e.getMessage().c_str()));
    }
  }
  if (retcodes.vt == VT_I4) return retcodes.lVal;
  Fail(L"VUtil::GetSingleRetcode wrong type");
}

void checkType(const VARIANT& v, VARTYPE type, const wchar_t* name) {
  if (v.vt != type) {
    Fail(Prefix(name) + Format(L"checkType failed, got %d, expected %d", v.vt, type));
  }
}

void checkArrayType(const VARIANT& v, VARTYPE elementType, long length, bool atLeast,
                    const wchar_t* name) {
  const int expected = elementType | VT_ARRAY;
  if (v.vt != expected) {
    Fail(Prefix(name) + Format(L"checkArrayType failed, got %d, expected %d", v.vt, expected));
  }
  const long n = GetArrayLength(v);
  if (n < length || (!atLeast && n > length)) {
    Fail(Prefix(name) + Format(L"checkArrayType failed, got length %d, expect %d%ls",
                               static_cast<int>(n), static_cast<int>(length), atLeast ? L"+" : L""));
  }
}

// --- Dump ------------------------------------------------------------------

namespace {

std::wstring DateText(DATE date) {
  const int64_t seconds = DateToSeconds(date);
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days since 1970 (H. Hinnant's algorithm).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  return Format(L"%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
}

const wchar_t* ArrayTypeName(VARTYPE elementType) {
  switch (elementType) {
    case VT_I1: return L"VT_I1";
    case VT_UI1: return L"VT_UI1";
    case VT_I2: return L"VT_I2";
    case VT_UI2: return L"VT_UI2";
    case VT_I4: return L"VT_I4";
    case VT_UI4: return L"VT_UI4";
    case VT_R4: return L"VT_R4";
    case VT_R8: return L"VT_R8";
    case VT_BSTR: return L"VT_BSTR";
    case VT_VARIANT: return L"VT_VARIANT";
    default: return nullptr;
  }
}

void DumpArray(const VARIANT& v, int level, const std::wstring& indent, std::wstring* out) {
  const VARTYPE elementType = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
  const wchar_t* typeName = ArrayTypeName(elementType);
  if (typeName == nullptr) {
    *out += Format(L"%ls<var vt=\"%d (unknown)\" />\r\n", indent.c_str(), v.vt);
    return;
  }
  const long count = GetArrayLength(v);
  if (elementType == VT_I1 || elementType == VT_UI1 || elementType == VT_R4 || elementType == VT_R8) {
    *out += Format(L"%ls<var vt=\"VT_ARRAY|%ls\" count=\"%d\" />\r\n", indent.c_str(), typeName,
                   static_cast<int>(count));
    return;
  }
  *out += Format(L"%ls<var vt=\"VT_ARRAY|%ls\" count=\"%d\">\r\n", indent.c_str(), typeName,
                 static_cast<int>(count));
  for (long i = 0; i < count; ++i) {
    switch (elementType) {
      case VT_I2: {
        short value = 0;
        GetElement(v, i, &value);
        *out += Format(L"%ls<var vt=\"VT_I2\">%d</var>\r\n", indent.c_str(), static_cast<int>(value));
        break;
      }
      case VT_UI2: {
        unsigned short value = 0;
        GetElement(v, i, &value);
        *out += Format(L"%ls<var vt=\"VT_UI2\">%d</var>\r\n", indent.c_str(), static_cast<int>(value));
        break;
      }
      case VT_I4: {
        long value = 0;
        GetElement(v, i, &value);
        *out += Format(L"%ls<var vt=\"VT_I4\">%d</var>\r\n", indent.c_str(), static_cast<int>(value));
        break;
      }
      case VT_UI4: {
        unsigned long value = 0;
        GetElement(v, i, &value);
        *out += Format(L"%ls<var vt=\"VT_UI4\">%d</var>\r\n", indent.c_str(),
                       static_cast<int>(static_cast<uint32_t>(value)));
        break;
      }
      case VT_BSTR: {
        std::wstring value;
        GetElement(v, i, &value);
        *out += Format(L"%ls<var vt=\"VT_BSTR\">%ls</var>\r\n", indent.c_str(), value.c_str());
        break;
      }
      default: {  // VT_VARIANT
        AutoVariant element;
        GetElement(v, i, &element);
        *out += DumpValue(element.get(), level + 1);
        break;
      }
    }
  }
  *out += Format(L"%ls</var>\r\n", indent.c_str());
}

}  // namespace

// One value and, for arrays, its elements; reading errors end the value with
// an <Error> line.
std::wstring DumpValue(const VARIANT& v, int level) {
  const std::wstring indent(static_cast<size_t>(level < 0 ? 0 : level) * 2, L' ');
  const wchar_t* in = indent.c_str();
  std::wstring out;
  try {
    if (IsArray(v)) {
      DumpArray(v, level, indent, &out);
      return out;
    }
    switch (v.vt) {
      case VT_EMPTY: out += Format(L"%ls<var vt=\"VT_EMPTY\" />\r\n", in); break;
      case VT_NULL: out += Format(L"%ls<var vt=\"VT_NULL\" />\r\n", in); break;
      case VT_I1: out += Format(L"%ls<var vt=\"VT_I1\">%hd</var>\r\n", in, static_cast<short>(v.cVal)); break;
      case VT_I2: out += Format(L"%ls<var vt=\"VT_I2\">%hd</var>\r\n", in, v.iVal); break;
      case VT_UI1:
        out += Format(L"%ls<var vt=\"VT_UI1\">%hu</var>\r\n", in, static_cast<unsigned short>(v.bVal));
        break;
      case VT_UI2: out += Format(L"%ls<var vt=\"VT_UI2\">%hu</var>\r\n", in, v.uiVal); break;
      case VT_I4: out += Format(L"%ls<var vt=\"VT_I4\">%d</var>\r\n", in, v.lVal); break;
      case VT_UI4:
        out += Format(L"%ls<var vt=\"VT_UI4\">%lu</var>\r\n", in, static_cast<unsigned long>(v.ulVal));
        break;
      case VT_R4: out += Format(L"%ls<var vt=\"VT_R4\">%f</var>\r\n", in, static_cast<double>(v.fltVal)); break;
      case VT_R8: out += Format(L"%ls<var vt=\"VT_R8\">%f</var>\r\n", in, v.dblVal); break;
      case VT_DATE:
        out += Format(L"%ls<var vt=\"VT_DATE\">%ls</var>\r\n", in, DateText(v.date).c_str());
        break;
      case VT_BSTR:
        out += Format(L"%ls<var vt=\"VT_BSTR\">%ls</var>\r\n", in, FromBstr(v.bstrVal).c_str());
        break;
      case VT_BOOL:
        out += Format(L"%ls<var vt=\"VT_BOOL\">%ls</var>\r\n", in, v.boolVal != 0 ? L"TRUE" : L"FALSE");
        break;
      default: out += Format(L"%ls<var vt=\"%d (unknown)\" />\r\n", in, v.vt); break;
    }
  } catch (const VelException& e) {
    out += Format(L"%ls<Error>%ls</Error>\r\n", in, e.getMessage().c_str());
  }
  return out;
}

std::wstring DumpVariant(const VARIANT& v, const std::wstring& title) {
  return L"Dumping " + title + L": " + DumpValue(v, 1);
}

}  // namespace VUtil

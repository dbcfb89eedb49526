// Reading and writing the VARIANT parameter lists of bus requests: parameter
// arrays by zero-based index, name/value pair arrays, the return code of a
// request, OLE date conversion and a text dump for the log. Every failure
// throws VelInvalidParameterException with a fixed message.
#ifndef TEV_SUPPORT_VUTIL_H_
#define TEV_SUPPORT_VUTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "support/VelException.h"

namespace VUtil {

// OLE date <-> seconds since 1970 (UTC). DateToSeconds truncates the day
// and rounds the time of day to the nearest second; NaN gives 0 and
// magnitudes beyond 1e10 days are clamped there.
int64_t DateToSeconds(DATE date);
DATE SecondsToDate(int64_t seconds);

// --- Readers ---------------------------------------------------------------
// VARIANT form: the array must be VT_ARRAY|VT_VARIANT; *out is cleared first.
void GetElement(const VARIANT& array, long index, VARIANT* out);
// The element of a one-dimensional VT_VARIANT array in place, without a
// copy: valid while the array is neither changed nor freed. Null when the
// array is not such an array or the index is out of range.
const VARIANT* BorrowElement(const VARIANT& array, long index);
// The element in place when BorrowElement can give it, else copied into
// *copy (GetElement's rules and exceptions); valid as long as both are.
const VARIANT& ElementInPlace(const VARIANT& array, long index, VARIANT* copy);
// Typed forms: the array must be of exactly that element type.
void GetElement(const VARIANT& array, long index, std::wstring* out);     // VT_BSTR
void GetElement(const VARIANT& array, long index, long* out);             // VT_I4
void GetElement(const VARIANT& array, long index, int* out);              // VT_I4
void GetElement(const VARIANT& array, long index, double* out);           // VT_R8
void GetElement(const VARIANT& array, long index, float* out);            // VT_R4
void GetElement(const VARIANT& array, long index, unsigned long* out);    // VT_UI4
// VARIANT_BOOL is short, so this one form reads VT_I2 and VT_BOOL arrays.
void GetElement(const VARIANT& array, long index, short* out);            // VT_I2
void GetElement(const VARIANT& array, long index, VARIANT_BOOL* out);     // VT_BOOL
void GetElement(const VARIANT& array, long index, bool* out);             // VT_BOOL
void GetElement(const VARIANT& array, long index, unsigned short* out);   // VT_UI2

std::wstring GetStringElement(const VARIANT& array, long index);
int32_t GetLongElement(const VARIANT& array, long index);
int32_t GetIntElement(const VARIANT& array, long index);
int32_t GetLongOrEmptyElement(const VARIANT& array, long index);
bool GetBoolElement(const VARIANT& array, long index);
bool GetBoolLikeElement(const VARIANT& array, long index);
int64_t GetDateElement(const VARIANT& array, long index);
int16_t GetShortElement(const VARIANT& array, long index);
uint16_t GetUShortElement(const VARIANT& array, long index);
double GetDoubleElement(const VARIANT& array, long index);
float GetFloatElement(const VARIANT& array, long index);
// A request that is one scalar rather than an array: its VT_BSTR text (a
// null BSTR reads empty) or its VT_I4 value; any other type throws.
std::wstring GetScalarString(const VARIANT& value);
int32_t GetScalarLong(const VARIANT& value);
// Element `index` of a VT_VARIANT array must be a VT_ARRAY|VT_UI1 array.
// Returns a new[]-allocated copy of the bytes; the caller delete[]s it.
unsigned char* GetByteArrayElement(const VARIANT& array, long index, long* length);
void GetByteArrayElement(const VARIANT& array, long index, std::vector<unsigned char>* out);
// As above, also accepting a VT_ARRAY|VT_I1 element.
void GetCharArrayElement(const VARIANT& array, long index, std::vector<unsigned char>* out);

// Pair arrays: VT_VARIANT arrays whose elements are [name BSTR, value]
// arrays; VT_EMPTY elements are holes that searches skip. The first match
// wins. String forms accept a VT_BSTR or VT_EMPTY value ("").
void GetPair(const VARIANT& pairs, long index, std::wstring* name, std::wstring* value);
// Exact name, string value.
bool FindPair(const VARIANT& pairs, const std::wstring& name, std::wstring* value);
// Names compared lower-cased (current locale).
bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, std::wstring* value);
// A VT_I4 value as is, a string through its leading decimal digits.
bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, int32_t* value);
bool FindPairNoCase(const VARIANT& pairs, const std::wstring& name, VARIANT* value);

long GetArrayLength(const VARIANT& array);
long GetArrayLengthEmpty(const VARIANT& array);
std::wstring GetSingleOutParamString(const VARIANT& out);

// --- Writers ---------------------------------------------------------------
// Each typed PutElement needs an array of its own element type or of
// VT_VARIANT (the value then goes in wrapped in a VARIANT of its type).
// `out` must be initialised; what it held is cleared.
void CreateArray(VARIANT* out, VARTYPE elementType, long count);
// New elements are empty, dropped ones are freed.
void ResizeArray(VARIANT* array, long count);
// Into a VT_VARIANT array; a typed array takes a scalar of its own type.
void PutElement(VARIANT* array, long index, const VARIANT& value);
// Into a VT_VARIANT array without a copy: `value` is left empty.
void MoveElement(VARIANT* array, long index, VARIANT* value);
void PutElement(VARIANT* array, long index, bool value);
void PutElement(VARIANT* array, long index, const std::wstring& value);
void PutElement(VARIANT* array, long index, const wchar_t* value);
void PutElement(VARIANT* array, long index, short value);
void PutElement(VARIANT* array, long index, unsigned short value);
void PutElement(VARIANT* array, long index, int32_t value);       // VT_I4
void PutElement(VARIANT* array, long index, uint32_t value);      // VT_UI4
// The bus's "long" is 32-bit: these keep the low 32 bits (VT_I4, VT_UI4).
void PutElement(VARIANT* array, long index, long value);
void PutElement(VARIANT* array, long index, unsigned long value);
void PutElement(VARIANT* array, long index, double value);
void PutElement(VARIANT* array, long index, float value);
void PutDateElement(VARIANT* array, long index, int64_t secondsSince1970);
void PutElement(VARIANT* array, long index, unsigned char value);
void PutPair(VARIANT* pairs, long index, const std::wstring& name, const std::wstring& value);
void PutPair(VARIANT* pairs, long index, const std::wstring& name, int32_t value);
void PutPair(VARIANT* pairs, long index, const std::wstring& name, const VARIANT& value);
void PutBinaryIntoVariant(VARIANT* out, const unsigned char* bytes, long length);

// --- Checks ----------------------------------------------------------------
// `name` may be null. Throws when the code is not 0.
void CheckSingleRetcode(const VARIANT& retcodes, const wchar_t* name);
long GetSingleRetcode(const VARIANT& retcodes);
void checkType(const VARIANT& v, VARTYPE type, const wchar_t* name);
void checkArrayType(const VARIANT& v, VARTYPE elementType, long length, bool atLeast,
                    const wchar_t* name);

// "Dumping <title>: " and the lines of DumpValue(v, 1).
std::wstring DumpVariant(const VARIANT& v, const std::wstring& title);
// The dump lines of one value, indented two blanks per level, each ending in
// "\r\n"; a failed read ends the value with an <Error> line.
std::wstring DumpValue(const VARIANT& v, int level);

}  // namespace VUtil

// RAII holder for a VARIANT that clears it on scope exit.
class AutoVariant {
 public:
  AutoVariant() { VariantInit(&v_); }
  ~AutoVariant() { VariantClear(&v_); }
  AutoVariant(const AutoVariant&) = delete;
  AutoVariant& operator=(const AutoVariant&) = delete;
  VARIANT* operator&() { return &v_; }
  VARIANT& get() { return v_; }
  const VARIANT& get() const { return v_; }
  operator const VARIANT&() const { return v_; }

 private:
  VARIANT v_;
};

#endif  // TEV_SUPPORT_VUTIL_H_

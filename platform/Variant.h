// OLE Automation value types: VARIANT, SAFEARRAY and BSTR, with the
// creation, element access, copy and clear functions the module uses.
// Semantics follow OLE: a VARIANT owns its BSTR or SAFEARRAY, VariantClear
// frees it and sets VT_EMPTY, VariantCopy makes a deep copy, SAFEARRAYs
// keep their lower bound, arrays of VT_VARIANT/VT_BSTR own their elements.
#ifndef TEV_PLATFORM_VARIANT_H_
#define TEV_PLATFORM_VARIANT_H_

#include <cstdint>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef wchar_t OLECHAR;
typedef OLECHAR* BSTR;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = (HRESULT)0x80004005;
constexpr HRESULT E_INVALIDARG = (HRESULT)0x80070057;
constexpr HRESULT E_OUTOFMEMORY = (HRESULT)0x8007000E;
constexpr HRESULT DISP_E_BADVARTYPE = (HRESULT)0x80020008;
constexpr HRESULT DISP_E_BADINDEX = (HRESULT)0x8002000B;
constexpr HRESULT DISP_E_TYPEMISMATCH = (HRESULT)0x80020005;
constexpr HRESULT DISP_E_ARRAYISLOCKED = (HRESULT)0x8002000D;
constexpr HRESULT E_UNEXPECTED = (HRESULT)0x8000FFFF;
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

enum VARENUM : VARTYPE {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5,
  VT_CY = 6, VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10,
  VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13, VT_DECIMAL = 14,
  VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21,
  VT_INT = 22, VT_UINT = 23,
  VT_ARRAY = 0x2000, VT_BYREF = 0x4000, VT_TYPEMASK = 0x0fff
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// SAFEARRAY.fFeatures bits.
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_VARIANT = 0x0800;

// Only one-dimensional arrays are made by the module; more dimensions are
// accepted by SafeArrayCreate for completeness.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;   // size of one element in bytes
  ULONG cLocks;
  void* pvData;
  VARTYPE vt;         // element type (SafeArrayGetVartype)
  SAFEARRAYBOUND rgsabound[1];  // cDims entries, the last dimension first (OLE order)
};

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int32_t intVal;
    uint32_t uintVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    float fltVal;
    double dblVal;
    DATE date;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    SAFEARRAY* parray;
    VARIANT* pvarVal;
  };
};
typedef VARIANT VARIANTARG;

struct SYSTEMTIME {
  uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// BSTR: length-prefixed (byte count of the characters, stored just before the
// text) and zero-terminated. SysAllocString(nullptr) gives nullptr; a null BSTR
// means the empty text everywhere.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Clears dest, then deep-copies src into it.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// Element types: VT_VARIANT, VT_BSTR, VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4,
// VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_DATE, VT_BOOL,
// VT_ERROR; any other type, zero dimensions or a size that does not fit in
// memory gives nullptr. Elements start zeroed (VT_EMPTY, null BSTR).
// `bounds` lists dimension 1 first; it is stored in OLE order (reversed).
SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count);
// Frees the elements (BSTRs, VARIANTs) and the array; DISP_E_ARRAYISLOCKED
// while SafeArrayAccessData is outstanding. nullptr is accepted.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out);
// Element access copies: a VARIANT element is VariantCopy'd into *pv (which
// must be initialised), a BSTR element is SysAllocString'd.
// indices[i] addresses dimension i + 1 (the numbering of GetLBound); for one
// dimension it is just the index. Out of range gives DISP_E_BADINDEX.
// As in OLE, PutElement's pv is the BSTR itself for VT_BSTR arrays, a
// VARIANT* for VT_VARIANT arrays and a pointer to the value otherwise.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* pv);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, uint32_t dim, LONG* lbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, uint32_t dim, LONG* ubound);
uint32_t SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
// Changes the bound of the last dimension (rgsabound[0]), keeping existing
// elements: dropped ones are freed, new ones zeroed.
HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* newBound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

// OLE date: days since 1899-12-30, the fraction is the time of day; for a
// negative date the fraction still counts forward from midnight of the day
// given by the integer part (-1.25 is 1899-12-29 06:00). Valid years are
// 100..9999; milliseconds are ignored and rounded to whole seconds.
// Returns nonzero on success, as the OLE functions do.
int SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* out);
int VariantTimeToSystemTime(DATE date, SYSTEMTIME* st);

#endif  // TEV_PLATFORM_VARIANT_H_

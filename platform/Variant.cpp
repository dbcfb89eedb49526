#include "platform/Variant.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>

namespace {

// A BSTR points just past a uint32 holding the byte count of its text.
constexpr size_t kBstrPrefix = sizeof(uint32_t);

uint32_t* BstrHeader(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kBstrPrefix);
}

// Size of one element, 0 for a type that cannot be an element.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_BSTR: return sizeof(BSTR);
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: return 8;
    default: return 0;
  }
}

// Multiplies with overflow detection against size_t.
bool MulFits(size_t a, size_t b, size_t* out) {
  if (a != 0 && b > std::numeric_limits<size_t>::max() / a) return false;
  *out = a * b;
  return true;
}

bool TotalElements(const SAFEARRAY* psa, size_t* total) {
  size_t n = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    if (!MulFits(n, psa->rgsabound[d].cElements, &n)) return false;
  }
  *total = n;
  return true;
}

// Offset (in elements) of the cell at `indices`; dimension 1 varies fastest.
bool CellOffset(const SAFEARRAY* psa, const LONG* indices, size_t* cell) {
  size_t offset = 0, stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
    const int64_t i = static_cast<int64_t>(indices[d]) - b.lLbound;
    if (i < 0 || i >= static_cast<int64_t>(b.cElements)) return false;
    offset += static_cast<size_t>(i) * stride;
    stride *= b.cElements;
  }
  *cell = offset;
  return true;
}

void* Cell(const SAFEARRAY* psa, size_t cell) {
  return static_cast<char*>(psa->pvData) + cell * psa->cbElements;
}

// Frees what elements [from, to) own.
void ReleaseElements(SAFEARRAY* psa, size_t from, size_t to) {
  if (psa->vt == VT_BSTR) {
    BSTR* items = static_cast<BSTR*>(psa->pvData);
    for (size_t i = from; i < to; ++i) {
      SysFreeString(items[i]);
      items[i] = nullptr;
    }
  } else if (psa->vt == VT_VARIANT) {
    VARIANT* items = static_cast<VARIANT*>(psa->pvData);
    for (size_t i = from; i < to; ++i) VariantClear(&items[i]);
  }
}

// Proleptic Gregorian day number relative to 1970-01-01 (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeap(y)) ? 29 : kDays[m - 1];
}

// Day 0 of OLE dates, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kOleEpochDays = -25569;
// 0100-01-01 00:00:00 and the first instant after 9999-12-31 23:59:59.
constexpr double kMinOleDate = -657434.0;
constexpr double kMaxOleDate = 2958466.0;

}  // namespace

// --- BSTR -------------------------------------------------------------------

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<uint32_t>(std::wcslen(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length) {
  if (length > (std::numeric_limits<uint32_t>::max() - sizeof(OLECHAR)) / sizeof(OLECHAR)) {
    return nullptr;
  }
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  char* block = static_cast<char*>(std::malloc(kBstrPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<uint32_t*>(block) = static_cast<uint32_t>(bytes);
  BSTR result = reinterpret_cast<BSTR>(block + kBstrPrefix);
  if (text != nullptr) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = L'\0';
  return result;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BstrHeader(text));
}

uint32_t SysStringLen(BSTR text) {
  return text == nullptr ? 0 : *BstrHeader(text) / sizeof(OLECHAR);
}

// --- VARIANT ----------------------------------------------------------------

void VariantInit(VARIANT* v) {
  if (v == nullptr) return;
  std::memset(v, 0, sizeof(*v));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if ((v->vt & VT_BYREF) == 0) {
    if (v->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  // Copy first: src may live inside what dest owns.
  VARIANT copy = *src;
  if ((src->vt & VT_BYREF) == 0) {
    if (src->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    }
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

// --- SAFEARRAY --------------------------------------------------------------

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds) {
  const ULONG size = ElementSize(vt);
  if (size == 0 || dims == 0 || dims > std::numeric_limits<USHORT>::max() || bounds == nullptr) {
    return nullptr;
  }
  const size_t header = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
  SAFEARRAY* psa = static_cast<SAFEARRAY*>(std::calloc(1, header));
  if (psa == nullptr) return nullptr;
  psa->cDims = static_cast<USHORT>(dims);
  psa->fFeatures = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
  if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
  psa->cbElements = size;
  psa->vt = vt;
  for (uint32_t d = 0; d < dims; ++d) psa->rgsabound[d] = bounds[dims - 1 - d];
  size_t total = 0, bytes = 0;
  if (!TotalElements(psa, &total) || !MulFits(total, size, &bytes)) {
    std::free(psa);
    return nullptr;
  }
  if (bytes > 0) {
    psa->pvData = std::calloc(total, size);
    if (psa->pvData == nullptr) {
      std::free(psa);
      return nullptr;
    }
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count) {
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = lowerBound;
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  size_t total = 0;
  if (psa->pvData != nullptr && TotalElements(psa, &total)) ReleaseElements(psa, 0, total);
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAYBOUND* bounds = new (std::nothrow) SAFEARRAYBOUND[psa->cDims];
  if (bounds == nullptr) return E_OUTOFMEMORY;
  for (USHORT d = 0; d < psa->cDims; ++d) bounds[d] = psa->rgsabound[psa->cDims - 1 - d];
  SAFEARRAY* copy = SafeArrayCreate(psa->vt, psa->cDims, bounds);
  delete[] bounds;
  if (copy == nullptr) return E_OUTOFMEMORY;
  size_t total = 0;
  TotalElements(psa, &total);
  if (total > 0 && psa->pvData != nullptr) {
    if (psa->vt == VT_BSTR) {
      const BSTR* from = static_cast<const BSTR*>(psa->pvData);
      BSTR* to = static_cast<BSTR*>(copy->pvData);
      for (size_t i = 0; i < total; ++i) {
        if (from[i] == nullptr) continue;
        to[i] = SysAllocStringLen(from[i], SysStringLen(from[i]));
        if (to[i] == nullptr) {
          SafeArrayDestroy(copy);
          return E_OUTOFMEMORY;
        }
      }
    } else if (psa->vt == VT_VARIANT) {
      const VARIANT* from = static_cast<const VARIANT*>(psa->pvData);
      VARIANT* to = static_cast<VARIANT*>(copy->pvData);
      for (size_t i = 0; i < total; ++i) {
        HRESULT hr = VariantCopy(&to[i], &from[i]);
        if (FAILED(hr)) {
          SafeArrayDestroy(copy);
          return hr;
        }
      }
    } else {
      std::memcpy(copy->pvData, psa->pvData, total * psa->cbElements);
    }
  }
  *out = copy;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* pv) {
  if (psa == nullptr || indices == nullptr || pv == nullptr) return E_INVALIDARG;
  size_t cell = 0;
  if (!CellOffset(psa, indices, &cell)) return DISP_E_BADINDEX;
  const void* item = Cell(psa, cell);
  if (psa->vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(pv), static_cast<const VARIANT*>(item));
  if (psa->vt == VT_BSTR) {
    BSTR text = *static_cast<const BSTR*>(item);
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = SysAllocStringLen(text, SysStringLen(text));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(pv) = copy;
    return S_OK;
  }
  std::memcpy(pv, item, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* pv) {
  if (psa == nullptr || indices == nullptr) return E_INVALIDARG;
  size_t cell = 0;
  if (!CellOffset(psa, indices, &cell)) return DISP_E_BADINDEX;
  void* item = Cell(psa, cell);
  if (psa->vt == VT_VARIANT) {
    if (pv == nullptr) return E_INVALIDARG;
    return VariantCopy(static_cast<VARIANT*>(item), static_cast<const VARIANT*>(pv));
  }
  if (psa->vt == VT_BSTR) {
    const OLECHAR* text = static_cast<const OLECHAR*>(pv);
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = SysAllocStringLen(text, SysStringLen(const_cast<BSTR>(text)));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    BSTR* slot = static_cast<BSTR*>(item);
    SysFreeString(*slot);
    *slot = copy;
    return S_OK;
  }
  if (pv == nullptr) return E_INVALIDARG;
  std::memcpy(item, pv, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, uint32_t dim, LONG* lbound) {
  if (psa == nullptr || lbound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  *lbound = psa->rgsabound[psa->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, uint32_t dim, LONG* ubound) {
  if (psa == nullptr || ubound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - dim];
  *ubound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

uint32_t SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
  if (psa == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* newBound) {
  if (psa == nullptr || newBound == nullptr || psa->cDims == 0) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  size_t oldTotal = 0;
  if (!TotalElements(psa, &oldTotal)) return E_INVALIDARG;
  size_t others = 1;  // elements per step of the last dimension
  for (USHORT d = 1; d < psa->cDims; ++d) {
    if (!MulFits(others, psa->rgsabound[d].cElements, &others)) return E_OUTOFMEMORY;
  }
  size_t newTotal = 0, bytes = 0;
  if (!MulFits(others, newBound->cElements, &newTotal) ||
      !MulFits(newTotal, psa->cbElements, &bytes)) {
    return E_OUTOFMEMORY;
  }
  if (newTotal < oldTotal) {
    ReleaseElements(psa, newTotal, oldTotal);
  }
  if (bytes == 0) {
    std::free(psa->pvData);
    psa->pvData = nullptr;
  } else if (newTotal != oldTotal || psa->pvData == nullptr) {
    void* data = std::realloc(psa->pvData, bytes);
    if (data == nullptr) return E_OUTOFMEMORY;  // the dropped elements are already empty
    psa->pvData = data;
    if (newTotal > oldTotal) {
      std::memset(static_cast<char*>(data) + oldTotal * psa->cbElements, 0,
                  (newTotal - oldTotal) * psa->cbElements);
    }
  }
  psa->rgsabound[0] = *newBound;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) {
  if (psa == nullptr || data == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

// --- OLE dates --------------------------------------------------------------

int SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* out) {
  if (st == nullptr || out == nullptr) return 0;
  if (st->wYear < 100 || st->wYear > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59) {
    return 0;
  }
  const int64_t days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) - kOleEpochDays;
  const double fraction = (st->wHour * 3600.0 + st->wMinute * 60.0 + st->wSecond) / 86400.0;
  *out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return 1;
}

int VariantTimeToSystemTime(DATE date, SYSTEMTIME* st) {
  if (st == nullptr || !std::isfinite(date) || date <= kMinOleDate - 1.0 || date >= kMaxOleDate) {
    return 0;
  }
  const double whole = std::trunc(date);
  int64_t day = static_cast<int64_t>(whole) + kOleEpochDays;
  int64_t second = std::llround(std::fabs(date - whole) * 86400.0);
  if (second >= 86400) {  // rounded up into the next day
    second -= 86400;
    ++day;
  }
  int64_t year = 0;
  unsigned month = 0, mday = 0;
  CivilFromDays(day, &year, &month, &mday);
  if (year < 100 || year > 9999) return 0;
  st->wYear = static_cast<uint16_t>(year);
  st->wMonth = static_cast<uint16_t>(month);
  st->wDay = static_cast<uint16_t>(mday);
  // 1970-01-01 was a Thursday (4).
  st->wDayOfWeek = static_cast<uint16_t>(((day % 7) + 7 + 4) % 7);
  st->wHour = static_cast<uint16_t>(second / 3600);
  st->wMinute = static_cast<uint16_t>(second / 60 % 60);
  st->wSecond = static_cast<uint16_t>(second % 60);
  st->wMilliseconds = 0;
  return 1;
}

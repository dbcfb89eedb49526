// A service's out value as one text.
#ifndef TEV_BUS_OUTTEXT_H_
#define TEV_BUS_OUTTEXT_H_

#include <cstdint>
#include <string>

#include "platform/Variant.h"

// *out becomes a BSTR copy of `text`; what it held is cleared.
inline void PutText(VARIANT* out, const std::wstring& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  VariantCopy(out, &value);
  VariantClear(&value);
}

#endif  // TEV_BUS_OUTTEXT_H_

#include "peers/Value.h"

#include "support/VUtil.h"

namespace tev {
namespace peers {

Value Value::Str(const std::wstring& text) {
  Value v;
  v.v_.vt = VT_BSTR;
  v.v_.bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  return v;
}

Value Value::Long(int32_t value) {
  Value v;
  v.v_.vt = VT_I4;
  v.v_.lVal = value;
  return v;
}

Value Value::Bool(bool value) {
  Value v;
  v.v_.vt = VT_BOOL;
  v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

Value Value::Double(double value) {
  Value v;
  v.v_.vt = VT_R8;
  v.v_.dblVal = value;
  return v;
}

Value Value::Date(int64_t seconds) {
  Value v;
  v.v_.vt = VT_DATE;
  v.v_.date = VUtil::SecondsToDate(seconds);
  return v;
}

Value Value::Array(const std::vector<Value>& elements) {
  Value v;
  VUtil::CreateArray(&v.v_, VT_VARIANT, static_cast<long>(elements.size()));
  for (size_t i = 0; i < elements.size(); ++i) {
    VUtil::PutElement(&v.v_, static_cast<long>(i), elements[i].get());
  }
  return v;
}

Value Value::StringArray(const std::vector<std::wstring>& texts) {
  Value v;
  VUtil::CreateArray(&v.v_, VT_BSTR, static_cast<long>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) VUtil::PutElement(&v.v_, static_cast<long>(i), texts[i]);
  return v;
}

Value Value::LongArray(const std::vector<int32_t>& values) {
  Value v;
  VUtil::CreateArray(&v.v_, VT_I4, static_cast<long>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) VUtil::PutElement(&v.v_, static_cast<long>(i), values[i]);
  return v;
}

Value Value::Pairs(const std::vector<std::pair<std::wstring, Value>>& pairs) {
  Value v;
  VUtil::CreateArray(&v.v_, VT_VARIANT, static_cast<long>(pairs.size()));
  for (size_t i = 0; i < pairs.size(); ++i) {
    VUtil::PutPair(&v.v_, static_cast<long>(i), pairs[i].first, pairs[i].second.get());
  }
  return v;
}

}  // namespace peers
}  // namespace tev

// A VARIANT with value semantics (deep copies, freed on destruction) and
// builders for the parameter arrays that peers and tests exchange.
#ifndef TEV_PEERS_VALUE_H_
#define TEV_PEERS_VALUE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Variant.h"

namespace tev {
namespace peers {

class Value {
 public:
  Value() { VariantInit(&v_); }
  Value(const VARIANT& v) {  // NOLINT: implicit on purpose, copies
    VariantInit(&v_);
    VariantCopy(&v_, &v);
  }
  Value(const Value& other) : Value(other.v_) {}
  Value(Value&& other) noexcept {
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  Value& operator=(const Value& other) {
    if (this != &other) VariantCopy(&v_, &other.v_);
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      VariantClear(&v_);
      v_ = other.v_;
      VariantInit(&other.v_);
    }
    return *this;
  }
  ~Value() { VariantClear(&v_); }

  const VARIANT& get() const { return v_; }
  VARIANT* ptr() { return &v_; }
  VARTYPE type() const { return v_.vt; }
  // Copies into `out` (cleared first).
  void CopyTo(VARIANT* out) const { VariantCopy(out, &v_); }

  static Value Str(const std::wstring& text);
  static Value Long(int32_t value);
  static Value Bool(bool value);
  static Value Double(double value);
  // OLE date of `seconds` since 1970.
  static Value Date(int64_t seconds);
  // VT_ARRAY|VT_VARIANT of the elements.
  static Value Array(const std::vector<Value>& elements);
  // VT_ARRAY|VT_BSTR / VT_ARRAY|VT_I4.
  static Value StringArray(const std::vector<std::wstring>& texts);
  static Value LongArray(const std::vector<int32_t>& values);
  // A PairArray: [name, value] arrays.
  static Value Pairs(const std::vector<std::pair<std::wstring, Value>>& pairs);

 private:
  VARIANT v_;
};

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_VALUE_H_

#include "vel/WireReader.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "platform/WideText.h"
#include "vel/JsonParser.h"
#include "vel/WireTypes.h"
#include "vel/WireWriter.h"

namespace vel {

namespace {

// One value read and not yet placed into its container. A JSON scalar is
// held as the VARIANT its plain form decodes to (null, BOOL, BSTR, R8, I4,
// I8, UI8), which keeps everything a typed object may later ask of it: the
// kind of JSON token and its exact value.
struct Item {
  Item() { VariantInit(&value); }
  ~Item() { VariantClear(&value); }
  Item(Item&& other) noexcept
      : value(other.value), scalar(other.scalar), failure(std::move(other.failure)) {
    VariantInit(&other.value);
  }
  Item& operator=(Item&& other) noexcept {
    if (this != &other) {
      VariantClear(&value);
      value = other.value;
      VariantInit(&other.value);
      scalar = other.scalar;
      failure = std::move(other.failure);
    }
    return *this;
  }
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;

  bool Failed() const { return failure != nullptr; }
  const std::string& Why() const { return *failure; }
  void Fail(const std::string& why) {
    VariantClear(&value);
    failure.reset(new std::string(why.empty() ? "invalid value" : why));
  }

  VARIANT value;
  bool scalar = false;  // a JSON null, boolean, number or string
  // Why the value is invalid (null when valid). An invalid value is only
  // an error where it is used: a typed object ignores its "v" when its type
  // needs none, as it ignores keys it does not know.
  std::unique_ptr<std::string> failure;
};

Item Failed(const std::string& why) {
  Item item;
  item.Fail(why);
  return item;
}

bool IntegerOf(const VARIANT& j, int64_t lo, uint64_t hi, uint64_t* bits) {
  if (j.vt == VT_UI8) {
    if (j.ullVal > hi) return false;
    *bits = j.ullVal;
    return true;
  }
  if (j.vt != VT_I4 && j.vt != VT_I8) return false;
  const int64_t i = j.vt == VT_I4 ? j.lVal : j.llVal;
  if (i < lo || (i > 0 && static_cast<uint64_t>(i) > hi)) return false;
  *bits = static_cast<uint64_t>(i);
  return true;
}

std::wstring BstrText(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

bool RealOf(const VARIANT& j, double* d) {
  switch (j.vt) {
    case VT_I4: *d = j.lVal; return true;
    case VT_I8: *d = static_cast<double>(j.llVal); return true;
    case VT_UI8: *d = static_cast<double>(j.ullVal); return true;
    case VT_R8: *d = j.dblVal; return true;
    case VT_BSTR: {
      const std::wstring s = BstrText(j.bstrVal);
      if (s == L"nan") *d = std::numeric_limits<double>::quiet_NaN();
      else if (s == L"inf") *d = std::numeric_limits<double>::infinity();
      else if (s == L"-inf") *d = -std::numeric_limits<double>::infinity();
      else return false;
      return true;
    }
    default: return false;
  }
}

std::string BadValue(VARTYPE vt, const Item& item) {
  std::string text;
  std::string ignored;
  if (item.Failed()) text = item.Why();
  else if (!WriteValue(item.value, &text, &ignored)) text = "a value of another type";
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return "bad value for " + TypeName(vt) + ": " + text;
}

// Stores the scalar `item` as type `vt` at `p` (the layout inside a
// SAFEARRAY or a VARIANT's value field). A BSTR moves out of the item.
bool ScalarInto(VARTYPE vt, Item& item, void* p, std::string* why) {
  const VARIANT& j = item.value;
  uint64_t bits = 0;
  double d = 0;
  bool ok = item.scalar && !item.Failed();
  switch (vt) {
    case VT_I1:
      if ((ok = ok && IntegerOf(j, INT8_MIN, INT8_MAX, &bits))) *static_cast<int8_t*>(p) = static_cast<int8_t>(bits);
      break;
    case VT_UI1:
      if ((ok = ok && IntegerOf(j, 0, UINT8_MAX, &bits))) *static_cast<uint8_t*>(p) = static_cast<uint8_t>(bits);
      break;
    case VT_I2: case VT_BOOL:
      if (ok && vt == VT_BOOL && j.vt == VT_BOOL) bits = static_cast<uint16_t>(j.boolVal);
      else ok = ok && IntegerOf(j, INT16_MIN, INT16_MAX, &bits);
      if (ok) *static_cast<int16_t*>(p) = static_cast<int16_t>(bits);
      break;
    case VT_UI2:
      if ((ok = ok && IntegerOf(j, 0, UINT16_MAX, &bits))) *static_cast<uint16_t*>(p) = static_cast<uint16_t>(bits);
      break;
    case VT_I4: case VT_INT: case VT_ERROR:
      if ((ok = ok && IntegerOf(j, INT32_MIN, INT32_MAX, &bits))) *static_cast<int32_t*>(p) = static_cast<int32_t>(bits);
      break;
    case VT_UI4: case VT_UINT:
      if ((ok = ok && IntegerOf(j, 0, UINT32_MAX, &bits))) *static_cast<uint32_t*>(p) = static_cast<uint32_t>(bits);
      break;
    case VT_I8:
      if ((ok = ok && IntegerOf(j, INT64_MIN, INT64_MAX, &bits))) *static_cast<int64_t*>(p) = static_cast<int64_t>(bits);
      break;
    case VT_UI8:
      if ((ok = ok && IntegerOf(j, 0, UINT64_MAX, &bits))) *static_cast<uint64_t*>(p) = bits;
      break;
    case VT_R4:
      if ((ok = ok && RealOf(j, &d))) *static_cast<float*>(p) = static_cast<float>(d);
      break;
    case VT_R8: case VT_DATE:
      ok = ok && (RealOf(j, &d) || (vt == VT_DATE && j.vt == VT_BSTR &&
                                    DecodeIsoDate(tev::ToStdUtf8(BstrText(j.bstrVal)), &d)));
      if (ok) *static_cast<double*>(p) = d;
      break;
    case VT_BSTR:
      if ((ok = ok && j.vt == VT_BSTR)) {
        *static_cast<BSTR*>(p) = j.bstrVal;
        VariantInit(&item.value);
      }
      break;
    default:
      *why = "type " + std::to_string(vt) + " cannot be received";
      return false;
  }
  if (!ok) *why = BadValue(vt, item);
  return ok;
}

// The text of a JSON string as a BSTR (the parser has checked the UTF-8).
BSTR MakeBstr(const std::string& bytes) {
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i < n) {
    const std::wstring text = tev::FromStdUtf8(bytes);
    return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  }
  BSTR b = SysAllocStringLen(nullptr, static_cast<uint32_t>(n));
  if (b != nullptr)
    for (size_t k = 0; k < n; ++k) b[k] = static_cast<wchar_t>(bytes[k]);
  return b;
}

// Moves valid values into a new VT_VARIANT array. `depth` is the value
// depth of the elements.
Item MakeVariantArray(std::vector<Item>* items, int depth, LONG lbound) {
  for (const Item& item : *items)
    if (item.Failed()) return Failed(item.Why());
  if (!items->empty() && depth > kMaxValueDepth) return Failed("nesting too deep");
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, lbound, static_cast<ULONG>(items->size()));
  if (!psa) return Failed("cannot make an array of ARRAY|VARIANT");
  void* data = nullptr;
  SafeArrayAccessData(psa, &data);
  VARIANT* elements = static_cast<VARIANT*>(data);
  for (size_t i = 0; i < items->size(); ++i) {
    elements[i] = (*items)[i].value;
    VariantInit(&(*items)[i].value);
  }
  SafeArrayUnaccessData(psa);
  Item out;
  out.value.vt = VT_ARRAY | VT_VARIANT;
  out.value.parray = psa;
  return out;
}

enum class Field { kNone, kVt, kV, kLbound, kMethod, kValue, kRet, kIgnored };
enum class Kind { kArray, kTyped, kEnvelope, kSkip };

// An open JSON container.
struct Frame {
  explicit Frame(Kind k, int d) : kind(k), depth(d) {}
  Kind kind;
  // kArray: value depth of its elements; kTyped: value depth of the value
  // it makes; kSkip: containers open inside the skipped value.
  int depth;
  std::vector<Item> items;  // kArray
  Field field = Field::kNone;  // kTyped, kEnvelope: where the value after the key goes
  // kTyped: its keys as read so far.
  bool hasVt = false;
  bool vtText = false;  // "vt" was a string
  std::string vt;
  bool hasV = false;
  bool vList = false;  // "v" was a JSON array: its elements are in vItems
  Item v;
  std::vector<Item> vItems;
  int vDepth = 0;
  bool hasLbound = false;
  Item lbound;
};

// {"vt": ..., "v": ..., "lbound": ...} once all its keys are known: the
// checks and messages of the wire description, in the order a reader of
// the object would make them.
Item FinishTyped(Frame* f) {
  if (!f->hasVt || !f->vtText) return Failed("object without a \"vt\" type name");
  VARTYPE vt = 0;
  if (!TypeFromName(f->vt, &vt)) return Failed("unknown type name \"" + f->vt.substr(0, 100) + "\"");
  Item out;
  std::string why;
  if (vt & VT_ARRAY) {
    if (!f->hasV) return Failed("array without \"v\"");
    LONG lbound = 0;
    if (f->hasLbound) {
      uint64_t bits = 0;
      if (!f->lbound.scalar || f->lbound.Failed() || !IntegerOf(f->lbound.value, INT32_MIN, INT32_MAX, &bits))
        return Failed("bad lbound");
      lbound = static_cast<LONG>(static_cast<int32_t>(bits));
    }
    if (!f->vList) return Failed("array value is not a JSON array");
    const size_t n = f->vItems.size();
    // Every element needs an index that fits a LONG.
    if (n > 0 && static_cast<int64_t>(lbound) + static_cast<int64_t>(n) - 1 > INT32_MAX)
      return Failed("array does not fit above lbound " + std::to_string(lbound));
    const VARTYPE element = vt & VT_TYPEMASK;
    if (element == VT_VARIANT) return MakeVariantArray(&f->vItems, f->vDepth, lbound);
    SAFEARRAY* psa = SafeArrayCreateVector(element, lbound, static_cast<ULONG>(n));
    if (!psa) return Failed("cannot make an array of " + TypeName(vt));
    void* data = nullptr;
    SafeArrayAccessData(psa, &data);
    bool ok = true;
    for (size_t i = 0; ok && i < n; ++i)
      ok = ScalarInto(element, f->vItems[i], static_cast<char*>(data) + i * psa->cbElements, &why);
    SafeArrayUnaccessData(psa);
    if (!ok) {
      SafeArrayDestroy(psa);
      return Failed(why);
    }
    out.value.vt = vt;
    out.value.parray = psa;
    return out;
  }
  if (vt == VT_EMPTY || vt == VT_NULL) {
    out.value.vt = vt;
    return out;
  }
  if (!f->hasV) return Failed("value without \"v\"");
  if (f->vList) {
    Item list = MakeVariantArray(&f->vItems, f->vDepth, 0);
    return Failed(BadValue(vt, list));
  }
  if (!ScalarInto(vt, f->v, &out.value.llVal, &why)) return Failed(why);
  out.value.vt = vt;
  return out;
}

// The parser's events, turned into VARIANTs as they come.
class Reader : public JsonHandler {
 public:
  explicit Reader(WireShape shape) : shape_(shape) { stack_.reserve(4); }

  bool Null() override { return Place(Scalar(VT_NULL)); }
  bool Boolean(bool b) override {
    Item item = Scalar(VT_BOOL);
    item.value.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return Place(std::move(item));
  }
  bool Integer(int64_t i) override {
    const bool small = i >= INT32_MIN && i <= INT32_MAX;
    Item item = Scalar(small ? VT_I4 : VT_I8);
    if (small) item.value.lVal = static_cast<int32_t>(i);
    else item.value.llVal = i;
    return Place(std::move(item));
  }
  bool Unsigned(uint64_t u) override {
    if (u <= static_cast<uint64_t>(INT64_MAX)) return Integer(static_cast<int64_t>(u));
    Item item = Scalar(VT_UI8);
    item.value.ullVal = u;
    return Place(std::move(item));
  }
  bool Real(double d) override {
    Item item = Scalar(VT_R8);
    item.value.dblVal = d;
    return Place(std::move(item));
  }
  bool String(std::string& s) override {
    if (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.kind == Kind::kSkip) return true;
      if (top.kind == Kind::kTyped && top.field == Field::kVt) {
        top.hasVt = true;
        top.vtText = true;
        top.vt = std::move(s);
        return true;
      }
      if (top.kind == Kind::kEnvelope && top.field == Field::kMethod) {
        hasMethod_ = true;
        methodText_ = true;
        method_ = tev::FromStdUtf8(s);
        return true;
      }
    }
    Item item = Scalar(VT_BSTR);
    item.value.bstrVal = MakeBstr(s);
    return Place(std::move(item));
  }
  bool StartObject() override { return Open(true); }
  bool StartArray() override { return Open(false); }
  bool Key(std::string& k) override {
    Frame& top = stack_.back();
    if (top.kind == Kind::kTyped) {
      top.field = k == "vt" ? Field::kVt : k == "v" ? Field::kV : k == "lbound" ? Field::kLbound : Field::kIgnored;
    } else if (top.kind == Kind::kEnvelope) {
      const bool request = shape_ == WireShape::kRequest;
      top.field = k == (request ? "method" : "ret") ? (request ? Field::kMethod : Field::kRet)
                  : k == (request ? "in" : "out") ? Field::kValue
                                                  : Field::kIgnored;
    }
    return true;
  }
  bool EndObject() override { return Close(); }
  bool EndArray() override { return Close(); }

  const std::string& aborted() const { return abort_; }
  Item& value() { return value_; }
  bool hasValue() const { return hasValue_; }
  bool hasMethod() const { return hasMethod_ && methodText_; }
  std::wstring& method() { return method_; }
  bool Ret(int* ret) const {
    uint64_t bits = 0;
    if (!hasRet_ || !ret_.scalar || !IntegerOf(ret_.value, INT32_MIN, INT32_MAX, &bits)) return false;
    *ret = static_cast<int>(static_cast<int32_t>(bits));
    return true;
  }

 private:
  static Item Scalar(VARTYPE vt) {
    Item item;
    item.scalar = true;
    item.value.vt = vt;
    return item;
  }

  bool Abort(const std::string& why) {
    abort_ = why;
    return false;
  }

  // Value depth of a value starting now.
  int Depth() const {
    if (stack_.empty()) return 0;
    const Frame& top = stack_.back();
    return top.kind == Kind::kArray || top.kind == Kind::kTyped ? top.depth : 0;
  }

  // Hands a finished value to the container that is open.
  bool Place(Item&& item) {
    if (stack_.empty()) {
      if (shape_ != WireShape::kValue) return Abort("not a JSON object");
      value_ = std::move(item);
      hasValue_ = true;
      return true;
    }
    Frame& top = stack_.back();
    switch (top.kind) {
      case Kind::kSkip:
        return true;
      case Kind::kArray:
        top.items.push_back(std::move(item));
        return true;
      case Kind::kTyped:
        if (top.field == Field::kVt) {
          top.hasVt = true;
          top.vtText = false;
        } else if (top.field == Field::kV) {
          top.hasV = true;
          top.vList = false;
          top.vItems.clear();
          top.v = std::move(item);
        } else if (top.field == Field::kLbound) {
          top.hasLbound = true;
          top.lbound = std::move(item);
        }
        return true;
      case Kind::kEnvelope:
        if (top.field == Field::kMethod) {
          hasMethod_ = true;
          methodText_ = false;
        } else if (top.field == Field::kValue) {
          value_ = std::move(item);
          hasValue_ = true;
        } else if (top.field == Field::kRet) {
          hasRet_ = true;
          ret_ = std::move(item);
        }
        return true;
    }
    return true;
  }

  bool Open(bool object) {
    if (++jsonDepth_ > kWireJsonDepth)
      return Abort("nesting deeper than " + std::to_string(kWireJsonDepth) + " levels");
    if (stack_.empty() && shape_ != WireShape::kValue) {
      if (!object || hasValue_ || hasRet_ || hasMethod_) return Abort("not a JSON object");
      stack_.emplace_back(Kind::kEnvelope, 0);
      return true;
    }
    if (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.kind == Kind::kSkip) {
        ++top.depth;
        return true;
      }
      if (top.kind != Kind::kArray && top.field != Field::kV && top.field != Field::kValue) {
        // A container where a scalar or nothing belongs: noted as a wrong
        // value, its content is only counted.
        if (!Place(Item())) return false;
        stack_.emplace_back(Kind::kSkip, 1);
        return true;
      }
    }
    const int depth = Depth();
    if (object) {
      stack_.emplace_back(Kind::kTyped, depth);
    } else {
      stack_.emplace_back(Kind::kArray, depth + 1);
      stack_.back().items.reserve(16);
    }
    return true;
  }

  bool Close() {
    --jsonDepth_;
    Frame& top = stack_.back();
    switch (top.kind) {
      case Kind::kSkip:
        if (--top.depth == 0) stack_.pop_back();
        return true;
      case Kind::kEnvelope:
        stack_.pop_back();
        return true;
      case Kind::kTyped: {
        Item item = FinishTyped(&top);
        stack_.pop_back();
        return Place(std::move(item));
      }
      case Kind::kArray:
        break;
    }
    Frame list = std::move(top);
    stack_.pop_back();
    if (!stack_.empty() && stack_.back().kind == Kind::kTyped && stack_.back().field == Field::kV) {
      Frame& typed = stack_.back();
      typed.hasV = true;
      typed.vList = true;
      typed.v = Item();
      typed.vItems = std::move(list.items);
      typed.vDepth = list.depth;
      return true;
    }
    return Place(MakeVariantArray(&list.items, list.depth, 0));
  }

  const WireShape shape_;
  std::vector<Frame> stack_;
  int jsonDepth_ = 0;
  std::string abort_;
  Item value_;  // the bare value, "in" or "out"
  bool hasValue_ = false;
  bool hasMethod_ = false;
  bool methodText_ = false;
  std::wstring method_;
  bool hasRet_ = false;
  Item ret_;
};

}  // namespace

WireFault ReadWire(const char* data, size_t length, WireShape shape, WireEnvelope* envelope,
                   VARIANT* value, std::string* error) {
  VariantClear(value);
  Reader reader(shape);
  size_t errorAt = 0;
  switch (ParseJson(data, length, &reader, &errorAt)) {
    case JsonResult::kOk:
      break;
    case JsonResult::kStopped:
      *error = reader.aborted();
      return WireFault::kText;
    case JsonResult::kSyntax:
      *error = "not JSON (at byte " + std::to_string(errorAt) + ")";
      return WireFault::kText;
  }
  if (shape == WireShape::kRequest) {
    if (!reader.hasMethod()) {
      *error = "request without a method";
      return WireFault::kText;
    }
    envelope->method = std::move(reader.method());
  } else if (shape == WireShape::kReply && !reader.Ret(&envelope->ret)) {
    *error = "reply without a 32-bit \"ret\"";
    return WireFault::kText;
  }
  Item& item = reader.value();
  if (!reader.hasValue()) {
    value->vt = VT_EMPTY;
    return WireFault::kNone;
  }
  if (item.Failed()) {
    *error = item.Why();
    return WireFault::kValue;
  }
  *value = item.value;
  VariantInit(&item.value);
  return WireFault::kNone;
}

}  // namespace vel

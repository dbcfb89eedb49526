#include "vel/WireCodec.h"

#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "support/VUtil.h"
#include "vel/WireWriter.h"

using nlohmann::json;

namespace {

std::string Write(const VARIANT& v) {
  std::string text, error;
  EXPECT_TRUE(vel::WriteValue(v, &text, &error)) << error;
  return text;
}

vel::WireFault Read(const std::string& text, VARIANT* v, std::string* error) {
  return vel::ReadWire(text.data(), text.size(), vel::WireShape::kValue, nullptr, v, error);
}

std::string Nested(int levels, const std::string& inner) {
  return std::string(static_cast<size_t>(levels), '[') + inner + std::string(static_cast<size_t>(levels), ']');
}

TEST(WireCodec, HandWrittenFormsReadAsTheirTypesAndComeBackTheSame) {
  struct Case {
    const char* text;
    VARTYPE vt;
  } cases[] = {
      {R"("hello")", VT_BSTR},
      {"42", VT_I4},
      {"-2147483648", VT_I4},
      {"2147483648", VT_I8},
      {"18446744073709551615", VT_UI8},
      {"1.5", VT_R8},
      {"true", VT_BOOL},
      {"null", VT_NULL},
      {R"({"vt":"EMPTY"})", VT_EMPTY},
      {R"({"vt":"I2","v":-5})", VT_I2},
      {R"({"vt":"UI1","v":255})", VT_UI1},
      {R"({"vt":"BOOL","v":5})", VT_BOOL},
      {R"({"vt":"DATE","v":25569.5})", VT_DATE},
      {R"({"vt":"R8","v":"nan"})", VT_R8},
      {R"({"vt":"R4","v":0.25})", VT_R4},
      {R"(["a",1,[true,null]])", VT_ARRAY | VT_VARIANT},
      {R"({"vt":"ARRAY|BSTR","v":["x","y"]})", VT_ARRAY | VT_BSTR},
      {R"({"vt":"ARRAY|I4","v":[1,2,3],"lbound":1})", VT_ARRAY | VT_I4},
      {R"({"vt":"ARRAY|VARIANT","v":[],"lbound":-2})", VT_ARRAY | VT_VARIANT},
  };
  for (const Case& c : cases) {
    AutoVariant v;
    std::string error;
    ASSERT_EQ(Read(c.text, &v, &error), vel::WireFault::kNone) << c.text << ": " << error;
    EXPECT_EQ(v.get().vt, c.vt) << c.text;
    EXPECT_EQ(json::parse(Write(v)), json::parse(c.text)) << c.text;
  }
  // Dates may also be written as UTC times; they come back as OLE days.
  struct DateCase {
    const char* text;
    double date;
  } dates[] = {
      {R"({"vt":"DATE","v":"2026-12-06T10:00:00"})", 46362.0 + 10.0 / 24},
      {R"({"vt":"DATE","v":"1899-12-29T06:00:00.000Z"})", -1.25},
      {R"({"vt":"DATE","v":"1899-12-30T00:00:00.5Z"})", 0.5 / 86400},
  };
  for (const DateCase& c : dates) {
    AutoVariant v;
    std::string error;
    ASSERT_EQ(Read(c.text, &v, &error), vel::WireFault::kNone) << c.text << ": " << error;
    EXPECT_EQ(v.get().vt, VT_DATE) << c.text;
    EXPECT_NEAR(v.get().date, c.date, 1e-9) << c.text;
  }
}

TEST(WireCodec, EnvelopesCarryMethodNamesValuesAndResults) {
  const std::wstring method = L"Extract Image From Video \U0001F600";
  AutoVariant in;
  VUtil::CreateArray(&in, VT_VARIANT, 2);
  VUtil::PutElement(&in, 0, std::wstring(L"x"));
  VUtil::PutElement(&in, 1, static_cast<int32_t>(3));
  std::string data, error;
  ASSERT_TRUE(vel::EncodeRequest(method, in, &data, &error)) << error;
  EXPECT_EQ(data, "{\"in\":[\"x\",3],\"method\":\"Extract Image From Video \xF0\x9F\x98\x80\"}");
  vel::WireRequest request;
  ASSERT_EQ(vel::DecodeRequest(data.data(), data.size(), &request, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(request.method, method);
  EXPECT_EQ(VUtil::GetStringElement(request.in, 0), L"x");
  EXPECT_EQ(VUtil::GetLongElement(request.in, 1), 3);

  AutoVariant why;
  why.get().vt = VT_BSTR;
  why.get().bstrVal = SysAllocString(L"why");
  ASSERT_TRUE(vel::EncodeReply(-7, why, &data, &error));
  EXPECT_EQ(data, "{\"out\":\"why\",\"ret\":-7}");
  vel::WireReply reply;
  ASSERT_EQ(vel::DecodeReply(data.data(), data.size(), &reply, &error), vel::WireFault::kNone);
  EXPECT_EQ(reply.ret, -7);
  EXPECT_EQ(VUtil::GetScalarString(reply.out), L"why");

  // Failure texts come from anywhere (exception messages): bad bytes are replaced.
  data = vel::EncodeMessageReply(-1, std::string("bad \xFF byte \"quoted\""));
  ASSERT_EQ(vel::DecodeReply(data.data(), data.size(), &reply, &error), vel::WireFault::kNone) << data;
  EXPECT_EQ(reply.ret, -1);
  EXPECT_EQ(VUtil::GetScalarString(reply.out), L"bad \uFFFD byte \"quoted\"");

  // Keys in any order, unknown keys ignored, a missing value is EMPTY.
  const std::string byHand = R"({"note":{"a":[1,{"b":2}]},"method":"M","extra":[[]]})";
  ASSERT_EQ(vel::DecodeRequest(byHand.data(), byHand.size(), &request, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(request.method, L"M");
  EXPECT_EQ(request.in.vt, VT_EMPTY);
  const std::string reordered = R"({"ret":5,"out":{"vt":"I2","v":-1}})";
  ASSERT_EQ(vel::DecodeReply(reordered.data(), reordered.size(), &reply, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(reply.ret, 5);
  EXPECT_EQ(reply.out.vt, VT_I2);
  EXPECT_EQ(reply.out.iVal, -1);
}

TEST(WireCodec, FaultsTellAWrongTextFromAWrongValue) {
  struct Case {
    const char* text;
    bool request;
    vel::WireFault fault;
    const char* reason;
  } cases[] = {
      {"", true, vel::WireFault::kText, "not JSON"},
      {"not json", true, vel::WireFault::kText, "not JSON"},
      {R"({"method":"M","in":1} trailing)", true, vel::WireFault::kText, "not JSON"},
      {R"({"method":"M","in":"\ud800"})", true, vel::WireFault::kText, "not JSON"},  // unpaired half
      {"{\"method\":\"M\",\"in\":\"\xC3\x28\"}", true, vel::WireFault::kText, "not JSON"},  // bad UTF-8
      {"[1]", true, vel::WireFault::kText, "not a JSON object"},
      {R"("M")", true, vel::WireFault::kText, "not a JSON object"},
      {R"({"in":1})", true, vel::WireFault::kText, "without a method"},
      {R"({"method":["M"],"in":1})", true, vel::WireFault::kText, "without a method"},
      {R"({"method":"M","in":{"vt":"NOPE"}})", true, vel::WireFault::kValue, "unknown type name"},
      {R"({"in":{"vt":"NOPE"}})", true, vel::WireFault::kText, "without a method"},
      {R"({"method":"M","in":[1,{"v":2}]})", true, vel::WireFault::kValue, "\"vt\""},
      {R"({"out":1})", false, vel::WireFault::kText, "32-bit"},
      {R"({"ret":2147483648,"out":1})", false, vel::WireFault::kText, "32-bit"},
      {R"({"ret":1.0,"out":1})", false, vel::WireFault::kText, "32-bit"},
      {R"({"ret":{"v":1},"out":1})", false, vel::WireFault::kText, "32-bit"},
      {R"({"ret":0,"out":{"vt":"I2","v":70000}})", false, vel::WireFault::kValue, "bad value for I2"},
  };
  for (const Case& c : cases) {
    std::string error;
    vel::WireFault fault;
    VARTYPE left;
    if (c.request) {
      vel::WireRequest request;
      fault = vel::DecodeRequest(c.text, std::strlen(c.text), &request, &error);
      left = request.in.vt;
    } else {
      vel::WireReply reply;
      fault = vel::DecodeReply(c.text, std::strlen(c.text), &reply, &error);
      left = reply.out.vt;
    }
    EXPECT_EQ(fault, c.fault) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(left, VT_EMPTY) << c.text;
  }
}

TEST(WireCodec, TextOutsideTheBasicPlaneControlsAndEmptyTextsSurvive) {
  struct Case {
    std::wstring text;
    std::string wire;
    std::wstring back;
  } cases[] = {
      // A surrogate pair and a single unit holding the character both mean U+1F600.
      {std::wstring(L"a") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"b", "\"a\xF0\x9F\x98\x80" "b\"", L"a\U0001F600b"},
      {L"\U0001F600\U0010FFFF", "\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"", L"\U0001F600\U0010FFFF"},
      // Unpaired halves cannot be written as UTF-8: replaced.
      {std::wstring(L"x") + wchar_t(0xD800), "\"x\xEF\xBF\xBD\"", L"x\uFFFD"},
      {std::wstring(1, wchar_t(0xDC00)) + L"y", "\"\xEF\xBF\xBDy\"", L"\uFFFDy"},
      {L"\x01\"\\\n\t\b\f\r\x1f\x7f/\u00e9", "\"\\u0001\\\"\\\\\\n\\t\\b\\f\\r\\u001f\x7f/\xC3\xA9\"",
       L"\x01\"\\\n\t\b\f\r\x1f\x7f/\u00e9"},
      {L"", "\"\"", L""},
  };
  for (const Case& c : cases) {
    AutoVariant v;
    v.get().vt = VT_BSTR;
    v.get().bstrVal = SysAllocStringLen(c.text.data(), static_cast<uint32_t>(c.text.size()));
    const std::string wire = Write(v);
    EXPECT_EQ(wire, c.wire);
    EXPECT_EQ(json::parse(wire).dump(), wire);
    AutoVariant back;
    std::string error;
    ASSERT_EQ(Read(wire, &back, &error), vel::WireFault::kNone) << error;
    ASSERT_EQ(back.get().vt, VT_BSTR);
    ASSERT_NE(back.get().bstrVal, nullptr);
    EXPECT_EQ(std::wstring(back.get().bstrVal, SysStringLen(back.get().bstrVal)), c.back);
    EXPECT_EQ(Write(back), wire);
  }
  AutoVariant escaped;
  std::string error;
  ASSERT_EQ(Read(R"("\ud83d\ude00\u00e9\/")", &escaped, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(VUtil::GetScalarString(escaped), L"\U0001F600\u00e9/");
  AutoVariant nullText;
  nullText.get().vt = VT_BSTR;
  EXPECT_EQ(Write(nullText), "\"\"");
}

TEST(WireCodec, TypedObjectsReadTheSameWhateverTheOrderOfTheirKeys) {
  struct Case {
    const char* text;
    const char* written;
  } cases[] = {
      {R"({"v":[7,8],"vt":"ARRAY|I4","lbound":1})", R"({"lbound":1,"v":[7,8],"vt":"ARRAY|I4"})"},
      {R"({"vt":"ARRAY|I4","lbound":1,"v":[7,8]})", R"({"lbound":1,"v":[7,8],"vt":"ARRAY|I4"})"},
      {R"({"lbound":-1,"vt":"ARRAY|VARIANT","v":[{"vt":"I2","v":5},"x",[]]})",
       R"({"lbound":-1,"v":[{"v":5,"vt":"I2"},"x",[]],"vt":"ARRAY|VARIANT"})"},
      {R"({"vt":"ARRAY|VARIANT","v":[1]})", "[1]"},
      {R"({"v":"1970-01-01T12:00:00Z","vt":"DATE"})", R"({"v":25569.5,"vt":"DATE"})"},
      {R"({"vt":"ARRAY|DATE","v":["1970-01-01T00:00:00",1.5]})", R"({"v":[25569.0,1.5],"vt":"ARRAY|DATE"})"},
      {R"({"note":{"deep":[1,[2]]},"vt":"I2","v":3})", R"({"v":3,"vt":"I2"})"},
      {R"({"v":{"not":"a value"},"vt":"EMPTY"})", R"({"vt":"EMPTY"})"},
      {R"({"v":[[1]],"vt":"NULL"})", "null"},
      {R"({"vt":"I2","v":1,"v":2})", R"({"v":2,"vt":"I2"})"},  // the last of a key counts
      {R"({"vt":"ARRAY|BOOL","v":[true,false,-1,5]})", R"({"v":[-1,0,-1,5],"vt":"ARRAY|BOOL"})"},
      {R"({"vt":"ARRAY|R4","v":["nan",0.5,"-inf"]})", R"({"v":["nan",0.5,"-inf"],"vt":"ARRAY|R4"})"},
      {R"({"vt":"UI8","v":18446744073709551615})", "18446744073709551615"},
      {R"({"vt":"I8","v":-5})", R"({"v":-5,"vt":"I8"})"},
      {R"({"vt":"R8","v":3})", "3.0"},
      {"-0.0", "-0.0"},
      {"[1E2,0.1,-2.5e-7,123456789012]", "[100.0,0.1,-2.5e-07,123456789012]"},
  };
  for (const Case& c : cases) {
    AutoVariant v;
    std::string error;
    ASSERT_EQ(Read(c.text, &v, &error), vel::WireFault::kNone) << c.text << ": " << error;
    EXPECT_EQ(Write(v), c.written) << c.text;
  }
  // Malformed values; the elements of a typed array are plain values of its type.
  const char* bad[] = {
      R"({"v":1})", R"({"vt":"NOPE","v":1})", R"({"vt":"I2","v":70000})", R"({"vt":"UI4","v":-1})",
      R"({"vt":"I4"})", R"({"vt":"ARRAY|I4","v":[1,"x"]})", R"({"vt":"ARRAY|I4","v":5})",
      R"({"vt":"BSTR","v":3})", R"({"vt":"ARRAY|EMPTY","v":[]})", R"({"vt":"VARIANT","v":1})",
      R"({"vt":"ARRAY|I4","v":[],"lbound":"x"})",
      R"({"vt":"ARRAY|I4","v":[1,2],"lbound":2147483647})",
      R"({"vt":"DATE","v":"2026-13-01T00:00:00Z"})", R"({"vt":"DATE","v":"2026-12-06 10:00"})",
      R"({"vt":"DATE","v":"2026-12-06T10:00:00+01:00"})", R"({"vt":"DATE","v":"0050-01-01T00:00:00Z"})",
      R"({"vt":"I4","v":1.5})", R"({"vt":["I4"],"v":1})",
      R"({"vt":"ARRAY|I4","v":[{"vt":"I4","v":1}]})",
      R"({"vt":"ARRAY|BSTR","v":[["x"]]})",
      R"({"v":[1,[2,{"vt":"NOPE"}]],"vt":"ARRAY|VARIANT"})",
      R"({"vt":"I4","v":[1]})",
      R"({"vt":"BOOL","v":"true"})",
      R"({"vt":"I2","v":true})",
      R"({"vt":"ARRAY|I4","lbound":[1],"v":[1]})",
      R"({"vt":{"n":"I4"},"v":1})",
  };
  for (const char* text : bad) {
    AutoVariant v;
    std::string error;
    EXPECT_EQ(Read(text, &v, &error), vel::WireFault::kValue) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(v.get().vt, VT_EMPTY) << text;
  }
}

TEST(WireCodec, ArraysNest64LevelsDeepAndTheTextAtMost132) {
  std::string error;
  AutoVariant v;
  // Only one-dimensional arrays travel (the module makes no others).
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 0}};
  v.get().vt = VT_ARRAY | VT_I4;
  v.get().parray = SafeArrayCreate(VT_I4, 2, bounds);
  std::string text;
  EXPECT_FALSE(vel::WriteValue(v, &text, &error));
  EXPECT_NE(error.find("only one-dimensional arrays"), std::string::npos) << error;
  VariantClear(&v.get());

  // 64 arrays: the innermost element is at level 64.
  ASSERT_EQ(Read(Nested(64, "1"), &v, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(Write(v), Nested(64, "1"));
  // One level more is refused on both sides.
  AutoVariant deeper;
  VUtil::CreateArray(&deeper, VT_VARIANT, 1);
  VUtil::PutElement(&deeper, 0, v.get());
  EXPECT_FALSE(vel::WriteValue(deeper, &text, &error));
  EXPECT_NE(error.find("nesting"), std::string::npos) << error;
  EXPECT_EQ(Read(Nested(65, "1"), &v, &error), vel::WireFault::kValue);
  EXPECT_NE(error.find("nesting too deep"), std::string::npos) << error;
  // An empty array at level 64 holds nothing deeper.
  ASSERT_EQ(Read(Nested(65, ""), &v, &error), vel::WireFault::kNone) << error;
  // A typed array's elements are plain values, not levels.
  const std::string typed = Nested(64, R"({"lbound":2,"v":[1,2],"vt":"ARRAY|I4"})");
  ASSERT_EQ(Read(typed, &v, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(Write(v), typed);
  // An array in its typed form is one level too, though two in the text.
  std::string variants = R"({"lbound":2,"v":[1],"vt":"ARRAY|VARIANT"})";
  for (int level = 1; level < 64; ++level) {
    variants = R"({"lbound":2,"v":[)" + variants + R"(],"vt":"ARRAY|VARIANT"})";
  }
  ASSERT_EQ(Read(variants, &v, &error), vel::WireFault::kNone) << error;
  EXPECT_EQ(Write(v), variants);
  EXPECT_EQ(Read("[" + variants + "]", &v, &error), vel::WireFault::kValue);
  EXPECT_NE(error.find("nesting too deep"), std::string::npos) << error;
  // The text itself: refused where it gets too deep, whatever follows.
  EXPECT_EQ(Read(Nested(132, ""), &v, &error), vel::WireFault::kValue);
  EXPECT_NE(error.find("nesting too deep"), std::string::npos) << error;
  EXPECT_EQ(Read(Nested(133, ""), &v, &error), vel::WireFault::kText);
  EXPECT_NE(error.find("nesting deeper than 132"), std::string::npos) << error;
  EXPECT_EQ(Read(std::string(1000000, '['), &v, &error), vel::WireFault::kText);
  EXPECT_NE(error.find("nesting deeper than 132"), std::string::npos) << error;
  EXPECT_EQ(v.get().vt, VT_EMPTY);
}

// Text as the product holds it: one wchar_t per character, of any plane.
rc::Gen<std::wstring> Text() {
  return rc::gen::container<std::wstring>(
      rc::gen::oneOf(rc::gen::inRange<wchar_t>(1, 0x80), rc::gen::inRange<wchar_t>(1, 0xD7FF),
                     rc::gen::inRange<wchar_t>(0xE000, 0x110000)));
}

RC_GTEST_PROP(WireCodec, RandomValuesRoundTrip, ()) {
  const VARTYPE scalars[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
                             VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_BSTR, VT_ERROR, VT_INT, VT_UINT};
  std::function<void(VARIANT*, int)> make = [&](VARIANT* v, int depth) {
    VariantInit(v);
    // 0 empty/null, 1-2 scalar, 3 array of VARIANT, 4 typed array
    int kind = *rc::gen::inRange(0, depth > 2 ? 3 : 5);
    if (kind == 0) {
      v->vt = *rc::gen::element<VARTYPE>(VT_EMPTY, VT_NULL);
    } else if (kind <= 2) {
      VARTYPE vt = *rc::gen::elementOf(std::vector<VARTYPE>(std::begin(scalars), std::end(scalars)));
      v->vt = vt;
      v->ullVal = *rc::gen::arbitrary<uint64_t>();
      if (vt == VT_BSTR) {
        std::wstring text = *Text();
        v->bstrVal = SysAllocString(text.c_str());
      } else if (vt == VT_R4 && std::isnan(v->fltVal)) {
        v->fltVal = 1.0f;
      } else if ((vt == VT_R8 || vt == VT_DATE) && std::isnan(v->dblVal)) {
        v->dblVal = 2.0;
      } else if (vt != VT_I8 && vt != VT_UI8 && vt != VT_R8 && vt != VT_DATE) {
        v->ullVal &= 0xffffffffu;  // only the low bytes belong to the value
        if (vt == VT_R4) v->fltVal = static_cast<float>(v->ulVal % 1000) / 8.0f;
      }
    } else if (kind == 4) {
      VARTYPE vt = *rc::gen::elementOf(std::vector<VARTYPE>(std::begin(scalars), std::end(scalars)));
      int n = *rc::gen::inRange(0, 4);
      LONG lbound = *rc::gen::inRange(-3, 3);
      SAFEARRAY* psa = SafeArrayCreateVector(vt, lbound, n);
      void* data = nullptr;
      SafeArrayAccessData(psa, &data);
      for (int i = 0; i < n; ++i) {
        char* p = static_cast<char*>(data) + static_cast<size_t>(i) * psa->cbElements;
        if (vt == VT_BSTR) {
          std::wstring text = *Text();
          *reinterpret_cast<BSTR*>(p) = SysAllocString(text.c_str());
        } else {
          uint64_t bits = *rc::gen::arbitrary<uint64_t>();
          std::memcpy(p, &bits, psa->cbElements);
        }
      }
      SafeArrayUnaccessData(psa);
      v->vt = VT_ARRAY | vt;
      v->parray = psa;
    } else {
      int n = *rc::gen::inRange(0, 4);
      LONG lbound = *rc::gen::inRange(-2, 3);
      SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, lbound, n);
      for (LONG i = 0; i < n; ++i) {
        VARIANT element;
        make(&element, depth + 1);
        LONG index = lbound + i;
        SafeArrayPutElement(psa, &index, &element);
        VariantClear(&element);
      }
      v->vt = VT_ARRAY | VT_VARIANT;
      v->parray = psa;
    }
  };
  AutoVariant original;
  make(&original, 0);
  std::string first, second, error;
  RC_ASSERT(vel::WriteValue(original, &first, &error));
  // The bytes are those of the same document dumped by the JSON library.
  RC_ASSERT(json::parse(first).dump() == first);
  AutoVariant decoded;
  RC_ASSERT(vel::ReadWire(first.data(), first.size(), vel::WireShape::kValue, nullptr, &decoded,
                          &error) == vel::WireFault::kNone);
  RC_ASSERT(vel::WriteValue(decoded, &second, &error));
  RC_ASSERT(first == second);
  RC_ASSERT(decoded.get().vt == original.get().vt);
}

}  // namespace

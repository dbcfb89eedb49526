#include "vel/WireCodec.h"

#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "support/VUtil.h"

using nlohmann::json;

namespace {

// Decodes the text into a VARIANT and encodes it back.
std::string RoundTrip(const std::string& text, VARIANT* v) {
  std::string error;
  EXPECT_TRUE(vel::DecodeVariant(json::parse(text), v, &error)) << text << ": " << error;
  json back;
  EXPECT_TRUE(vel::EncodeVariant(*v, &back, &error)) << error;
  return back.dump();
}

TEST(WireCodec, HandWrittenFormsDecodeToTheirTypesAndComeBackTheSame) {
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
    std::string back = RoundTrip(c.text, &v);
    EXPECT_EQ(v.get().vt, c.vt) << c.text;
    EXPECT_EQ(json::parse(back), json::parse(c.text)) << c.text;
  }
  AutoVariant date;
  RoundTrip(R"({"vt":"DATE","v":25569.5})", &date);
  EXPECT_EQ(VUtil::DateToSeconds(date.get().date), 43200);
  // Dates may also be written as UTC times; they come back as OLE days.
  struct DateCase {
    const char* text;
    double date;
  } dates[] = {
      {R"({"vt":"DATE","v":"1970-01-01T12:00:00Z"})", 25569.5},
      {R"({"vt":"DATE","v":"2026-12-06T10:00:00"})", 46362.0 + 10.0 / 24},
      {R"({"vt":"DATE","v":"1899-12-29T06:00:00.000Z"})", -1.25},
      {R"({"vt":"DATE","v":"1899-12-30T00:00:00.5Z"})", 0.5 / 86400},
  };
  for (const DateCase& c : dates) {
    AutoVariant v;
    std::string error;
    ASSERT_TRUE(vel::DecodeVariant(json::parse(c.text), &v, &error)) << c.text << ": " << error;
    EXPECT_EQ(v.get().vt, VT_DATE) << c.text;
    EXPECT_NEAR(v.get().date, c.date, 1e-9) << c.text;
  }
  AutoVariant bounded;
  RoundTrip(R"({"vt":"ARRAY|I4","v":[7,8],"lbound":1})", &bounded);
  EXPECT_THROW(VUtil::GetArrayLength(bounded), VelInvalidParameterException);
}

TEST(WireCodec, MalformedInputIsRefusedWithAMessage) {
  const char* bad[] = {
      R"({"v":1})", R"({"vt":"NOPE","v":1})", R"({"vt":"I2","v":70000})", R"({"vt":"UI4","v":-1})",
      R"({"vt":"I4"})", R"({"vt":"ARRAY|I4","v":[1,"x"]})", R"({"vt":"ARRAY|I4","v":5})",
      R"({"vt":"BSTR","v":3})", R"({"vt":"ARRAY|EMPTY","v":[]})", R"({"vt":"VARIANT","v":1})",
      R"({"vt":"ARRAY|I4","v":[],"lbound":"x"})",
      R"({"vt":"ARRAY|I4","v":[1,2],"lbound":2147483647})",
      R"({"vt":"DATE","v":"2026-13-01T00:00:00Z"})", R"({"vt":"DATE","v":"2026-12-06 10:00"})",
      R"({"vt":"DATE","v":"2026-12-06T10:00:00+01:00"})", R"({"vt":"DATE","v":"0050-01-01T00:00:00Z"})",
      R"({"vt":"I4","v":1.5})", R"({"vt":["I4"],"v":1})",
  };
  for (const char* text : bad) {
    AutoVariant v;
    std::string error;
    EXPECT_FALSE(vel::DecodeVariant(json::parse(text), &v, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(v.get().vt, VT_EMPTY) << text;
  }
  std::string deep(200, '[');
  deep += std::string(200, ']');
  AutoVariant v;
  std::string error;
  EXPECT_FALSE(vel::DecodeVariant(json::parse(deep), &v, &error));

  vel::WireRequest request;
  EXPECT_FALSE(vel::DecodeRequest("not json", 8, &request, &error));
  EXPECT_FALSE(vel::DecodeRequest("[1]", 3, &request, &error));
  vel::WireReply reply;
  EXPECT_FALSE(vel::DecodeReply(R"({"out":1})", 9, &reply, &error));
}

TEST(WireCodec, EnvelopesCarryMethodNamesAndTextUnchanged) {
  std::wstring method = L"Extract Image From Video \U0001F600";
  std::string data = vel::EncodeRequest(method, json("x"));
  vel::WireRequest request;
  std::string error;
  ASSERT_TRUE(vel::DecodeRequest(data.data(), data.size(), &request, &error)) << error;
  EXPECT_EQ(request.method, method);
  data = vel::EncodeReply(-7, json("why"));
  vel::WireReply reply;
  ASSERT_TRUE(vel::DecodeReply(data.data(), data.size(), &reply, &error));
  EXPECT_EQ(reply.ret, -7);
  EXPECT_EQ(reply.out, json("why"));
}

// Random VARIANT trees survive encode -> text -> decode -> encode.
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
        std::wstring text = *rc::gen::container<std::wstring>(rc::gen::inRange<wchar_t>(1, 0xD7FF));
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
          std::wstring text = *rc::gen::container<std::wstring>(rc::gen::inRange<wchar_t>(1, 0xD7FF));
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
  json first, second;
  std::string error;
  RC_ASSERT(vel::EncodeVariant(original, &first, &error));
  AutoVariant decoded;
  RC_ASSERT(vel::DecodeVariant(json::parse(first.dump()), &decoded, &error));
  RC_ASSERT(vel::EncodeVariant(decoded, &second, &error));
  RC_ASSERT(first == second);
  RC_ASSERT(decoded.get().vt == original.get().vt);
}

}  // namespace

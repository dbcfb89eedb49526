#include "platform/Variant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

BSTR Bstr(const wchar_t* text) { return SysAllocString(text); }

std::wstring Text(BSTR b) { return b == nullptr ? L"<null>" : std::wstring(b, SysStringLen(b)); }

VARIANT StringVariant(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Bstr(text);
  return v;
}

// A VT_VARIANT vector holding the given texts.
VARIANT TextArray(std::initializer_list<const wchar_t*> texts) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
  LONG i = 0;
  for (const wchar_t* t : texts) {
    VARIANT s = StringVariant(t);
    EXPECT_EQ(SafeArrayPutElement(v.parray, &i, &s), S_OK);
    VariantClear(&s);
    ++i;
  }
  return v;
}

std::wstring TextAt(const VARIANT& array, LONG i) {
  VARIANT e;
  VariantInit(&e);
  if (FAILED(SafeArrayGetElement(array.parray, &i, &e))) return L"<bad index>";
  std::wstring result = e.vt == VT_BSTR ? Text(e.bstrVal) : L"<vt " + std::to_wstring(e.vt) + L">";
  VariantClear(&e);
  return result;
}

SYSTEMTIME Time(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0) {
  return SYSTEMTIME{y, mo, 0, d, h, mi, s, 0};
}

}  // namespace

TEST(Variant, BstrKeepsByteLengthPrefix) {
  BSTR b = Bstr(L"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<char*>(b) - sizeof(uint32_t), sizeof(prefix));
  EXPECT_EQ(prefix, 3 * sizeof(wchar_t));
  EXPECT_EQ(b[3], L'\0');
  SysFreeString(b);

  const wchar_t withNul[] = {L'a', L'\0', L'b'};
  b = SysAllocStringLen(withNul, 3);
  EXPECT_EQ(Text(b), std::wstring(withNul, 3));
  SysFreeString(b);

  b = SysAllocStringLen(nullptr, 2);  // zeroed buffer of that length
  EXPECT_EQ(SysStringLen(b), 2u);
  EXPECT_EQ(b[0], L'\0');
  SysFreeString(b);

  EXPECT_TRUE(SysAllocString(nullptr) == nullptr && SysStringLen(nullptr) == 0);
  SysFreeString(nullptr);
}

TEST(Variant, VectorElementTypes) {
  const struct {
    VARTYPE vt;
    ULONG size;
  } supported[] = {
      {VT_VARIANT, sizeof(VARIANT)}, {VT_BSTR, sizeof(BSTR)}, {VT_I1, 1}, {VT_UI1, 1},
      {VT_I2, 2}, {VT_UI2, 2}, {VT_BOOL, 2}, {VT_I4, 4}, {VT_UI4, 4}, {VT_INT, 4},
      {VT_UINT, 4}, {VT_R4, 4}, {VT_ERROR, 4}, {VT_I8, 8}, {VT_UI8, 8}, {VT_R8, 8},
      {VT_DATE, 8},
  };
  for (const auto& c : supported) {
    SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 0, 4);
    ASSERT_NE(psa, nullptr) << c.vt;
    EXPECT_EQ(psa->cbElements, c.size);
    EXPECT_EQ(psa->vt, c.vt);
    EXPECT_EQ(SafeArrayGetDim(psa), 1u);
    EXPECT_EQ((psa->fFeatures & FADF_BSTR) != 0, c.vt == VT_BSTR);
    EXPECT_EQ((psa->fFeatures & FADF_VARIANT) != 0, c.vt == VT_VARIANT);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
  for (VARTYPE vt : std::initializer_list<VARTYPE>{VT_EMPTY, VT_NULL, VT_CY, VT_DISPATCH, VT_UNKNOWN, VT_DECIMAL,
                     static_cast<VARTYPE>(VT_ARRAY | VT_I4), static_cast<VARTYPE>(99)}) {
    EXPECT_EQ(SafeArrayCreateVector(vt, 0, 1), nullptr) << vt;
  }
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, nullptr), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

// Indices count from the lower bound (the product's arrays start at 0:
// VUtil.ArrayLength; out of range there is VUtil.ReaderErrors and Writers).
TEST(Variant, ElementAccessHonoursBounds) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 5, 3);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
  EXPECT_EQ(upper, 7);
  for (LONG i = 5; i <= 7; ++i) {
    int32_t value = i * 10;
    EXPECT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
  }
  for (LONG i : {4, 8, -1, 0}) {
    int32_t value = 0;
    EXPECT_EQ(SafeArrayGetElement(psa, &i, &value), DISP_E_BADINDEX) << i;
    EXPECT_EQ(SafeArrayPutElement(psa, &i, &value), DISP_E_BADINDEX) << i;
  }
  LONG i = 6;
  int32_t value = 0;
  EXPECT_EQ(SafeArrayGetElement(psa, &i, &value), S_OK);
  EXPECT_EQ(value, 60);
  SafeArrayDestroy(psa);
}

TEST(Variant, ElementsAreCopiedInAndOut) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR source = Bstr(L"first");
  LONG i = 0;
  EXPECT_EQ(SafeArrayPutElement(strings, &i, source), S_OK);
  source[0] = L'F';  // the array holds its own copy
  SysFreeString(source);
  EXPECT_EQ(SafeArrayPutElement(strings, &i, nullptr), S_OK);  // replaces (and frees) the old text
  BSTR out = nullptr;
  EXPECT_EQ(SafeArrayGetElement(strings, &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  i = 1;
  BSTR second = Bstr(L"second");
  SafeArrayPutElement(strings, &i, second);
  SysFreeString(second);
  EXPECT_EQ(SafeArrayGetElement(strings, &i, &out), S_OK);
  EXPECT_EQ(Text(out), L"second");
  out[0] = L'X';
  SysFreeString(out);
  EXPECT_EQ(SafeArrayGetElement(strings, &i, &out), S_OK);
  EXPECT_EQ(Text(out), L"second");
  SysFreeString(out);
  SafeArrayDestroy(strings);

  VARIANT array = TextArray({L"a", L"b"});
  VARIANT got = StringVariant(L"previous");  // cleared by the read
  i = 1;
  EXPECT_EQ(SafeArrayGetElement(array.parray, &i, &got), S_OK);
  EXPECT_EQ(Text(got.bstrVal), L"b");
  got.bstrVal[0] = L'Z';
  EXPECT_EQ(TextAt(array, 1), L"b");
  VariantClear(&got);
  VariantClear(&array);
}

TEST(Variant, CopyIsDeepAndClearFreesEverythingButALockedArray) {
  // [ "top", [ "inner", [ "deepest" ] ] ]
  VARIANT deepest = TextArray({L"deepest"});
  VARIANT inner = TextArray({L"inner", L"slot"});
  LONG one = 1;
  ASSERT_EQ(SafeArrayPutElement(inner.parray, &one, &deepest), S_OK);
  VARIANT outer = TextArray({L"top", L"slot"});
  ASSERT_EQ(SafeArrayPutElement(outer.parray, &one, &inner), S_OK);
  VariantClear(&deepest);
  VariantClear(&inner);

  VARIANT copy = StringVariant(L"overwritten");
  ASSERT_EQ(VariantCopy(&copy, &outer), S_OK);
  EXPECT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_NE(copy.parray, outer.parray);
  // Change the original's nested text in place; the copy must not see it.
  VARIANT* outerItems = static_cast<VARIANT*>(outer.parray->pvData);
  VARIANT* innerItems = static_cast<VARIANT*>(outerItems[1].parray->pvData);
  VARIANT* deepItems = static_cast<VARIANT*>(innerItems[1].parray->pvData);
  deepItems[0].bstrVal[0] = L'D';
  EXPECT_EQ(VariantClear(&outer), S_OK);
  EXPECT_EQ(outer.vt, VT_EMPTY);

  VARIANT* copyItems = static_cast<VARIANT*>(copy.parray->pvData);
  EXPECT_EQ(Text(copyItems[0].bstrVal), L"top");
  VARIANT* copyInner = static_cast<VARIANT*>(copyItems[1].parray->pvData);
  EXPECT_EQ(Text(copyInner[0].bstrVal), L"inner");
  EXPECT_EQ(TextAt(copyInner[1], 0), L"deepest");

  // Copying onto itself changes nothing; copying a part of dest onto dest works.
  EXPECT_EQ(VariantCopy(&copy, &copy), S_OK);
  EXPECT_EQ(TextAt(copy, 0), L"top");
  EXPECT_EQ(VariantCopy(&copy, &copyItems[1]), S_OK);
  EXPECT_EQ(TextAt(copy, 0), L"inner");
  VariantClear(&copy);

  VARIANT s = StringVariant(L"text");
  VARIANT t;
  VariantInit(&t);
  EXPECT_EQ(VariantCopy(&t, &s), S_OK);
  EXPECT_NE(t.bstrVal, s.bstrVal);
  VariantClear(&s);
  EXPECT_EQ(Text(t.bstrVal), L"text");
  VariantClear(&t);
  EXPECT_EQ(VariantCopy(nullptr, &t), E_INVALIDARG);

  // A locked array stays until unlocked.
  VARIANT v = TextArray({L"x"});
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(v.parray, &data), S_OK);
  EXPECT_EQ(data, v.parray->pvData);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(SafeArrayUnaccessData(v.parray), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(v.parray), E_UNEXPECTED);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Variant, SystemTimeToOleDate) {
  const struct {
    SYSTEMTIME st;
    double date;
  } cases[] = {
      {Time(1899, 12, 30), 0.0},
      {Time(1899, 12, 31), 1.0},
      {Time(1900, 1, 1), 2.0},
      {Time(1899, 12, 30, 6), 0.25},
      {Time(1899, 12, 29, 6), -1.25},  // negative: the fraction still counts forward
      {Time(1899, 12, 29, 18), -1.75},
      {Time(1899, 12, 29), -1.0},
      {Time(1970, 1, 1, 12), 25569.5},
      {Time(2024, 2, 29, 18), 45351.75},
      {Time(100, 1, 1), -657434.0},
      {Time(9999, 12, 31, 23, 59, 59), 2958465.0 + 86399.0 / 86400.0},
  };
  for (const auto& c : cases) {
    DATE date = 123;
    ASSERT_TRUE(SystemTimeToVariantTime(&c.st, &date)) << c.st.wYear;
    EXPECT_NEAR(date, c.date, 1e-9) << c.st.wYear << "-" << c.st.wMonth << "-" << c.st.wDay;
  }
  const SYSTEMTIME invalid[] = {Time(2023, 2, 29), Time(1900, 2, 29), Time(2024, 13, 1),
                                Time(2024, 0, 1),  Time(2024, 4, 31), Time(99, 12, 31),
                                Time(10000, 1, 1), Time(2024, 1, 1, 24), Time(2024, 1, 1, 0, 60),
                                Time(2024, 1, 1, 0, 0, 60)};
  for (const SYSTEMTIME& st : invalid) {
    DATE date = 0;
    EXPECT_FALSE(SystemTimeToVariantTime(&st, &date)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
  }
}

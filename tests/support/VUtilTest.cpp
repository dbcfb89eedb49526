#include "support/VUtil.h"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::wstring Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const VelInvalidParameterException& e) {
    EXPECT_EQ(e.getCode(), 1);
    return e.getMessage();
  }
  return L"<nothing thrown>";
}

// [ "text", 42, empty, true, date 25569.5, short -3, ushort 65535, 2.5, 1.5f,
//   null, uint 7, [bytes 1 2 3], [I4 array] ]
void FillMixed(VARIANT* params) {
  VUtil::CreateArray(params, VT_VARIANT, 13);
  VUtil::PutElement(params, 0, std::wstring(L"text"));
  VUtil::PutElement(params, 1, 42);
  VUtil::PutElement(params, 3, true);
  VUtil::PutDateElement(params, 4, 43200);
  VUtil::PutElement(params, 5, static_cast<short>(-3));
  VUtil::PutElement(params, 6, static_cast<unsigned short>(65535));
  VUtil::PutElement(params, 7, 2.5);
  VUtil::PutElement(params, 8, 1.5f);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  VUtil::PutElement(params, 9, null);
  VUtil::PutElement(params, 10, 7u);
  AutoVariant bytes;
  const unsigned char raw[] = {1, 2, 3};
  VUtil::PutBinaryIntoVariant(&bytes, raw, 3);
  VUtil::PutElement(params, 11, bytes.get());
  AutoVariant longs;
  VUtil::CreateArray(&longs, VT_I4, 1);
  VUtil::PutElement(&longs, 0, 5);
  VUtil::PutElement(params, 12, longs.get());
}

// A VARIANT holding a SAFEARRAY with the given lower bound.
void MakeVector(VARIANT* out, VARTYPE vt, LONG lower, ULONG count) {
  VariantClear(out);
  out->vt = VT_ARRAY | vt;
  out->parray = SafeArrayCreateVector(vt, lower, count);
}

}  // namespace

TEST(VUtil, ExceptionIsAVelException) {
  try {
    AutoVariant empty;
    VUtil::GetArrayLength(empty.get());
    FAIL();
  } catch (const VelException& e) {
    EXPECT_EQ(e.getCode(), 1);
    EXPECT_STREQ(e.what(), "Variant passed to VUtil::GetArrayLength is not an array");
  }
  EXPECT_THROW(VUtil::GetLongElement(AutoVariant().get(), 0), std::exception);
}

TEST(VUtil, DateConversion) {
  const struct {
    double date;
    int64_t seconds;
  } toSeconds[] = {
      {25569.5, 43200},   {25569.0, 0},  {25570.0, 86400},
      {0.0, -2209161600}, {1.0, -2209075200},
      {25569.0 + 1.0 / 86400.0 - 1e-9, 1},  // rounds to the nearest second
      {45351.75, 1709229600},              // 2024-02-29 18:00
      {-1.25, -2209269599},  // the day truncates toward zero, the fraction counts back
  };
  for (const auto& c : toSeconds) EXPECT_EQ(VUtil::DateToSeconds(c.date), c.seconds) << c.date;
  EXPECT_EQ(VUtil::DateToSeconds(NAN), 0);
  EXPECT_NO_THROW(VUtil::DateToSeconds(1e308));
  EXPECT_NO_THROW(VUtil::DateToSeconds(-INFINITY));
}

RC_GTEST_PROP(VUtil, SecondsRoundTripThroughDates, ()) {
  // From the first whole day after the OLE epoch to the end of year 9999.
  const int64_t seconds = *rc::gen::inRange<int64_t>(-25568LL * 86400, 253402300800LL);
  RC_ASSERT(VUtil::DateToSeconds(VUtil::SecondsToDate(seconds)) == seconds);
}

TEST(VUtil, ReadersOfVariantArrays) {
  AutoVariant p;
  FillMixed(&p);
  const VARIANT& a = p.get();
  EXPECT_EQ(VUtil::GetStringElement(a, 0) + L"|" + VUtil::GetStringElement(a, 2), L"text|");
  EXPECT_EQ((std::vector<int64_t>{VUtil::GetLongElement(a, 1), VUtil::GetIntElement(a, 1),
                                  VUtil::GetLongOrEmptyElement(a, 1),
                                  VUtil::GetLongOrEmptyElement(a, 2), VUtil::GetBoolElement(a, 3),
                                  VUtil::GetDateElement(a, 4), VUtil::GetShortElement(a, 5),
                                  VUtil::GetUShortElement(a, 6), VUtil::GetArrayLength(a)}),
            (std::vector<int64_t>{42, 42, 42, 0, 1, 43200, -3, 65535, 13}));
  // A float reader accepts a double.
  EXPECT_EQ((std::vector<double>{VUtil::GetDoubleElement(a, 7), VUtil::GetFloatElement(a, 7),
                                 VUtil::GetFloatElement(a, 8)}),
            (std::vector<double>{2.5, 2.5, 1.5}));

  // Bool-like: empty and null are false, numbers true when not 0.
  const struct {
    long index;
    bool expected;
  } boolLike[] = {{1, true}, {2, false}, {3, true}, {5, true}, {6, true}, {9, false}, {10, true}};
  for (const auto& c : boolLike) EXPECT_EQ(VUtil::GetBoolLikeElement(a, c.index), c.expected) << c.index;

  AutoVariant element;
  VUtil::GetElement(a, 0, &element);
  EXPECT_EQ(element.get().vt, VT_BSTR);
  VUtil::GetElement(a, 1, &element);  // the previous value is cleared first
  EXPECT_EQ(element.get().vt, VT_I4);

  long length = 0;
  unsigned char* bytes = VUtil::GetByteArrayElement(a, 11, &length);
  const std::vector<unsigned char> expected{1, 2, 3};
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + length), expected);
  delete[] bytes;
  std::vector<unsigned char> vec, chars;
  VUtil::GetByteArrayElement(a, 11, &vec);
  VUtil::GetCharArrayElement(a, 11, &chars);
  EXPECT_EQ(vec, expected);
  EXPECT_EQ(chars, expected);
}

TEST(VUtil, ReaderErrors) {
  AutoVariant p;
  FillMixed(&p);
  const VARIANT& a = p.get();
  AutoVariant strings;
  VUtil::CreateArray(&strings, VT_BSTR, 1);
  const VARIANT& s = strings.get();
  long n = 0;
  std::vector<unsigned char> v;
  AutoVariant out;
  const struct {
    std::function<void()> read;
    const wchar_t* message;
  } cases[] = {
      {[&] { VUtil::GetStringElement(a, 1); }, L"Element is not a string"},
      {[&] { VUtil::GetStringElement(AutoVariant().get(), 0); },
       L"Not an array of variant or string"},
      {[&] { VUtil::GetStringElement(a, 13); }, L"SafeArrayGetElement failed in VUtil::GetElement"},
      {[&] { VUtil::GetStringElement(a, 1L << 40); },
       L"SafeArrayGetElement failed in VUtil::GetElement"},
      {[&] { VUtil::GetLongElement(a, 2); }, L"Element is not a long"},
      {[&] { VUtil::GetLongElement(s, 0); }, L"Not an array of variant or long"},
      {[&] { VUtil::GetLongOrEmptyElement(a, 0); }, L"Element is not a long"},
      {[&] { VUtil::GetIntElement(a, 0); }, L"Element is not an int"},
      {[&] { VUtil::GetIntElement(s, 0); }, L"Not an array of variant or int"},
      {[&] { VUtil::GetBoolElement(a, 1); }, L"Element is not a bool"},
      {[&] { VUtil::GetBoolElement(s, 0); }, L"Not an array of variant or bool"},
      {[&] { VUtil::GetBoolLikeElement(a, 0); }, L"Element is not a bool"},
      {[&] { VUtil::GetBoolLikeElement(s, 0); }, L"Not an array of variant or bool"},
      {[&] { VUtil::GetDateElement(a, 7); }, L"Element is not a date"},
      {[&] { VUtil::GetDateElement(s, 0); }, L"Not an array of variant or date"},
      {[&] { VUtil::GetDateElement(a, 99); },
       L"SafeArrayGetElement failed in VUtil::GetDateElement"},
      {[&] { VUtil::GetShortElement(a, 6); }, L"Element is not a short"},
      {[&] { VUtil::GetShortElement(s, 0); }, L"Not an array of variant or short"},
      {[&] { VUtil::GetUShortElement(a, 5); }, L"Element is not an unsigned short"},
      {[&] { VUtil::GetUShortElement(s, 0); }, L"Not an array of variant or unsigned short"},
      {[&] { VUtil::GetDoubleElement(a, 8); }, L"Element is not a double"},
      {[&] { VUtil::GetDoubleElement(s, 0); }, L"Not an array of variant or double"},
      {[&] { VUtil::GetFloatElement(a, 1); }, L"Element is not a float or a double"},
      {[&] { VUtil::GetFloatElement(s, 0); }, L"Not an array of variant, float or double"},
      {[&] { VUtil::GetByteArrayElement(s, 0, &n); }, L"Not an array of variant: 8200"},
      {[&] { VUtil::GetByteArrayElement(a, 12, &n); },
       L"Element is not an array of unsigned char: 8195"},
      {[&] { VUtil::GetByteArrayElement(s, 0, &v); }, L"Not an array of variant"},
      {[&] { VUtil::GetByteArrayElement(a, 0, &v); }, L"Element is not an unsigned char array"},
      {[&] { VUtil::GetCharArrayElement(a, 12, &v); },
       L"Element is not an array of (unsigned) char: 8195"},
      {[&] { VUtil::GetElement(s, 0, &out); },
       L"Variant passed to VUtil::GetElement is not a variant array"},
      {[&] { VUtil::GetElement(a, 20, &out); }, L"SafeArrayGetElement failed in VUtil::GetElement"},
  };
  for (const auto& c : cases) EXPECT_EQ(Thrown(c.read), c.message);
}

// Each typed form reads its own array type and names it when it gets another.
TEST(VUtil, TypedArrayReaders) {
  AutoVariant wrong;
  VUtil::CreateArray(&wrong, VT_VARIANT, 1);
  const VARIANT& w = wrong.get();
  std::wstring text;
  long l = 0;
  int i = 0;
  double d = 0;
  float f = 0;
  unsigned long ul = 0;
  short sh = 0;
  bool b = false;
  unsigned short us = 0;
  const struct {
    VARTYPE vt;
    std::function<void(const VARIANT&)> read;
    const wchar_t* message;
  } cases[] = {
      {VT_BSTR, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &text); }, L"a string array"},
      {VT_I4, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &l); }, L"a long array"},
      {VT_I4, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &i); }, L"an int array"},
      {VT_R8, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &d); }, L"a double array"},
      {VT_R4, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &f); }, L"a float array"},
      {VT_UI4, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &ul); }, L"a unsigned long array"},
      {VT_I2, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &sh); }, L"a short array"},
      {VT_BOOL, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &sh); }, L"a short array"},
      {VT_BOOL, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &b); }, L"a short array"},
      {VT_UI2, [&](const VARIANT& v) { VUtil::GetElement(v, 0, &us); }, L"a unsigned short array"},
  };
  for (const auto& c : cases) {
    AutoVariant array;
    VUtil::CreateArray(&array, c.vt, 1);
    EXPECT_NO_THROW(c.read(array.get())) << c.vt;
    EXPECT_EQ(Thrown([&] { c.read(w); }),
              std::wstring(L"Variant passed to VUtil::GetElement is not ") + c.message);
  }

  // Values written into typed arrays come back through both reader families;
  // an unset BSTR reads as empty.
  AutoVariant s, i4, u4, flag, r4, dates;
  VUtil::CreateArray(&s, VT_BSTR, 2);
  VUtil::PutElement(&s, 1, L"two");
  VUtil::CreateArray(&i4, VT_I4, 1);
  VUtil::PutElement(&i4, 0, -7);
  VUtil::CreateArray(&u4, VT_UI4, 1);
  VUtil::PutElement(&u4, 0, 4000000000u);
  VUtil::CreateArray(&flag, VT_BOOL, 1);
  VUtil::PutElement(&flag, 0, true);
  VUtil::CreateArray(&r4, VT_R4, 1);
  VUtil::PutElement(&r4, 0, 0.25f);
  VUtil::CreateArray(&dates, VT_DATE, 1);
  VUtil::PutDateElement(&dates, 0, 1709229600);
  VUtil::GetElement(s.get(), 1, &text);
  VUtil::GetElement(i4.get(), 0, &l);
  VUtil::GetElement(u4.get(), 0, &ul);
  VUtil::GetElement(flag.get(), 0, &b);
  EXPECT_EQ(text + L"|" + VUtil::GetStringElement(s.get(), 0), L"two|");
  EXPECT_EQ((std::vector<int64_t>{l, VUtil::GetLongElement(i4.get(), 0), static_cast<int64_t>(ul),
                                  b, VUtil::GetBoolElement(flag.get(), 0),
                                  VUtil::GetDateElement(dates.get(), 0)}),
            (std::vector<int64_t>{-7, -7, 4000000000LL, 1, 1, 1709229600}));
  EXPECT_EQ(VUtil::GetFloatElement(r4.get(), 0), 0.25f);
}

TEST(VUtil, ArrayLength) {
  AutoVariant v;
  EXPECT_EQ(VUtil::GetArrayLengthEmpty(v.get()), 0);
  EXPECT_EQ(Thrown([&] { VUtil::GetArrayLength(v.get()); }),
            L"Variant passed to VUtil::GetArrayLength is not an array");
  v.get().vt = VT_I4;
  EXPECT_EQ(Thrown([&] { VUtil::GetArrayLengthEmpty(v.get()); }),
            L"Variant passed to VUtil::GetArrayLengthEmpty is not an array");
  MakeVector(&v, VT_I4, 0, 3);
  EXPECT_EQ(VUtil::GetArrayLength(v.get()), 3);
  EXPECT_EQ(VUtil::GetArrayLengthEmpty(v.get()), 3);
  MakeVector(&v, VT_VARIANT, 0, 0);
  EXPECT_EQ(VUtil::GetArrayLength(v.get()), 0);
  MakeVector(&v, VT_VARIANT, 1, 3);
  EXPECT_EQ(Thrown([&] { VUtil::GetArrayLength(v.get()); }), L"Array is not zero indexed! (VUtil::GetArrayLength)");
  EXPECT_EQ(Thrown([&] { VUtil::GetArrayLengthEmpty(v.get()); }),
            L"Array is not zero indexed! (VUtil::GetArrayLength)");
  VariantClear(&v);
  v.get().vt = VT_ARRAY | VT_VARIANT;  // no SAFEARRAY behind it
  EXPECT_EQ(Thrown([&] { VUtil::GetArrayLength(v.get()); }), L"SafeArrayGetLBound failed in VUtil::GetArrayLength");
  EXPECT_EQ(Thrown([&] { VUtil::GetStringElement(v.get(), 0); }), L"SafeArrayGetElement failed in VUtil::GetElement");
  v.get().vt = VT_EMPTY;
}

TEST(VUtil, Writers) {
  AutoVariant a;
  VUtil::CreateArray(&a, VT_VARIANT, 2);
  EXPECT_EQ(a.get().vt, VT_ARRAY | VT_VARIANT);
  VUtil::PutElement(&a, 0, static_cast<unsigned char>(200));
  VUtil::PutElement(&a, 1, 9L);  // a long is the bus's 32-bit long
  AutoVariant e;
  VUtil::GetElement(a.get(), 0, &e);
  EXPECT_EQ(e.get().vt, VT_UI1);
  EXPECT_EQ(e.get().bVal, 200);
  EXPECT_EQ(VUtil::GetLongElement(a.get(), 1), 9);

  VUtil::ResizeArray(&a, 4);
  EXPECT_EQ(VUtil::GetArrayLength(a.get()), 4);
  EXPECT_EQ(VUtil::GetLongElement(a.get(), 1), 9);
  EXPECT_EQ(VUtil::GetLongOrEmptyElement(a.get(), 3), 0);
  VUtil::ResizeArray(&a, 1);
  EXPECT_EQ(VUtil::GetArrayLength(a.get()), 1);

  // A typed array takes a VARIANT of its own type.
  AutoVariant ints;
  VUtil::CreateArray(&ints, VT_I4, 1);
  AutoVariant four;
  four.get().vt = VT_I4;
  four.get().lVal = 4;
  VUtil::PutElement(&ints, 0, four.get());
  EXPECT_EQ(VUtil::GetLongElement(ints.get(), 0), 4);

  AutoVariant other;
  VUtil::CreateArray(&other, VT_DATE, 1);
  const struct {
    std::function<void()> write;
    const wchar_t* message;
  } cases[] = {
      {[&] { VUtil::PutElement(&other, 0, true); }, L"PutElement failed: not an array of BOOL nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, std::wstring(L"x")); }, L"PutElement failed: not an array of BSTR nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, L"x"); }, L"PutElement failed: not an array of BSTR nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, static_cast<short>(1)); }, L"PutElement failed: not an array of I2 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, static_cast<unsigned short>(1)); },
       L"PutElement failed: not an array of UI2 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, 1); }, L"PutElement failed: not an array of I4 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, 1u); }, L"PutElement failed: not an array of UI4 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, 1.0); }, L"PutElement failed: not an array of R8 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, 1.0f); }, L"PutElement failed: not an array of R4 nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, static_cast<unsigned char>(1)); },
       L"PutElement failed: not an array of UI1 nor VARIANT"},
      {[&] { VUtil::PutDateElement(&ints, 0, 0); }, L"PutElement failed: not an array of DATE nor VARIANT"},
      {[&] { VUtil::PutElement(&other, 0, four.get()); }, L"PutElement failed: not an array of VARIANT"},
      {[&] { VUtil::PutElement(&ints, 0, ints.get()); }, L"PutElement failed: not an array of VARIANT"},
      {[&] { VUtil::PutDateElement(&other, 1, 0); }, L"SafeArrayPutElement failed"},
      {[&] { VUtil::PutElement(&a, 5, 1); }, L"SafeArrayPutElement failed"},
      {[&] { VUtil::PutElement(&a, -1, four.get()); }, L"SafeArrayPutElement failed"},
      {[&] { VUtil::CreateArray(&other, VT_CY, 1); }, L"Could not create safe array"},
      {[&] { VUtil::CreateArray(&other, VT_I4, -1); }, L"Could not create safe array"},
      {[&] { VUtil::ResizeArray(&four, 2); }, L"Could not redimension safe array"},
      {[&] { VUtil::ResizeArray(&a, -2); }, L"Could not redimension safe array"},
      {[&] { VUtil::PutBinaryIntoVariant(&other, nullptr, -1); }, L"PutBinaryIntoVariant: could not create safe array"},
  };
  for (const auto& c : cases) EXPECT_EQ(Thrown(c.write), c.message);
  EXPECT_EQ(other.get().vt, VT_ARRAY | VT_DATE);  // failed creations left it alone

  VUtil::PutBinaryIntoVariant(&other, nullptr, 0);
  EXPECT_EQ(other.get().vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(VUtil::GetArrayLength(other.get()), 0);
}

TEST(VUtil, BorrowedAndMovedElements) {
  AutoVariant list, array;
  VUtil::CreateArray(&list, VT_VARIANT, 2);
  VUtil::PutPair(&list, 0, L"title", L"News");
  VUtil::PutPair(&list, 1, L"path", L"/rec/a.asf");
  VUtil::CreateArray(&array, VT_VARIANT, 2);
  // Moved: the array owns the list, the source is left empty.
  VUtil::MoveElement(&array, 1, &list.get());
  EXPECT_EQ(list.get().vt, VT_EMPTY);
  const VARIANT* borrowed = VUtil::BorrowElement(array.get(), 1);
  ASSERT_NE(borrowed, nullptr);
  std::wstring name, value;
  VUtil::GetPair(*borrowed, 1, &name, &value);
  EXPECT_EQ(name + L"=" + value, L"path=/rec/a.asf");
  EXPECT_EQ(VUtil::BorrowElement(array.get(), 0)->vt, VT_EMPTY);
  // Moving over an element frees what it held; the readers see the new one.
  AutoVariant other;
  VUtil::CreateArray(&other, VT_VARIANT, 1);
  VUtil::PutPair(&other, 0, L"title", L"Film");
  VUtil::MoveElement(&array, 1, &other.get());
  VUtil::GetPair(*VUtil::BorrowElement(array.get(), 1), 0, &name, &value);
  EXPECT_EQ(value, L"Film");
  // Out of range, typed arrays and scalars: nothing to borrow; moving fails.
  EXPECT_EQ(VUtil::BorrowElement(array.get(), 2), nullptr);
  EXPECT_EQ(VUtil::BorrowElement(array.get(), -1), nullptr);
  AutoVariant numbers;
  VUtil::CreateArray(&numbers, VT_I4, 1);
  EXPECT_EQ(VUtil::BorrowElement(numbers.get(), 0), nullptr);
  EXPECT_EQ(VUtil::BorrowElement(other.get(), 0), nullptr);  // emptied by the move
  AutoVariant text;
  text.get().vt = VT_BSTR;
  text.get().bstrVal = SysAllocString(L"x");
  EXPECT_THROW(VUtil::MoveElement(&array, 5, &text.get()), VelException);
}

TEST(VUtil, Pairs) {
  AutoVariant pairs;
  VUtil::CreateArray(&pairs, VT_VARIANT, 6);
  VUtil::PutPair(&pairs, 0, L"Title", L"News");
  // index 1 stays empty: a hole
  VUtil::PutPair(&pairs, 2, L"duration", 3600);
  VUtil::PutPair(&pairs, 3, L"title", L"second title");
  VUtil::PutPair(&pairs, 4, L"Count", L"42 items");
  AutoVariant rating;
  rating.get().vt = VT_R8;
  rating.get().dblVal = 4.5;
  VUtil::PutPair(&pairs, 5, L"rating", rating.get());

  std::wstring name, value;
  VUtil::GetPair(pairs.get(), 0, &name, &value);
  EXPECT_EQ(name, L"Title");
  EXPECT_EQ(value, L"News");

  EXPECT_TRUE(VUtil::FindPair(pairs.get(), L"title", &value));
  EXPECT_EQ(value, L"second title");  // exact case
  EXPECT_TRUE(VUtil::FindPairNoCase(pairs.get(), L"TITLE", &value));
  EXPECT_EQ(value, L"News");  // the first match wins
  EXPECT_FALSE(VUtil::FindPair(pairs.get(), L"TITLE", &value));
  EXPECT_FALSE(VUtil::FindPairNoCase(pairs.get(), L"missing", &value));

  int32_t number = 0;
  EXPECT_TRUE(VUtil::FindPairNoCase(pairs.get(), L"Duration", &number));
  EXPECT_EQ(number, 3600);
  EXPECT_TRUE(VUtil::FindPairNoCase(pairs.get(), L"count", &number));
  EXPECT_EQ(number, 42);
  EXPECT_TRUE(VUtil::FindPairNoCase(pairs.get(), L"title", &number));
  EXPECT_EQ(number, 0);  // text without digits
  AutoVariant found;
  EXPECT_TRUE(VUtil::FindPairNoCase(pairs.get(), L"RATING", &found));
  EXPECT_EQ(found.get().vt, VT_R8);
  EXPECT_EQ(found.get().dblVal, 4.5);

  AutoVariant strings;
  VUtil::CreateArray(&strings, VT_BSTR, 1);
  AutoVariant shortPair;
  VUtil::CreateArray(&shortPair, VT_VARIANT, 1);
  AutoVariant lone;
  VUtil::CreateArray(&lone, VT_VARIANT, 1);
  VUtil::PutElement(&lone, 0, L"name only");
  VUtil::PutElement(&shortPair, 0, lone.get());
  const struct {
    std::function<void()> call;
    const wchar_t* message;
  } errors[] = {
      {[&] { VUtil::FindPairNoCase(pairs.get(), L"rating", &number); },
       L"the value in the pair is neither a string nor an int"},
      {[&] { VUtil::FindPairNoCase(pairs.get(), L"duration", &value); }, L"Element is not a string"},
      {[&] { VUtil::FindPair(strings.get(), L"x", &value); }, L"Variant passed to VUtil::FindPair is not an array"},
      {[&] { VUtil::FindPairNoCase(AutoVariant().get(), L"x", &found); },
       L"Variant passed to VUtil::FindPair is not an array"},
      {[&] { VUtil::GetPair(strings.get(), 0, &name, &value); }, L"Variant passed to VUtil::GetPair is not an array"},
      {[&] { VUtil::GetPair(pairs.get(), 6, &name, &value); }, L"SafeArrayGetElement failed in VUtil::GetPair"},
      {[&] { VUtil::GetPair(pairs.get(), 1, &name, &value); }, L"Not an array of variant or string"},
      {[&] { VUtil::FindPair(shortPair.get(), L"name only", &value); },
       L"SafeArrayGetElement failed in VUtil::GetElement"},
      {[&] { VUtil::PutPair(&strings, 0, L"a", L"b"); }, L"PutPair: the given variant is not an array of variants"},
      {[&] { VUtil::PutPair(&pairs, 6, L"a", L"b"); }, L"PutPair failed"},
  };
  for (const auto& c : errors) EXPECT_EQ(Thrown(c.call), c.message);
}

TEST(VUtil, ReturnCodes) {
  AutoVariant codes;
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), nullptr); }),
            L"Vel error detected in VUtil::CheckSingleRetcode : hr = -1 - 0xffffffff");
  EXPECT_EQ(Thrown([&] { VUtil::GetSingleRetcode(codes.get()); }), L"VUtil::GetSingleRetcode wrong type");

  codes.get().vt = VT_I4;
  codes.get().lVal = 0;
  EXPECT_NO_THROW(VUtil::CheckSingleRetcode(codes.get(), L"x"));
  codes.get().lVal = 115;
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), nullptr); }),
            L"Vel error detected in VUtil::CheckSingleRetcode : hr = 115 - 0x73");
  EXPECT_EQ(VUtil::GetSingleRetcode(codes.get()), 115);
  codes.get().lVal = INT32_MIN;
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), nullptr); }),
            L"Vel error detected in VUtil::CheckSingleRetcode : hr = -2147483648 - 0x80000000");

  VUtil::CreateArray(&codes, VT_I4, 1);
  EXPECT_NO_THROW(VUtil::CheckSingleRetcode(codes.get(), nullptr));
  VUtil::PutElement(&codes, 0, 103);
  EXPECT_EQ(VUtil::GetSingleRetcode(codes.get()), 103);
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), L"Stop"); }),
            L"Stop: Vel error detected in VUtil::CheckSingleRetcode : hr = 103 - 0x67");
  VUtil::CreateArray(&codes, VT_VARIANT, 1);
  VUtil::PutElement(&codes, 0, 0);
  EXPECT_NO_THROW(VUtil::CheckSingleRetcode(codes.get(), nullptr));
  VUtil::PutElement(&codes, 0, L"zero");
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), L"Ask"); }),
            L"Ask: safeArrayGetElement failed in VUtil::CheckSingleRetcode : 'Element is not a long'");
  EXPECT_EQ(Thrown([&] { VUtil::GetSingleRetcode(codes.get()); }),
            L"safeArrayGetElement failed in VUtil::GetSingleRetcode : 'Element is not a long'");
  VUtil::CreateArray(&codes, VT_VARIANT, 0);
  EXPECT_EQ(Thrown([&] { VUtil::CheckSingleRetcode(codes.get(), nullptr); }),
            L"safeArrayGetElement failed in VUtil::CheckSingleRetcode : 'SafeArrayGetElement failed in VUtil::GetElement'");
}

TEST(VUtil, TypeChecks) {
  AutoVariant v;
  v.get().vt = VT_BSTR;
  EXPECT_NO_THROW(VUtil::checkType(v.get(), VT_BSTR, nullptr));
  EXPECT_EQ(Thrown([&] { VUtil::checkType(v.get(), VT_I4, nullptr); }), L"checkType failed, got 8, expected 3");
  EXPECT_EQ(Thrown([&] { VUtil::checkType(v.get(), VT_I4, L"in"); }), L"in: checkType failed, got 8, expected 3");
  v.get().vt = VT_EMPTY;

  VUtil::CreateArray(&v, VT_VARIANT, 3);
  EXPECT_NO_THROW(VUtil::checkArrayType(v.get(), VT_VARIANT, 3, false, nullptr));
  EXPECT_NO_THROW(VUtil::checkArrayType(v.get(), VT_VARIANT, 2, true, nullptr));
  const struct {
    VARTYPE type;
    long length;
    bool atLeast;
    const wchar_t* name;
    const wchar_t* message;
  } cases[] = {
      {VT_BSTR, 3, false, nullptr, L"checkArrayType failed, got 8204, expected 8200"},
      {VT_BSTR, 3, false, L"GetConflicts", L"GetConflicts: checkArrayType failed, got 8204, expected 8200"},
      {VT_VARIANT, 2, false, nullptr, L"checkArrayType failed, got length 3, expect 2"},
      {VT_VARIANT, 4, false, nullptr, L"checkArrayType failed, got length 3, expect 4"},
      {VT_VARIANT, 4, true, L"p", L"p: checkArrayType failed, got length 3, expect 4+"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Thrown([&] { VUtil::checkArrayType(v.get(), c.type, c.length, c.atLeast, c.name); }), c.message);
  }
}

TEST(VUtil, SingleOutParamString) {
  AutoVariant out;
  VUtil::CreateArray(&out, VT_VARIANT, 1);
  VUtil::PutElement(&out, 0, L"medium-17");
  EXPECT_EQ(VUtil::GetSingleOutParamString(out.get()), L"medium-17");
  VUtil::CreateArray(&out, VT_BSTR, 1);
  VUtil::PutElement(&out, 0, L"direct");
  EXPECT_EQ(VUtil::GetSingleOutParamString(out.get()), L"direct");
  VUtil::CreateArray(&out, VT_VARIANT, 1);
  VUtil::PutElement(&out, 0, 5);
  EXPECT_EQ(Thrown([&] { VUtil::GetSingleOutParamString(out.get()); }),
            L"outParam is not a BSTR in VUtil::GetSingleOutParamString");
  VUtil::CreateArray(&out, VT_VARIANT, 0);
  EXPECT_EQ(Thrown([&] { VUtil::GetSingleOutParamString(out.get()); }),
            L"SafeArrayGetElement failed in VUtil::GetSingleOutParamString");
  EXPECT_EQ(Thrown([&] { VUtil::GetSingleOutParamString(AutoVariant().get()); }),
            L"SafeArrayGetElement failed in VUtil::GetSingleOutParamString");
}

TEST(VUtil, DumpArrays) {
  AutoVariant v;
  VUtil::CreateArray(&v, VT_VARIANT, 3);
  VUtil::PutElement(&v, 0, L"name");
  AutoVariant inner;
  VUtil::CreateArray(&inner, VT_I4, 2);
  VUtil::PutElement(&inner, 0, 1);
  VUtil::PutElement(&inner, 1, -2);
  VUtil::PutElement(&v, 1, inner.get());
  AutoVariant bytes;
  const unsigned char raw[] = {9, 9};
  VUtil::PutBinaryIntoVariant(&bytes, raw, 2);
  VUtil::PutElement(&v, 2, bytes.get());
  EXPECT_EQ(VUtil::DumpVariant(v.get(), L"in"),
            L"Dumping in:   <var vt=\"VT_ARRAY|VT_VARIANT\" count=\"3\">\r\n"
            L"    <var vt=\"VT_BSTR\">name</var>\r\n"
            L"    <var vt=\"VT_ARRAY|VT_I4\" count=\"2\">\r\n"
            L"    <var vt=\"VT_I4\">1</var>\r\n"
            L"    <var vt=\"VT_I4\">-2</var>\r\n"
            L"    </var>\r\n"
            L"    <var vt=\"VT_ARRAY|VT_UI1\" count=\"2\" />\r\n"
            L"  </var>\r\n");

  VUtil::CreateArray(&v, VT_BOOL, 1);  // a typed array it has no form for
  EXPECT_EQ(VUtil::DumpVariant(v.get(), L""), L"Dumping :   <var vt=\"8203 (unknown)\" />\r\n");

  // A read error ends the value that failed, and only that one.
  AutoVariant oneBased;
  MakeVector(&oneBased, VT_I4, 1, 1);
  VUtil::CreateArray(&v, VT_VARIANT, 2);
  VUtil::PutElement(&v, 0, oneBased.get());
  VUtil::PutElement(&v, 1, true);
  EXPECT_EQ(VUtil::DumpVariant(v.get(), L"e"),
            L"Dumping e:   <var vt=\"VT_ARRAY|VT_VARIANT\" count=\"2\">\r\n"
            L"    <Error>Array is not zero indexed! (VUtil::GetArrayLength)</Error>\r\n"
            L"    <var vt=\"VT_BOOL\">TRUE</var>\r\n"
            L"  </var>\r\n");
}

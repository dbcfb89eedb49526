// A bus value in its wire form, to compare a request whole.
#ifndef TEV_TESTS_DB_BUSWIRE_H_
#define TEV_TESTS_DB_BUSWIRE_H_

#include <string>

#include <gtest/gtest.h>

#include "vel/WireCodec.h"

namespace dbtest {

inline std::string Wire(const VARIANT& value) {
  nlohmann::json json;
  std::string error;
  EXPECT_TRUE(vel::EncodeVariant(value, &json, &error)) << error;
  return json.dump();
}

}  // namespace dbtest

#endif  // TEV_TESTS_DB_BUSWIRE_H_

// A satellite offering "Echo": the answer is the request's value and the
// result code given at construction.
#ifndef TEV_TESTS_COMMON_ECHOSATELLITE_H_
#define TEV_TESTS_COMMON_ECHOSATELLITE_H_

#include <string>

#include "vel/VelSatellite.h"

namespace tev {
namespace test {

class EchoSatellite : public VelSatellite {
 public:
  explicit EchoSatellite(int result = 0) : result_(result) {}
  void DefineServices() override { AddService(L"Echo", L"Echo", new Echo(result_)); }

 private:
  struct Echo : VelSatelliteDelegateGeneric {
    explicit Echo(int result) : result(result) {}
    int invoke(const std::wstring&, const VARIANT& in, VARIANT* out) override {
      VariantCopy(out, &in);
      return result;
    }
    int result;
  };
  int result_;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_ECHOSATELLITE_H_

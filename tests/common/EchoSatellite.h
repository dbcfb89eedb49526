// A satellite offering "Echo" of the request's value, with a fixed result code.
#ifndef TEV_TESTS_COMMON_ECHOSATELLITE_H_
#define TEV_TESTS_COMMON_ECHOSATELLITE_H_

#include "tests/common/OfferingSatellite.h"

namespace tev {
namespace test {

class EchoSatellite : public OfferingSatellite {
 public:
  explicit EchoSatellite(int result = 0) {
    Offer(L"Echo", [result](const VARIANT& in, VARIANT* out) {
      VariantCopy(out, &in);
      return result;
    });
  }
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_ECHOSATELLITE_H_

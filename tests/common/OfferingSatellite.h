// A satellite whose services are functions given before Connect.
#ifndef TEV_TESTS_COMMON_OFFERINGSATELLITE_H_
#define TEV_TESTS_COMMON_OFFERINGSATELLITE_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "vel/VelSatellite.h"

namespace tev {
namespace test {

class OfferingSatellite : public VelSatellite {
 public:
  typedef std::function<int(const VARIANT& in, VARIANT* out)> Service;

  // REQUIRES: before Connect (services are defined while connecting).
  void Offer(const std::wstring& method, Service service) {
    offers_.emplace_back(method, std::move(service));
  }
  void DefineServices() override {
    for (auto& offer : offers_) AddService(offer.first, offer.first, new Delegate(offer.second));
  }

 private:
  struct Delegate : VelSatelliteDelegateGeneric {
    explicit Delegate(Service s) : service(std::move(s)) {}
    int invoke(const std::wstring&, const VARIANT& in, VARIANT* out) override {
      return service(in, out);
    }
    Service service;
  };
  std::vector<std::pair<std::wstring, Service>> offers_;
};

}  // namespace test
}  // namespace tev

#endif  // TEV_TESTS_COMMON_OFFERINGSATELLITE_H_

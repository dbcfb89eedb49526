// A stand-in for the media library on a real loopback bus: a satellite
// that answers the requests the upgrade and the pass store send
// ("AddMedium", "ChangeMediaId", "SetThumbnailUrl", "GetMediaFromSource",
// "SetMediaAttributes", and "IsReady" for a whole module) and records each one with a copy of its
// parameters. Handlers run on the bus library's threads; the record is
// read by the test after the requests returned.
#ifndef TEV_TESTS_DB_MEDIALIBRARYSTANDIN_H_
#define TEV_TESTS_DB_MEDIALIBRARYSTANDIN_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bus/CVelAtl.h"
#include "support/VUtil.h"
#include "tests/common/NatsServer.h"
#include "tests/common/OfferingSatellite.h"
#include "tests/db/DbTestSupport.h"
#include "vel/VelSatellite.h"

namespace dbtest {

class MediaLibraryStandIn : public tev::test::OfferingSatellite {
 public:
  struct Request {
    std::wstring method;
    std::shared_ptr<AutoVariant> in;  // deep copy
  };
  // One medium answered by "GetMediaFromSource": [source, key, id, value of
  // the first asked property].
  struct Medium {
    std::wstring id;
    std::wstring firstProperty;
  };

  MediaLibraryStandIn() {
    for (const wchar_t* name : {L"AddMedium", L"ChangeMediaId", L"SetThumbnailUrl",
                                L"GetMediaFromSource", L"SetMediaAttributes", L"IsReady"}) {
      Offer(name, [this](const std::wstring& method, const VARIANT& in, VARIANT* out) {
        return Answer(method, in, out);
      });
    }
  }
  ~MediaLibraryStandIn() override { Disconnect(); }

  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::vector<Request> Requests(const std::wstring& method) {
    std::vector<Request> matching;
    for (const Request& r : Requests()) {
      if (r.method == method) matching.push_back(r);
    }
    return matching;
  }
  void SetMedia(const std::vector<Medium>& media) {
    std::lock_guard<std::mutex> lock(mutex_);
    media_ = media;
  }
  // Makes `method` answer with this result code instead of 0.
  // `method` answers `code` (0: succeeds again) after `after` more calls
  // that succeed.
  void FailWith(const std::wstring& method, int code, int after = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[method] = code;
    failAfter_[method] = after;
  }

  // --- Reading recorded parameters ---
  // The pairs of a property list, values as text (integers in decimal).
  static std::vector<std::pair<std::wstring, std::wstring>> Pairs(const VARIANT& list) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (long i = 0; i < VUtil::GetArrayLength(list); ++i) {
      AutoVariant pair, value;
      VUtil::GetElement(list, i, &pair);
      VUtil::GetElement(pair.get(), 1, &value);
      std::wstring text;
      if (value.get().vt == VT_I4) {
        text = std::to_wstring(value.get().lVal);
      } else if (value.get().vt == VT_BSTR) {
        text = VUtil::GetStringElement(pair.get(), 1);
      } else {
        text = L"<vt " + std::to_wstring(value.get().vt) + L">";
      }
      pairs.emplace_back(VUtil::GetStringElement(pair.get(), 0), text);
    }
    return pairs;
  }
  static std::vector<std::wstring> Strings(const VARIANT& array) {
    std::vector<std::wstring> texts;
    for (long i = 0; i < VUtil::GetArrayLengthEmpty(array); ++i) {
      texts.push_back(VUtil::GetStringElement(array, i));
    }
    return texts;
  }
  static void Element(const VARIANT& array, long index, VARIANT* out) {
    VUtil::GetElement(array, index, out);
  }

 private:
  int Answer(const std::wstring& method, const VARIANT& in, VARIANT* out) {
    auto copy = std::make_shared<AutoVariant>();
    VariantCopy(&copy->get(), &in);
    std::vector<Medium> media;
    int failure = 0;
    int serial = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back({method, copy});
      media = media_;
      auto f = failures_.find(method);
      if (f != failures_.end() && failAfter_[method]-- <= 0) failure = f->second;
      if (method == L"AddMedium") serial = ++published_;
    }
    if (failure != 0) return failure;
    if (method == L"AddMedium") {
      VUtil::CreateArray(out, VT_VARIANT, 1);
      VUtil::PutElement(out, 0, L"M" + std::to_wstring(serial));
    } else if (method == L"ChangeMediaId") {
      AutoVariant keys, ids;
      VUtil::GetElement(in, 0, &keys);
      const std::vector<std::wstring> old = Strings(keys.get());
      VUtil::CreateArray(&ids, VT_BSTR, static_cast<long>(old.size()));
      for (size_t i = 0; i < old.size(); ++i) VUtil::PutElement(&ids, static_cast<long>(i), L"new-" + old[i]);
      VUtil::CreateArray(out, VT_VARIANT, 1);
      VUtil::PutElement(out, 0, ids.get());
    } else if (method == L"GetMediaFromSource") {
      AutoVariant list;
      VUtil::CreateArray(&list, VT_VARIANT, static_cast<long>(media.size()));
      for (size_t i = 0; i < media.size(); ++i) {
        AutoVariant item;
        VUtil::CreateArray(&item, VT_VARIANT, 4);
        VUtil::PutElement(&item, 0, L"PVR");
        VUtil::PutElement(&item, 1, L"key");
        VUtil::PutElement(&item, 2, media[i].id);
        VUtil::PutElement(&item, 3, media[i].firstProperty);
        VUtil::PutElement(&list, static_cast<long>(i), item.get());
      }
      VUtil::CreateArray(out, VT_VARIANT, 1);
      VUtil::PutElement(out, 0, list.get());
    }
    return 0;
  }

  std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<Medium> media_;
  std::map<std::wstring, int> failures_;
  std::map<std::wstring, int> failAfter_;
  int published_ = 0;
};

// A database fixture with the module's endpoint ("ZoVIZ") and the
// stand-in ("TevMediaV2") on a loopback nats-server.
class BusFixture : public DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(server_.Start());
    ASSERT_EQ(media_.Connect(server_.HostPort(), L"TevMediaV2"), 0);
    ASSERT_EQ(vel_.Connect(server_.HostPort(), L"ZoVIZ"), 0);
  }
  void TearDown() override {
    vel_.Disconnect();
    media_.Disconnect();
    DbFixture::TearDown();
  }

  tev::test::NatsServer server_;
  MediaLibraryStandIn media_;
  CVelAtl vel_{nullptr};
};

}  // namespace dbtest

#endif  // TEV_TESTS_DB_MEDIALIBRARYSTANDIN_H_

// A person's edits in the stand-in media library reach the medium's source,
// which may refuse them; the source's own changes never come back to it.
#include <string>

#include <gtest/gtest.h>

#include "peers/MediaStore.h"
#include "peers/Peers.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/LoopbackBus.h"

namespace {

using nlohmann::json;
using namespace tev::peers;

class MediaStoreEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok());
    std::string error;
    ASSERT_TRUE(store_.Open(dir_.path() + "/media.db", &error)) << error;
    store_.Attach(library_);
    ASSERT_EQ(library_.Join(bus_.host()), 0);
    ASSERT_EQ(source_.Join(bus_.host()), 0);
    ASSERT_EQ(person_.Join(bus_.host()), 0);
    id_ = store_.Add(L"PVR", {{"path", "/r/a.asf"}, {"title", "Old"}, {"genre", "News"},
                              {"sourceSatellite", "ZoVIZ"}, {"updateCallback", "UpdateMedium"}});
  }
  // A request of the person; the return code (-100 on a bus failure).
  int Ask(const std::wstring& method, const Value& in) {
    AutoVariant out, retcodes;
    if (person_.Request(L"TevMediaV2", method, in.get(), &out, 0, &retcodes) != 0) return -100;
    return static_cast<int>(VUtil::GetSingleRetcode(retcodes));
  }
  std::string Title() {
    json props;
    return store_.Get(id_, &props) ? props.value("title", std::string()) : std::string("<gone>");
  }

  peertest::LoopbackBus bus_;
  dbtest::TempDir dir_;
  MediaStore store_;
  MediaLibraryPeer library_;
  ScriptedPeer source_{L"ZoVIZ", {L"UpdateMedium"}};
  ScriptedPeer person_{L"velctl", {}};
  std::wstring id_;
};

TEST_F(MediaStoreEdit, EditsReachTheSourceAndRefusalsAreUndone) {
  Value rename = Value::Array({Value::Str(id_), Value::Pairs({{L"title", Value::Str(L"New")}})});
  EXPECT_EQ(Ask(L"UserEditMedium", rename), 0);
  EXPECT_EQ(Title(), "New");
  ASSERT_EQ(source_.CountOf(L"UpdateMedium"), 1u);
  Value heard = source_.RequestsOf(L"UpdateMedium").back();
  EXPECT_EQ(VUtil::GetLongElement(heard.get(), 0), 0);
  EXPECT_EQ(VUtil::GetStringElement(heard.get(), 1), id_);
  AutoVariant pairs;
  VUtil::GetElement(heard.get(), 2, &pairs);
  std::wstring title;
  ASSERT_TRUE(VUtil::FindPair(pairs.get(), L"title", &title));
  EXPECT_EQ(title, L"New");
  // The index follows the edit.
  EXPECT_EQ(store_.Find({{"title", "New"}}).size(), 1u);
  EXPECT_TRUE(store_.Find({{"title", "Old"}}).empty());

  source_.SetReply(L"UpdateMedium", 403);
  Value again = Value::Array({Value::Str(id_), Value::Pairs({{L"title", Value::Str(L"Refused")}})});
  EXPECT_EQ(Ask(L"UserEditMedium", again), 403);
  EXPECT_EQ(Title(), "New");
  EXPECT_EQ(Ask(L"UserDeleteMedium", Value::Array({Value::Str(id_)})), 403);
  EXPECT_EQ(Title(), "New");

  source_.ResetReply(L"UpdateMedium");
  EXPECT_EQ(Ask(L"UserDeleteMedium", Value::Array({Value::Str(id_)})), 0);
  EXPECT_EQ(Title(), "<gone>");
  heard = source_.RequestsOf(L"UpdateMedium").back();
  EXPECT_EQ(VUtil::GetLongElement(heard.get(), 0), 1);
  EXPECT_TRUE(store_.Find({{"title", "New"}}).empty());

  // Unknown media are refused as parameters; the library goes on serving.
  EXPECT_EQ(Ask(L"UserEditMedium", rename), 1);
  EXPECT_EQ(Ask(L"UserDeleteMedium", Value::Array({Value::Str(L"M999")})), 1);
}

TEST_F(MediaStoreEdit, AnUnreachableSourceLeavesTheMediumAsItWas) {
  source_.Leave();
  Value rename = Value::Array({Value::Str(id_), Value::Pairs({{L"title", Value::Str(L"New")}})});
  EXPECT_NE(Ask(L"UserEditMedium", rename), 0);
  EXPECT_EQ(Title(), "Old");
}

TEST_F(MediaStoreEdit, TheSourcesOwnChangesDoNotComeBack) {
  AutoVariant out, retcodes;
  Value list = Value::Pairs({{L"tevMediumId", Value::Str(id_)}, {L"title", Value::Str(L"Mine")}});
  ASSERT_EQ(source_.Request(L"any", L"AddMedium",
                            Value::Array({Value::Str(L"PVR"), list, Value(), Value::Bool(true)}).get(),
                            &out, 0, &retcodes),
            0);
  Value attributes = Value::Array({Value::Str(L""), Value::StringArray({id_}),
                                   Value::Pairs({{L"genre", Value::Str(L"Drama")}}), Value::Bool(true)});
  ASSERT_EQ(source_.Request(L"any", L"SetMediaAttributes", attributes.get(), &out, 0, &retcodes), 0);
  EXPECT_EQ(Title(), "Mine");
  EXPECT_EQ(store_.Find({{"genre", "Drama"}}).size(), 1u);
  EXPECT_EQ(source_.CountOf(L"UpdateMedium"), 0u);
}

}  // namespace

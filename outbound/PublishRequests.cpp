// Publishing to the media library: the engine's and the passes' property
// lists in the bus's form, and the identifiers the library answers.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "outbound/PeerClient.h"
#include "support/VUtil.h"
#include "support/VelException.h"

namespace {

// An array of [name, value] pairs.
void PutProperties(const MediumProperties& list, VARIANT* out) {
  VUtil::CreateArray(out, VT_VARIANT, static_cast<long>(list.Size()));
  for (size_t i = 0; i < list.Size(); ++i) {
    const MediumProperty& property = list[i];
    if (property.isNumber) {
      VUtil::PutPair(out, static_cast<long>(i), property.name, property.number);
    } else {
      VUtil::PutPair(out, static_cast<long>(i), property.name, property.text);
    }
  }
}

// ["PVR", lists, -, flag]; `lists` is moved in.
void PutPublication(VARIANT* lists, bool flag, VARIANT* in) {
  VUtil::CreateArray(in, VT_VARIANT, 4);
  VUtil::PutElement(in, 0, L"PVR");
  VUtil::MoveElement(in, 1, lists);
  VUtil::PutElement(in, 3, flag);
}

}  // namespace

long PeerClient::AddMedium(const MediumProperties& list, bool flag, std::wstring* firstOut) {
  AutoVariant properties, in, out, retcodes;
  PutProperties(list, &properties.get());
  PutPublication(&properties.get(), flag, &in.get());
  const long result = Request(L"any", L"AddMedium", in, &out, &retcodes);
  *firstOut = VUtil::GetStringElement(out, 0);
  return result;
}

std::unique_ptr<PeerClient::Pending> PeerClient::PostAddMedium(const MediumProperties& list,
                                                                    bool flag) {
  AutoVariant properties, in;
  PutProperties(list, &properties.get());
  PutPublication(&properties.get(), flag, &in.get());
  return Post(L"any", L"AddMedium", in);
}

long PeerClient::CollectAddMedium(std::unique_ptr<PeerClient::Pending> posted,
                               std::wstring* mediumId) {
  AutoVariant out, retcodes;
  const long result = Collect(std::move(posted), &out, &retcodes);
  if (result != 0) return result;
  VUtil::CheckSingleRetcode(retcodes, L"AddMedium");
  *mediumId = VUtil::GetSingleOutParamString(out);
  return 0;
}

std::unique_ptr<PeerClient::Pending> PeerClient::PostAddMedia(
    const std::vector<MediumProperties>& lists, bool flag) {
  AutoVariant array, in;
  VUtil::CreateArray(&array, VT_VARIANT, static_cast<long>(lists.size()));
  for (size_t i = 0; i < lists.size(); ++i) {
    AutoVariant one;
    PutProperties(lists[i], &one.get());
    VUtil::MoveElement(&array, static_cast<long>(i), &one.get());
  }
  PutPublication(&array.get(), flag, &in.get());
  return Post(L"any", L"AddMedia", in);
}

long PeerClient::CollectAddMedia(std::unique_ptr<PeerClient::Pending> posted, long expected,
                              std::vector<std::wstring>* ids) {
  AutoVariant out, retcodes, answered;
  const long result = Collect(std::move(posted), &out, &retcodes);
  VUtil::GetElement(out, 0, &answered);
  if (VUtil::GetArrayLength(answered.get()) == expected) {
    ids->resize(expected);
    for (long i = 0; i < expected; ++i) (*ids)[i] = VUtil::GetStringElement(answered.get(), i);
  }
  return result;
}

namespace {

// A one-dimensional array of texts.
void PutTexts(const std::vector<std::wstring>& texts, VARIANT* out) {
  VUtil::CreateArray(out, VT_BSTR, static_cast<long>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) VUtil::PutElement(out, static_cast<long>(i), texts[i]);
}

}  // namespace

long PeerClient::GetMediaFromSource(const wchar_t* addressee, const std::vector<std::wstring>& names,
                                 const std::vector<long>& slots, long minimumSlots,
                                 bool skipUnreadable,
                                 std::vector<std::vector<std::wstring>>* media) {
  AutoVariant in, out, retcodes, nameArray, list;
  PutTexts(names, &nameArray.get());
  VUtil::CreateArray(&in, VT_VARIANT, 4);
  VUtil::PutElement(&in, 0, L"PVR");
  VUtil::PutElement(&in, 3, nameArray.get());
  const long result = Request(addressee, L"GetMediaFromSource", in, &out, &retcodes);
  if (result != 0) return result;
  VUtil::CheckSingleRetcode(retcodes, L"GetMediaFromSource");
  VUtil::GetElement(out.get(), 0, &list);
  if ((list.get().vt & VT_ARRAY) == 0) return 0;
  const long count = VUtil::GetArrayLength(list.get());
  media->reserve(count);
  for (long i = 0; i < count; ++i) {
    AutoVariant element;
    VUtil::GetElement(list.get(), i, &element);
    if (skipUnreadable && (!(element.get().vt & VT_ARRAY) ||
                           VUtil::GetArrayLength(element.get()) < minimumSlots)) {
      continue;
    }
    std::vector<std::wstring> texts;
    texts.reserve(slots.size());
    for (long slot : slots) texts.push_back(VUtil::GetStringElement(element.get(), slot));
    media->push_back(std::move(texts));
  }
  return 0;
}

long PeerClient::SetThumbnailUrl(const std::wstring& mediumId, const std::wstring& file) {
  AutoVariant in, out, retcodes;
  VUtil::CreateArray(&in, VT_VARIANT, 3);
  VUtil::PutElement(&in, 0, mediumId);
  VUtil::PutElement(&in, 1, file);
  VUtil::PutElement(&in, 2, false);
  return Request(L"any", L"SetThumbnailUrl", in, &out, &retcodes);
}

long PeerClient::ChangeMediaId(const std::wstring& key, std::wstring* newId) {
  AutoVariant in, out, retcodes, keys, newIds;
  PutTexts({key}, &keys.get());
  VUtil::CreateArray(&in, VT_VARIANT, 1);
  VUtil::PutElement(&in, 0, keys.get());
  const long result = Request(L"any", L"ChangeMediaId", in, &out, &retcodes);
  if (result != 0) return result;
  VUtil::CheckSingleRetcode(retcodes, L"ChangeMediaId");
  VUtil::GetElement(out.get(), 0, &newIds);
  *newId = VUtil::GetStringElement(newIds.get(), 0);
  return 0;
}

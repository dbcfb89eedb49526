// Outbound requests to the media library: readiness, removal and attribute
// changes of media. Every operation builds its parameter array, sends it
// with flags 0 and handles a bus failure, a non-zero return code and a
// malformed reply as its contract in PeerClient.h says; none lets a bus
// exception escape.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "db/LocalIds.h"
#include "db/Schedule.h"
#include "outbound/PeerClient.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

// A VT_VARIANT array holding `texts` as strings, in order.
void PutStringArray(VARIANT* array, const std::vector<std::wstring>& texts) {
  VUtil::CreateArray(array, VT_VARIANT, static_cast<long>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) {
    VUtil::PutElement(array, static_cast<long>(i), texts[i]);
  }
}

// A PairArray of the one pair (name, value).
void PutSinglePair(VARIANT* pairs, const std::wstring& name, const std::wstring& value) {
  VUtil::CreateArray(pairs, VT_VARIANT, 1);
  VUtil::PutPair(pairs, 0, name, value);
}

}  // namespace

int PeerClient::IsTevMediaReady() {
  AutoVariant in, out, retcodes;
  try {
    long result = Request(L"TevMediaV2", L"IsReady", in, &out, &retcodes);
    if (result != 0) return static_cast<int>(result);
    VUtil::CheckSingleRetcode(retcodes, L"TevMediaV2");
    return 0;
  } catch (const VelException& e) {
    LogDebug(L"IsTevMediaReady: %ls", e.getMessage().c_str());
    return 1;
  }
}

void PeerClient::DeleteMedium(int localId, bool isPass, bool remove) {
  try {
    std::wstring mediumId =
        isPass ? LocalIds::GetPassMediumId(localId) : LocalIds::GetScheduleMediumId(localId);
    DeleteMedium(mediumId, remove, isPass);
  } catch (const VelException& e) {
    LogError(L"DeleteMedium: %ls", e.getMessage().c_str());
  }
}

void PeerClient::DeleteMedium(const std::wstring& mediumId, bool remove, bool isPass) {
  try {
    DeleteMedia(std::vector<std::wstring>{mediumId}, remove, isPass);
  } catch (const VelException& e) {
    LogError(L"DeleteMedium: %ls", e.getMessage().c_str());
  }
}

void PeerClient::DeleteMedia(const std::set<std::wstring>& mediumIds, bool remove, bool isPass) {
  if (mediumIds.empty()) return;
  try {
    DeleteMedia(std::vector<std::wstring>(mediumIds.begin(), mediumIds.end()), remove, isPass);
  } catch (const VelException& e) {
    LogError(L"DeleteMedia: %ls", e.getMessage().c_str());
  }
}

void PeerClient::DeleteMedia(const std::vector<std::wstring>& mediumIds, bool remove, bool isPass) {
  try {
    // Plans and passes leave the library; a recording stays there under a
    // "deleted." type so that clients can still tell what it was.
    std::set<std::wstring> removal;
    std::vector<std::wstring> retypedIds, names, mediaTypes;
    for (const std::wstring& id : mediumIds) {
      if (isPass) {
        removal.insert(id);
        continue;
      }
      std::wstring mediaType = Schedule::GetMediaTypeFromMediumId(id);
      if (mediaType.find(L"schedule") != std::wstring::npos) {
        removal.insert(id);
      } else {
        retypedIds.push_back(id);
        names.push_back(L"mediaType");
        mediaTypes.push_back(L"deleted." + mediaType);
      }
    }

    if (!removal.empty()) {
      AutoVariant in, out, retcodes, ids;
      VUtil::CreateArray(&in, VT_VARIANT, 5);
      VUtil::PutElement(&in, 0, L"PVR");
      VUtil::CreateArray(&ids, VT_VARIANT, static_cast<long>(removal.size()));
      long index = 0;
      for (const std::wstring& id : removal) {
        AutoVariant pairs;
        PutSinglePair(&pairs, L"tevMediumId", id);
        VUtil::PutElement(&ids, index++, pairs.get());
        LogDebug(L"DeleteMedium %ls", id.c_str());
      }
      VUtil::PutElement(&in, 1, ids.get());
      VUtil::PutElement(&in, 3, false);
      VUtil::PutElement(&in, 4, remove);
      long result = Request(L"any", L"RemoveImportedMedia", in, &out, &retcodes);
      if (result != 0) {
        LogError(L"DeleteMedia vel request: %x", static_cast<unsigned>(result));
      }
    }

    if (!retypedIds.empty()) {
      SetMediaAttributes(retypedIds, names, mediaTypes);
    }
  } catch (const VelException& e) {
    LogError(L"DeleteMedia: %ls", e.getMessage().c_str());
  }
}

void PeerClient::SetMediaAttribute(const std::vector<std::wstring>& mediumIds,
                                   const std::wstring& name, const std::wstring& value) {
  try {
    AutoVariant in, out, retcodes, ids, pairs;
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, std::wstring());
    PutStringArray(&ids, mediumIds);
    for (const std::wstring& id : mediumIds) {
      LogDebug(L"SetMediumAttribute %ls: %ls = %ls", id.c_str(), name.c_str(), value.c_str());
    }
    VUtil::PutElement(&in, 1, ids.get());
    PutSinglePair(&pairs, name, value);
    VUtil::PutElement(&in, 2, pairs.get());
    VUtil::PutElement(&in, 3, true);
    long result = Request(L"any", L"SetMediaAttributes", in, &out, &retcodes);
    if (result != 0) {
      LogError(L"SetMediaAttribute vel request: %x", static_cast<unsigned>(result));
    }
  } catch (const VelException& e) {
    LogError(L"SetMediaAttribute: %ls", e.getMessage().c_str());
  }
}

void PeerClient::SetMediaAttributes(const std::vector<std::wstring>& mediumIds,
                                    const std::vector<std::wstring>& names,
                                    const std::vector<std::wstring>& values) {
  try {
    // The three lists are parallel; a shorter one limits them all rather
    // than reading past its end.
    size_t count = std::min(mediumIds.size(), std::min(names.size(), values.size()));
    AutoVariant in, out, retcodes, list;
    VUtil::CreateArray(&in, VT_VARIANT, 3);
    VUtil::PutElement(&in, 0, std::wstring());
    VUtil::CreateArray(&list, VT_VARIANT, static_cast<long>(count));
    for (size_t i = 0; i < count; ++i) {
      AutoVariant entry, pairs;
      VUtil::CreateArray(&entry, VT_VARIANT, 2);
      VUtil::PutElement(&entry, 0, mediumIds[i]);
      PutSinglePair(&pairs, names[i], values[i]);
      VUtil::PutElement(&entry, 1, pairs.get());
      VUtil::PutElement(&list, static_cast<long>(i), entry.get());
      LogDebug(L"SetMediumAttributes %ls: %ls = %ls", mediumIds[i].c_str(), names[i].c_str(),
               values[i].c_str());
    }
    VUtil::PutElement(&in, 1, list.get());
    VUtil::PutElement(&in, 2, true);
    long result = Request(L"any", L"SetMediaAttributeList", in, &out, &retcodes);
    if (result != 0) {
      LogError(L"SetMediaAttributes vel request: %x", static_cast<unsigned>(result));
    }
  } catch (const VelException& e) {
    LogError(L"SetMediaAttribute: %ls", e.getMessage().c_str());
  }
}

#include "web/MediumEdits.h"

namespace web {

using nlohmann::json;

velctl::Answer EditMedium(BusLink& bus, const std::string& id, const std::string& name,
                          const json& value, const json& libraryValue) {
  velctl::Answer answer =
      bus.Call("ZoVIZ", "UpdateMedium", json::array({0, id, json::array({json::array({name, value})})}));
  if (answer.exit != velctl::kOk || libraryValue.is_null()) return answer;
  velctl::Answer mirrored = bus.Call(
      "any", "SetMediaAttributes",
      json::array({"", json::array({id}), json::array({json::array({name, libraryValue})}), true}));
  if (mirrored.exit != velctl::kOk) {
    mirrored.error = "the module took the change, but the media library did not: " + mirrored.error;
  }
  return mirrored;
}

velctl::Answer RemoveMedium(BusLink& bus, const std::string& id) {
  velctl::Answer answer = bus.Call("ZoVIZ", "UpdateMedium", json::array({1, id}));
  if (answer.exit != velctl::kOk) return answer;
  const json entry = json::array({json::array({"tevMediumId", id})});
  return bus.Call("any", "RemoveImportedMedia",
                  json::array({"PVR", json::array({entry}), {{"vt", "EMPTY"}}, false, true}));
}

velctl::Answer StopRecording(BusLink& bus, const std::string& id) {
  return bus.Call("ZoVIZ", "CancelScheduledRecording", id);
}

}  // namespace web

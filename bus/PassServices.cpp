// "AddTevPass": a season pass made from an existing schedule (its medium id
// in element 7) or from a description (elements 8 to 13, read only when the
// array has 14 elements; a shorter one describes a pass with no start,
// length, channel or programme, which makes no episodes until edited). A
// malformed request leaves as VelInvalidParameterException before anything
// is stored.
#include <functional>
#include <memory>
#include <string>

#include "bus/CVelAtl.h"
#include "bus/EngineAnswers.h"
#include "db/LocalIds.h"
#include "db/GroupSync.h"
#include "engine/Schedules.h"
#include "passes/EpisodeRow.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

const int kPassRefused = 112;

void Require(bool condition, const wchar_t* message) {
  if (!condition) throw VelInvalidParameterException(message);
}

}  // namespace

int CVelAtl::AddTevPass(const std::wstring&, const VARIANT& in, VARIANT* out) {
  PassDescription pass;
  pass.user = VUtil::GetStringElement(in, 0);
  pass.restrictToOneChannel = VUtil::GetBoolElement(in, 1);
  pass.scheduleMode = VUtil::GetLongElement(in, 2);
  pass.quality = VUtil::GetStringElement(in, 3);
  pass.keepUntil = VUtil::GetLongElement(in, 4);
  pass.guideType = VUtil::GetLongElement(in, 5);
  pass.priority = VUtil::GetLongOrEmptyElement(in, 6);
  const std::wstring scheduleMediumId = VUtil::GetStringElement(in, 7);
  const bool described = VUtil::GetArrayLength(in) >= 14;
  if (described) {
    // The client's local wall-clock time, under the rules of its own date.
    pass.start = LocalWallClockToUtc(VUtil::GetDateElement(in, 8));
    pass.duration = VUtil::GetLongElement(in, 9) / 1000;
    pass.channelName = VUtil::GetStringElement(in, 10);
    pass.channelMedium = VUtil::GetStringElement(in, 11);
    pass.programName = VUtil::GetStringElement(in, 12);
    pass.category = VUtil::GetStringElement(in, 13);
  }
  Require(pass.scheduleMode >= 1 && pass.scheduleMode <= 6,
          L"AddTevPass: schedule mode must be 1 to 6");
  Require(pass.guideType >= -1 && pass.guideType <= 1, L"AddTevPass: guide type must be -1, 0 or 1");
  if (scheduleMediumId.empty() && described) {
    Require(!pass.programName.empty(), L"AddTevPass: no programme name and no schedule");
    Require(pass.duration > 0, L"AddTevPass: the duration must be positive");
  }

  if (engine_ == nullptr || checker_ == nullptr) {
    LogError(L"AddTevPass: no engine");
    return -1;
  }
  int32_t localId = 0;
  if (!scheduleMediumId.empty()) {
    if (LocalIds::GetType(scheduleMediumId) != LocalIds::kTypeSchedule) {
      LogError(L"AddTevPass: no schedule has the medium id %ls", scheduleMediumId.c_str());
      return kResultNoSuchSchedule;
    }
    localId = LocalIds::GetLocalIdFromTevMediumId(scheduleMediumId);
  }
  // The guide is searched while the channel is looked up; the pass drops
  // the answer unread when it needs none.
  std::unique_ptr<PeerClient::Pending> search;
  if (localId == 0 && pass.guideType != 0 && !pass.programName.empty()) {
    search = peers_.PostTVGuideSchedule(pass.programName);
  }
  if (!pass.channelMedium.empty()) {
    const int found = peers_.LookUpChannel(L"AddTevPass", pass.user, pass.channelMedium,
                                    &pass.channelMimetype, &pass.thumbnailId, &pass.rating,
                                    &pass.tags);
    if (found != 0) return found;
  }

  // The pass's commits and the timer's are synced once, before the answer.
  GroupSync durableBeforeAnswer;
  SeasonPasses passes(*engine_, *checker_);
  // The timer is computed while the library answers the episodes.
  Schedules& engine = *engine_;
  std::function<void()> timer = [&engine] { engine.StartStop().SetRecordingTimer(); };
  PassConflictReport report;
  const int32_t id =
      localId != 0
          ? passes.AddPassFromSchedule(localId, pass.thumbnailId, pass.restrictToOneChannel,
                                       pass.scheduleMode, pass.quality, pass.keepUntil,
                                       pass.guideType, pass.priority, &report)
          : passes.Add(pass, &report, 0, std::move(search), &timer);
  if (out != nullptr) PutPassReport(report, out);
  if (id == SeasonPasses::kEqualPassExists) return kPassRefused;
  if (id == SeasonPasses::kConflictsFound) return kPassConflicts;
  if (id <= 0) return kResultStatementFailed;

  const std::wstring mediumId = LocalIds::GetPassMediumId(id);
  VariantClear(out);
  VUtil::CreateArray(out, VT_VARIANT, 2);
  VUtil::PutElement(out, 0, mediumId);
  if (timer) {
    // Not run while publishing: the disk takes what the pass wrote
    // meanwhile.
    GroupSync::SyncInBackground();
    timer();
  }
  return 0;
}

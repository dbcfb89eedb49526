#include "bus/EngineAnswers.h"

#include <cstdint>

#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "engine/Schedules.h"
#include "support/VUtil.h"
#include "support/VelException.h"

namespace {

void PutConflictList(const std::vector<ScheduleConflict>& list, VARIANT* out) {
  VariantClear(out);
  VUtil::CreateArray(out, VT_VARIANT, static_cast<long>(list.size()));
  for (size_t i = 0; i < list.size(); ++i) {
    const ScheduleConflict& row = list[i];
    AutoVariant entry;
    VUtil::CreateArray(&entry, VT_VARIANT, 8);
    VUtil::PutElement(&entry, 0, row.name);
    VUtil::PutElement(&entry, 1, row.mediumId);
    VUtil::PutElement(&entry, 2, row.channelName);
    VUtil::PutDateElement(&entry, 3, row.start);
    VUtil::PutDateElement(&entry, 4, row.end);
    VUtil::PutElement(&entry, 5, row.subtitle);
    VUtil::PutElement(&entry, 6, SecondsToWireMs(row.duration));
    VUtil::PutElement(&entry, 7, row.state);
    VUtil::PutElement(out, static_cast<long>(i), entry.get());
  }
}

// Properties whose value must be text when a library sends them back.
bool IsTextProperty(const std::wstring& name) {
  for (const wchar_t* text : {L"title", L"subTitle", L"genre", L"description", L"startTime",
                              L"keepUntil", L"pvrState", L"scheduleMode", L"rating", L"tags"}) {
    if (name == text) return true;
  }
  return false;
}

// Refuses a malformed change list before anything is applied and reads
// the rest; an integer value reads as its decimal text.
std::vector<MediumChange> ReadChanges(const VARIANT& pairs) {
  std::vector<MediumChange> changes;
  if (pairs.vt == VT_EMPTY) return changes;
  const long count = VUtil::GetArrayLength(pairs);  // throws for a non-array
  if (count > MediumUpdates::kMaxUpdatePairs) {
    throw VelInvalidParameterException(
        tev::WFormat(L"UpdateMedium: %ld changes, at most %ld are taken", count,
                     MediumUpdates::kMaxUpdatePairs));
  }
  changes.resize(count);
  for (long i = 0; i < count; ++i) {
    MediumChange& change = changes[i];
    AutoVariant pair, value;
    VUtil::GetElement(pairs, i, &pair);
    if (pair.get().vt == VT_EMPTY) {
      change.hole = true;
      continue;
    }
    if (VUtil::GetArrayLength(pair.get()) != 2) {
      throw VelInvalidParameterException(L"UpdateMedium: a change is not a [name, value] pair");
    }
    change.name = VUtil::GetStringElement(pair.get(), 0);
    VUtil::GetElement(pair.get(), 1, &value);
    const VARTYPE type = value.get().vt;
    if (type != VT_BSTR && type != VT_I4 && type != VT_EMPTY) {
      throw VelInvalidParameterException(
          tev::WFormat(L"UpdateMedium: the value of \"%ls\" is neither text nor an integer",
                       change.name.c_str()));
    }
    if (type == VT_I4 && IsTextProperty(change.name)) {
      throw VelInvalidParameterException(
          tev::WFormat(L"UpdateMedium: the value of \"%ls\" must be text", change.name.c_str()));
    }
    change.value = type == VT_I4 ? std::to_wstring(value.get().lVal)
                                 : VUtil::GetStringElement(pair.get(), 1);
  }
  return changes;
}

}  // namespace

void PutScheduleAnswer(const ScheduleAnswer& answer, VARIANT* out) {
  switch (answer.kind) {
    case ScheduleAnswer::Kind::kNothing:
      return;
    case ScheduleAnswer::Kind::kMediumId:
      VariantClear(out);
      out->vt = VT_BSTR;
      out->bstrVal =
          SysAllocStringLen(answer.mediumId.data(), static_cast<uint32_t>(answer.mediumId.size()));
      return;
    case ScheduleAnswer::Kind::kConflicts:
      PutConflictList(answer.conflicts, out);
      return;
  }
}

void PutFileDescription(const FileDescription& description, VARIANT* out) {
  VUtil::CreateArray(out, VT_VARIANT, static_cast<long>(description.size()));
  for (size_t i = 0; i < description.size(); ++i) {
    VUtil::PutPair(out, static_cast<long>(i), description[i].first, description[i].second);
  }
}

void PutPassReport(const PassConflictReport& report, VARIANT* out) {
  if (report.empty()) return;
  AutoVariant all;
  VUtil::CreateArray(&all, VT_VARIANT, static_cast<long>(report.size()));
  for (size_t i = 0; i < report.size(); ++i) {
    const EpisodeConflict& airing = report[i];
    AutoVariant program, conflicts, one;
    VUtil::CreateArray(&program, VT_VARIANT, 7);
    VUtil::PutElement(&program, 0, airing.title);
    VUtil::PutElement(&program, 1, std::wstring());
    VUtil::PutElement(&program, 2, airing.channelName);
    VUtil::PutDateElement(&program, 3, airing.start);
    VUtil::PutDateElement(&program, 4, airing.start + airing.duration);
    VUtil::PutElement(&program, 5, airing.episodeTitle);
    VUtil::PutElement(&program, 6, SecondsToWireMs(airing.duration));
    PutScheduleAnswer(airing.conflicts, &conflicts.get());
    VUtil::CreateArray(&one, VT_VARIANT, 2);
    VUtil::PutElement(&one, 0, program.get());
    VUtil::PutElement(&one, 1, conflicts.get());
    VUtil::PutElement(&all, static_cast<long>(i), one.get());
  }
  VariantClear(out);
  VUtil::CreateArray(out, VT_VARIANT, 2);
  VUtil::PutElement(out, 0, std::wstring());
  VUtil::PutElement(out, 1, all.get());
}

MediumUpdate ReadMediumUpdate(const VARIANT& in) {
  MediumUpdate update;
  update.action = VUtil::GetLongElement(in, 0);
  update.mediumId = VUtil::GetStringElement(in, 1);
  if (update.action == 0 && VUtil::GetArrayLength(in) > 2) {
    AutoVariant pairs;
    VUtil::GetElement(in, 2, &pairs);
    update.changes = ReadChanges(pairs.get());
  }
  return update;
}

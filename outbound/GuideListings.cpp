// Reading the guide's answer element by element, in place: a week of
// listings is large. What cannot be read is noted where it is met and the
// reading goes on, as the pass reading the values reports it.
#include <optional>
#include <string>
#include <utility>

#include "outbound/PeerClient.h"
#include "support/VUtil.h"
#include "support/VelException.h"

namespace {

bool IsArray(const VARIANT& value) { return (value.vt & VT_ARRAY) != 0; }

// An integer slot of any integer type (the guide's flags); none otherwise.
std::optional<int32_t> Integer(const VARIANT& array, long index) {
  AutoVariant value;
  VUtil::GetElement(array, index, &value);
  switch (value.get().vt) {
    case VT_I4: return value.get().lVal;
    case VT_UI4: return static_cast<int32_t>(value.get().ulVal);
    case VT_I2: return value.get().iVal;
    case VT_UI2: return value.get().uiVal;
    case VT_BOOL: return value.get().boolVal != 0 ? 1 : 0;
    default: return std::nullopt;
  }
}

// Slot 11: [[system, text]...]. Anything else there leaves the numbers
// out; it never makes the program unreadable.
void ReadEpisodeNumbers(const VARIANT& program, ListedProgram* into) {
  try {
    AutoVariant listCopy;
    const VARIANT& list = VUtil::ElementInPlace(program, 11, &listCopy.get());
    if (!IsArray(list)) return;
    std::vector<std::pair<std::wstring, std::wstring>> numbers;
    for (long i = 0; i < VUtil::GetArrayLength(list); ++i) {
      AutoVariant pairCopy;
      const VARIANT& pair = VUtil::ElementInPlace(list, i, &pairCopy.get());
      if (!IsArray(pair) || VUtil::GetArrayLength(pair) < 2) return;
      numbers.emplace_back(VUtil::GetStringElement(pair, 0), VUtil::GetStringElement(pair, 1));
    }
    into->episodeNumbers = std::move(numbers);
  } catch (const VelException&) {
  }
}

void ReadProgram(const VARIANT& program, ListedProgram* into) {
  if (!IsArray(program) || VUtil::GetArrayLength(program) < 15) {
    throw VelException(L"a program element is not a 15-slot array");
  }
  const std::optional<int32_t> flags = Integer(program, 14);
  into->isNew = (flags.value_or(0) & 1) != 0;
  into->start = VUtil::GetDateElement(program, 5);
  into->duration = VUtil::GetLongElement(program, 4);
  into->title = VUtil::GetStringElement(program, 0);
  into->category = VUtil::GetStringElement(program, 6);
  into->description = VUtil::GetStringElement(program, 7);
  into->episodeTitle = VUtil::GetStringElement(program, 10);
  if (flags) into->shownBefore = (*flags & 2) != 0;
  ReadEpisodeNumbers(program, into);
}

// A channel whose name cannot be read ends the reading (thrown).
ListedChannel ReadChannel(const VARIANT& channel) {
  ListedChannel listed;
  if (!IsArray(channel) || VUtil::GetArrayLength(channel) < 8) return listed;
  listed.readable = true;
  listed.name = VUtil::GetStringElement(channel, 0);
  AutoVariant programsCopy;
  const VARIANT& programs = VUtil::ElementInPlace(channel, 2, &programsCopy.get());
  if (!IsArray(programs)) return listed;
  listed.listsPrograms = true;
  // Each program carries its channel's mimetype and medium id: when those
  // cannot be read, no program of the channel can.
  std::wstring channelFault;
  try {
    listed.mimetype = VUtil::GetStringElement(channel, 3);
    listed.mediumId = VUtil::GetStringElement(channel, 7);
  } catch (const VelException& e) {
    channelFault = e.getMessage();
  }
  const long count = VUtil::GetArrayLength(programs);
  listed.programs.resize(static_cast<size_t>(count));
  for (long p = 0; p < count; ++p) {
    AutoVariant programCopy;
    const VARIANT& program = VUtil::ElementInPlace(programs, p, &programCopy.get());
    ListedProgram& one = listed.programs[static_cast<size_t>(p)];
    try {
      ReadProgram(program, &one);
    } catch (const VelException& e) {
      one.unreadable = e.getMessage();
      continue;
    }
    if (!channelFault.empty()) one.unreadable = channelFault;
  }
  return listed;
}

}  // namespace

GuideListings ReadGuideListings(const VARIANT& listings) {
  GuideListings out;
  out.slots = IsArray(listings) ? static_cast<int32_t>(VUtil::GetArrayLength(listings)) : 0;
  if (out.slots != 2) return out;
  try {
    AutoVariant channelsCopy;
    const VARIANT& channels = VUtil::ElementInPlace(listings, 1, &channelsCopy.get());
    if (!IsArray(channels)) return out;
    out.readable = true;
    const long count = VUtil::GetArrayLength(channels);
    out.channelSlots = static_cast<int32_t>(count);
    out.channels.reserve(static_cast<size_t>(count));
    for (long c = 0; c < count; ++c) {
      AutoVariant channelCopy;
      out.channels.push_back(ReadChannel(VUtil::ElementInPlace(channels, c, &channelCopy.get())));
    }
  } catch (const VelException& e) {
    out.brokenOff = e.getMessage();
  }
  return out;
}

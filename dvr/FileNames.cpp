// Recording file names and date wildcards in stream addresses.
#include <cstdio>
#include <ctime>
#include <string>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "support/Log.h"
#include "support/Text.h"

namespace {

// Spaces and tabs only: other white space stays part of the name.
std::wstring TrimBlanks(const std::wstring& text) { return tev::TrimOf(text, L" \t"); }

constexpr int kMaxIterations = 10;
constexpr size_t kDateLength = 19;  // "MM-DD-YYYY hh-mm-ss"
// UTF-8 budgets of the two free parts of a file name: with the date, the
// marker, the iteration and the extension the name stays below 255 bytes,
// the limit of one path component.
constexpr size_t kMaxNameBytes = 150;
constexpr size_t kMaxChannelBytes = 60;

bool IsDropped(wchar_t c) {
  switch (c) {
    case L'\\': case L'/': case L':': case L'*': case L'?':
    case L'"': case L'<': case L'>': case L'|':
      return true;
    default:
      break;
  }
  const unsigned long code = static_cast<unsigned long>(c);
  return code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0) || code > 0x10ffff;
}

size_t Utf8Length(wchar_t c) {
  const unsigned long code = static_cast<unsigned long>(c);
  if (code < 0x80) return 1;
  if (code < 0x800) return 2;
  if (code < 0x10000) return 3;
  return 4;
}

// `text` without the characters a file name must not hold, cut to
// `maxBytes` of UTF-8.
std::wstring CleanNamePart(const std::wstring& text, size_t maxBytes) {
  std::wstring clean;
  size_t bytes = 0;
  for (wchar_t c : text) {
    if (IsDropped(c)) continue;
    bytes += Utf8Length(c);
    if (bytes > maxBytes) break;
    clean.push_back(c);
  }
  return clean;
}

void ReplaceAll(std::wstring* text, const std::wstring& from, const std::wstring& to) {
  size_t at = 0;
  while ((at = text->find(from, at)) != std::wstring::npos) {
    text->replace(at, from.size(), to);
    at += to.size();
  }
}

}  // namespace

std::wstring DVR::ReplaceWildcardInUrl(const std::wstring& url, const std::wstring& startTimeText) {
  const time_t reference =
      static_cast<time_t>(startTimeText.empty() ? tev::Clock::Now() : GetTime3(startTimeText));
  struct tm local {};
  if (localtime_r(&reference, &local) == nullptr) {
    LogError(L"DVR::ReplaceWildcardInUrl::localtime_s failed");
    return url;
  }
  const std::wstring year4 = tev::WFormat(L"%04d", local.tm_year + 1900);
  const std::wstring year2 = tev::WFormat(L"%02d", local.tm_year + 1900 - 2000);
  const std::wstring month = tev::WFormat(L"%02d", local.tm_mon + 1);
  const std::wstring day = tev::WFormat(L"%02d", local.tm_mday);

  // Every pass removes one '}', so the loop ends.
  std::wstring result = url;
  for (;;) {
    size_t open = result.find(L'{');
    if (open == std::wstring::npos || open == 0) break;
    size_t close = result.find(L'}', open + 1);
    if (close == std::wstring::npos) break;
    std::wstring pattern = result.substr(open + 1, close - open - 1);
    for (wchar_t& c : pattern) {
      if (c == L'Y') c = L'y';
      if (c == L'M') c = L'm';
      if (c == L'D') c = L'd';
    }
    ReplaceAll(&pattern, L"yyyy", year4);
    ReplaceAll(&pattern, L"yy", year2);
    ReplaceAll(&pattern, L"mm", month);
    ReplaceAll(&pattern, L"dd", day);
    result.replace(open, close - open + 1, pattern);
  }
  return result;
}

std::wstring DVR::MakeRecordingFileName(const std::wstring& channelMimetype,
                                        const std::wstring& channelName, const std::wstring& name,
                                        int64_t start, int iteration) {
  const std::wstring cleanName = CleanNamePart(name, kMaxNameBytes);
  const std::wstring cleanChannel = CleanNamePart(channelName, kMaxChannelBytes);
  const std::wstring suffix = iteration == 0 ? std::wstring() : tev::WFormat(L" %d", iteration);
  const std::wstring extension = GetFileExtention(channelMimetype);
  const std::wstring date = FormatFilenameDate(start);
  const std::wstring directory = GetRecordingDirectory(channelMimetype);
  if (!cleanChannel.empty()) {
    return tev::WFormat(L"%ls%lc%ls_%ls_%ls Tev%ls.%ls", directory.c_str(), L'/', cleanName.c_str(),
                        cleanChannel.c_str(), date.c_str(), suffix.c_str(), extension.c_str());
  }
  return tev::WFormat(L"%ls%lc%ls %ls Tev%ls.%ls", directory.c_str(), L'/', cleanName.c_str(),
                      date.c_str(), suffix.c_str(), extension.c_str());
}

std::wstring DVR::ConstructUniqueFileName(const std::wstring& channelMimetype,
                                          const std::wstring& channelName,
                                          const std::wstring& name, int64_t start,
                                          int scheduleId) {
  std::wstring candidate;
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    candidate = MakeRecordingFileName(channelMimetype, channelName, name, start, iteration);
    // A file already on disk is taken too: the streamer would write over it
    // (a retried or resumed recording, a row the monitor has not seen yet).
    if (!HasDuplicate(candidate, scheduleId) &&
        !tev::Env::Current().FileExists(candidate)) {
      return candidate;
    }
    LogDebug(L"DVR::ConstructUniqueFileName duplicate for %ls, iteration %d", candidate.c_str(),
             iteration);
  }
  LogError(L"DVR::ConstructUniqueFileName more than 10 schedules with the same filename: %ls "
           L"(%ls-%ls-%ls-%d)",
           candidate.c_str(), name.c_str(), channelName.c_str(), channelMimetype.c_str(),
           scheduleId);
  return std::wstring();
}

std::wstring DVR::NextPieceFileName(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = path.size();
  std::wstring stem = path.substr(0, dot);
  const std::wstring extension = path.substr(dot);
  const size_t blank = stem.rfind(L' ');
  if (blank != std::wstring::npos && blank >= 3 && blank + 1 < stem.size() &&
      stem.compare(blank - 3, 3, L"Tev") == 0 &&
      stem.find_first_not_of(L"0123456789", blank + 1) == std::wstring::npos) {
    stem.erase(blank);
  }
  for (int iteration = 1; iteration < kMaxIterations; ++iteration) {
    const std::wstring candidate = tev::WFormat(L"%ls %d%ls", stem.c_str(), iteration,
                                                extension.c_str());
    if (!HasDuplicate(candidate, 0) && !tev::Env::Current().FileExists(candidate)) {
      return candidate;
    }
  }
  LogError(L"DVR::NextPieceFileName more than 10 pieces of %ls", path.c_str());
  return std::wstring();
}

bool DVR::ParseRecordingFileName(const std::wstring& filePath, std::wstring* extension,
                                 std::wstring* name, std::wstring* channelName,
                                 std::wstring* dateText) {
  const size_t dot = filePath.rfind(L'.');
  const std::wstring ext = dot == std::wstring::npos ? filePath : filePath.substr(dot + 1);
  const size_t marker = filePath.find(L"Tev.");
  if (marker == std::wstring::npos || marker < 2) return false;

  // The character before the marker is the blank that separates it.
  const std::wstring base = filePath.substr(0, marker - 1);
  if (base.size() < kDateLength) return false;
  std::wstring date = base.substr(base.size() - kDateLength);
  date[2] = L'/';
  date[5] = L'/';
  for (wchar_t& c : date) {
    if (c == L'-') c = L':';
  }

  std::wstring rest = base.substr(0, base.size() - kDateLength);
  const size_t slash = rest.rfind(L'/');
  if (slash != std::wstring::npos) rest = rest.substr(slash + 1);

  std::wstring parsedName, parsedChannel;
  if (rest.find(L'_', 1) == std::wstring::npos) {
    parsedName = TrimBlanks(rest);
  } else {
    rest = rest.substr(0, rest.rfind(L'_'));
    if (rest.find(L'_', 1) != std::wstring::npos) {
      const size_t last = rest.rfind(L'_');
      parsedChannel = rest.substr(last + 1);
      parsedName = rest.substr(0, last);
    } else {
      parsedName = TrimBlanks(rest);
    }
  }

  if (extension) *extension = ext;
  if (name) *name = parsedName;
  if (channelName) *channelName = parsedChannel;
  if (dateText) *dateText = date;
  return !parsedName.empty();
}

bool DVR::HasDuplicate(const std::wstring& filePath, int scheduleId) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE FilePath = ? AND ID!=?", {filePath, scheduleId},
                      L"HasDuplicate")) {
    LogError(L"HasDuplicate SQL failed %ls", query.FailedStatement().c_str());
    return false;
  }
  if (query.GetRowCount() > 0) {
    LogDebug(L"duplicate filename %ls found for shecule %d", filePath.c_str(), scheduleId);
    return true;
  }
  return false;
}

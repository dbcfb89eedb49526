// Episode identity from the marks of real XMLTV listings.
#include "passes/EpisodeIdentity.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/WideText.h"

namespace {

using tev::EpisodeIdentity;
using tev::IdentifyEpisode;
using tev::ListingMarks;
using tev::Showing;

ListingMarks Listing(const std::wstring& title, const std::wstring& subTitle,
                     std::vector<std::pair<std::wstring, std::wstring>> nums) {
  ListingMarks m;
  m.title = title;
  m.subTitle = subTitle;
  m.episodeNums = std::move(nums);
  return m;
}

TEST(EpisodeIdentity, EpisodeNumbersAsGrabbersWriteThem) {
  struct Case {
    ListingMarks in;
    std::wstring key;
    int season, episode, part;
  };
  const Case cases[] = {
      {Listing(
           L"Full House", L"The Big Three-O",
           {{L"dd_progid", L"EP00524061.0075"}, {L"xmltv_ns", L"3.13."}, {L"onscreen", L"S04E14"}}),
       L"full house/S04E14", 4, 14, 0},
      // Another grabber's punctuation of the title.
      {Listing(L"Full  House!", L"", {{L"onscreen", L"S04E14"}}), L"full house/S04E14", 4, 14, 0},
      {Listing(L"Lost", L"", {{L"xmltv_ns", L"2 . 9 . 0/1"}}), L"lost/S03E10", 3, 10, 0},
      {Listing(L"Lost", L"", {{L"xmltv_ns", L"0.0.1/2"}}), L"lost/S01E01P2", 1, 1, 2},
      {Listing(L"Lost", L"", {{L"xmltv_ns", L"1/5.10/24.0/1"}}), L"lost/S02E11", 2, 11, 0},
      {Listing(L"EastEnders", L"Sharon Returns", {{L"xmltv_ns", L".5/13."}}),
       L"eastenders/sharon returns", 0, 6, 0},  // no seasons: the sub-title names it
      {Listing(L"EastEnders", L"", {{L"xmltv_ns", L".5/13."}}), L"eastenders/E06", 0, 6, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"403"}}), L"friends/S04E03", 4, 3, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"1203"}}), L"friends/S12E03", 12, 3, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"4x03"}}), L"friends/S04E03", 4, 3, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"Season 4, Episode 3"}}), L"friends/S04E03", 4, 3,
       0},
      {Listing(L"Friends", L"", {{L"common", L"S4 E3"}}), L"friends/S04E03", 4, 3, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"Ep. 3"}}), L"friends/E03", 0, 3, 0},
      {Listing(L"Friends", L"", {{L"onscreen", L"Pilot"}}), L"", 0, 0, 0},
      {Listing(L"Friends", L"", {{L"xmltv_ns", L"a.b.c"}, {L"onscreen", L"S01E02"}}),
       L"friends/S01E02", 1, 2, 0},  // a broken xmltv_ns gives way
      {Listing(L"CSI: Miami", L"", {{L"dd_progid", L"EP524061.0075"}}), L"csi miami/EP524061.0075",
       0, 0, 0},
      {Listing(L"The Matrix", L"", {{L"dd_progid", L"MV000123.0000"}}), L"the matrix/film", 0, 0,
       0},
      {Listing(L"World News", L"", {{L"dd_progid", L"SH012345.0000"}}), L"", 0, 0, 0},
      {Listing(L"World News", L"Election Night", {{L"dd_progid", L"SH012345.0000"}}),
       L"world news/election night", 0, 0, 0},
      {Listing(L"Friends", L"", {{L"thetvdb.com", L"12345"}}), L"", 0, 0, 0},
      {Listing(L"Friends", L"The One with the Embryos", {}), L"friends/the one with the embryos", 0,
       0, 0},
  };
  for (const Case& c : cases) {
    const EpisodeIdentity id = IdentifyEpisode(c.in);
    EXPECT_EQ(std::make_tuple(id.key, id.season, id.episode, id.part),
              std::make_tuple(c.key, c.season, c.episode, c.part))
        << tev::ToStdUtf8(c.in.title) << " " << c.in.episodeNums.size();
  }
}

TEST(EpisodeIdentity, NewRepeatOrUnknown) {
  struct Case {
    bool isNew, premiere, previouslyShown;
    Showing showing;
  };
  const Case cases[] = {
      {true, false, false, Showing::kNew},      {false, true, false, Showing::kNew},
      {false, true, true, Showing::kNew},       {false, false, true, Showing::kRepeat},
      {false, false, false, Showing::kUnknown},
  };
  for (const Case& c : cases) {
    ListingMarks m = Listing(L"Friends", L"", {{L"onscreen", L"S01E01"}});
    m.isNew = c.isNew;
    m.premiere = c.premiere;
    m.previouslyShown = c.previouslyShown;
    EXPECT_EQ(IdentifyEpisode(m).showing, c.showing) << c.isNew << c.premiere << c.previouslyShown;
  }
}

}  // namespace

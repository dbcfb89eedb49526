# ctest starts the costliest tests first, but a clean clone has no timings
# yet and would start them in the order written. The whole-system tests
# below run one at a time (RESOURCE_LOCK ffmpeg) and mostly wait on real
# time, so left to the end they would run alone after everything else.
# Seconds each took under the sanitizers; only the order matters.
set(tev_test_costs
  web.browser 119  scripts.package 70  scripts.deploy 31  scripts.install 29  scripts.run_main 26
  web.browser_conflicts 20  web.browser_lineup 20  scripts.run_bus 9  scripts.own_lineup 8
  scripts.velctl_commands 6
  QueryPlans.TheRoadOfARecordingNeverWalksTheFinishedRows 40
  HostRestart.AKillMidRecordingLeavesOneStreamForTheProgramme 27
  HostRestart.AKillDuringRequestsLosesNoAnsweredRecordingAndDamagesNothing 27
  WebLive.RecordingRunsFinishesDownloadsAndIsDeleted 25
  MonitorBadInput.TenThousandFilesDroppedAtOnceAreAdoptedOnce 22
  HostileRequests.EveryServiceSurvivesEveryValueInEverySlot 20
  TevPeers.RecordsAnHttpStreamAcrossADropAndNamesWhyAnotherCannotBeOpened 13)

# Tests added here get their cost now; the gtest ones exist only once their
# programs are built, so theirs is set by a file ctest reads after them.
set(tev_discovered_costs "")
while(tev_test_costs)
  list(POP_FRONT tev_test_costs name cost)
  if(TEST ${name})
    set_tests_properties(${name} PROPERTIES COST ${cost})
  else()
    string(APPEND tev_discovered_costs "set_tests_properties(${name} PROPERTIES COST ${cost})\n")
  endif()
endwhile()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_costs.cmake "${tev_discovered_costs}")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/test_costs.cmake)

// Test seams of recording completion.
#ifndef TEV_ENGINE_COMPLETIONSEAMS_H_
#define TEV_ENGINE_COMPLETIONSEAMS_H_

// The recorder needs about ten real seconds after a video recording starts
// before a frame can be taken from the file; NotifyRecordStarted waits that
// long before asking for the thumbnail. Tests turn the wait off (true) and
// back on (false).
void SkipRecordStartedWaitForTest(bool skip);

// Lets ChangeRecordingToCompletePartial run again in this process.
void ResetOrphanCleanupForTest();

#endif  // TEV_ENGINE_COMPLETIONSEAMS_H_

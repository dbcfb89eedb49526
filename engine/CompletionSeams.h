// Test seams of recording completion.
#ifndef TEV_ENGINE_COMPLETIONSEAMS_H_
#define TEV_ENGINE_COMPLETIONSEAMS_H_

// The recorder needs about ten real seconds after a video recording starts
// before a frame can be taken from the file; NotifyRecordStarted waits that
// long before asking for the thumbnail (on a thread of its own). Tests turn the
// wait off (true: asked at once, on the reporting thread) and back on.
void SkipRecordStartedWaitForTest(bool skip);
// The real milliseconds between a start report and the thumbnail request
// (10000 unless a test shortens it).
void SetThumbnailDelayForTest(unsigned int milliseconds);

// Lets ChangeRecordingToCompletePartial run again in this process.
void ResetOrphanCleanupForTest();

#endif  // TEV_ENGINE_COMPLETIONSEAMS_H_

// Test seams of recording completion.
#ifndef TEV_ENGINE_COMPLETIONSEAMS_H_
#define TEV_ENGINE_COMPLETIONSEAMS_H_

// Lets ChangeRecordingToCompletePartial run again in this process.
void ResetOrphanCleanupForTest();

#endif  // TEV_ENGINE_COMPLETIONSEAMS_H_

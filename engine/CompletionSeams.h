// Test seams of recording completion.
#ifndef TEV_ENGINE_COMPLETIONSEAMS_H_
#define TEV_ENGINE_COMPLETIONSEAMS_H_

// The milliseconds between a start report and the thumbnail request (10000
// unless a test shortens it); the wait follows the environment's clock.
void SetThumbnailDelayForTest(unsigned int milliseconds);

#endif  // TEV_ENGINE_COMPLETIONSEAMS_H_

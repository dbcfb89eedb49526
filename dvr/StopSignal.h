// Whether the module is stopping, as the recorder control needs to know it
// without depending on the module. The module installs the source (its stop
// event); until then, and after it is removed, the answer is false.
#ifndef TEV_DVR_STOPSIGNAL_H_
#define TEV_DVR_STOPSIGNAL_H_

// `source` may be null (no source). Any thread; the source must stay
// callable until it is replaced.
void SetStopSignalSource(bool (*source)());
bool StopEventIsSet();

#endif  // TEV_DVR_STOPSIGNAL_H_

// The stream ids the streamer was given, kept in the database beside the
// in-memory stream table so that a stream outlives the process that asked
// for it: after a restart (also after a crash) the engine finds the stream
// still recording a file and adopts it, or stops it, instead of starting a
// second one for the same programme.
//
// Table "Streams" (FilePath primary key, StreamId): one row per stream
// asked for and not known to have ended. Written before "StartStream" is
// sent, removed when the stream is stopped or reports its end. Every
// operation takes only the database lock; failures are logged and cost
// only the adoption after a restart.
#ifndef TEV_DVR_STREAMSTORE_H_
#define TEV_DVR_STREAMSTORE_H_

#include <map>
#include <string>

namespace StreamStore {

void Save(const std::wstring& filePath, long streamId);
void Remove(const std::wstring& filePath);
// Every kept stream: file path -> stream id.
std::map<std::wstring, long> All();

}  // namespace StreamStore

#endif  // TEV_DVR_STREAMSTORE_H_

// Access to the descriptive attributes of recording files (ASF, WMV, WMA,
// DVR-MS) through an editor. TagLib's ASF classes stand in for the Windows
// Media Format SDK editor; attribute names are the SDK's.
//
// The engine owns the module's one editor (its folder monitors reach it
// through their host). Between Open and Close the calling thread holds the
// editor's lock, so all metadata work on its files is serialised; other
// threads calling Open simply wait.
#ifndef TEV_MONITOR_FILEMETADATA_H_
#define TEV_MONITOR_FILEMETADATA_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "support/PMutex.h"

namespace TagLib {
class FileStream;
namespace ASF {
class File;
}
}  // namespace TagLib

// Failure results in the SDK's numbering.
constexpr HRESULT NS_E_INVALID_REQUEST = (HRESULT)0xC00D002B;
constexpr HRESULT ASF_E_NOTFOUND = (HRESULT)0xC00D07F0;

// Attribute value types (WMT_ATTR_DATATYPE).
enum MetadataType {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

class MetadataEditor {
 public:
  MetadataEditor();
  // REQUIRES: no file open.
  ~MetadataEditor();

  // E_FAIL for an empty path, a file that is not an ASF
  // file, or (write set) a file that cannot be written. On success the
  // calling thread holds the editor's lock until Close; on failure it does
  // not hold it. (A hold that depends on an HRESULT and outlives the call is
  // beyond the lock analysis: Open and Close are not checked.)
  HRESULT Open(const std::wstring& path, bool write) TEV_NO_THREAD_SAFETY_ANALYSIS;
  // Saves the changes when the file was opened for writing, closes it and
  // releases the lock. E_FAIL when the save failed (the file is closed
  // anyway), NS_E_INVALID_REQUEST without an open file.
  // REQUIRES: the calling thread opened the file.
  HRESULT Close() TEV_NO_THREAD_SAFETY_ANALYSIS;

  // Stream-0 attribute value: text as UTF-16LE bytes with the terminator,
  // DWORD/QWORD/WORD/BOOL as little-endian integers (BOOL as 4 bytes),
  // binary and GUID as they are. "Duration" is the play duration in 100 ns
  // units (QWORD). ASF_E_NOTFOUND when absent, NS_E_INVALID_REQUEST without
  // an open file. REQUIRES: the calling thread opened the file.
  HRESULT GetAttribute(const std::wstring& name, std::vector<uint8_t>* value,
                       MetadataType* type);
  // Adds the text attribute when the file has none of that name, else
  // changes every attribute of that name to `value`.
  // REQUIRES: the calling thread opened the file.
  HRESULT SetTextAttribute(const std::wstring& name, const std::wstring& value);

  // Text of a string value as GetAttribute returns it: up to the
  // terminator and at most `maxChars` characters.
  static std::wstring TextOfValue(const std::vector<uint8_t>& value, size_t maxChars);

  MetadataEditor(const MetadataEditor&) = delete;
  MetadataEditor& operator=(const MetadataEditor&) = delete;

 private:
  void CloseFileInLock();

  // Held from Open to Close; recursive like the critical section it
  // replaces, so a second Open on the holding thread fails instead of
  // deadlocking.
  PMutex m_lock;
  // Guarded by m_lock.
  bool m_write = false;
  std::unique_ptr<TagLib::FileStream> m_stream;
  std::unique_ptr<TagLib::ASF::File> m_file;
};

// Holds a file open in `editor` for one scope; without an editor (null)
// nothing opens (E_FAIL).
class MetadataFile {
 public:
  MetadataFile(MetadataEditor* editor, const std::wstring& path, bool write)
      : m_editor(editor), m_result(editor ? editor->Open(path, write) : E_FAIL) {}
  ~MetadataFile() {
    if (SUCCEEDED(m_result)) m_editor->Close();
  }
  HRESULT result() const { return m_result; }
  bool ok() const { return SUCCEEDED(m_result); }
  // Closes early; the result of the close (saving) is returned.
  HRESULT Close() {
    if (FAILED(m_result)) return m_result;
    m_result = E_FAIL;
    return m_editor->Close();
  }

  MetadataFile(const MetadataFile&) = delete;
  MetadataFile& operator=(const MetadataFile&) = delete;

 private:
  MetadataEditor* const m_editor;
  HRESULT m_result;
};

#endif  // TEV_MONITOR_FILEMETADATA_H_

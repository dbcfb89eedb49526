// Machine-wide settings store (the registry's local-machine hive), read
// from an INI file: one section per key path written as
// "[HKEY_LOCAL_MACHINE\<key>]" (matched ignoring case), "name=value" lines,
// DWORDs in decimal. The file is $TEV_REGISTRY_FILE, default
// /etc/tev/registry.ini. The module only reads it; the installer, the run
// script and the administrator write it. Every operation returns true on
// success.
#ifndef TEV_SUPPORT_REGISTRY_H_
#define TEV_SUPPORT_REGISTRY_H_

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "support/PMutex.h"

class CRegistry {
 public:
  // Process-wide singleton, created on first use.
  static boost::shared_ptr<CRegistry> Instance();

  virtual ~CRegistry() = default;
  virtual bool GetDWORD(const std::wstring& key, const std::wstring& name, uint32_t* value) = 0;
  virtual bool GetString(const std::wstring& key, const std::wstring& name, std::wstring* value) = 0;
};

// The INI-file implementation behind Instance(), parsed by
// Boost.PropertyTree's INI reader (no limit on the length of a line).
//
// File format: "[HKEY_LOCAL_MACHINE\<key>]" section lines and "name=value"
// lines in UTF-8 (a leading byte-order mark is skipped); lines starting
// with ';' or '#' are comments. A key may be given with or without the
// "HKEY_LOCAL_MACHINE\" prefix and outer backslashes; key paths and value
// names match ignoring case, and the first match in file order wins.
// Blanks around names and values are ignored; a value between double
// quotes is read without them (so it may keep blanks at its ends).
//
// A file the reader refuses (a line that is neither a comment, a section
// nor "name=value", the same section or name twice with the same spelling)
// reads as missing: every Get returns false, and the reason is written
// once to stderr (the log cannot be used here: it reads its level through
// this class).
//
// Every call reads the file afresh, so edits by hand or by tests show at
// once. Safe to call from any thread.
// GetString hands out at most 1023 characters of a longer value.
class CRegistryImpl : public CRegistry {
 public:
  // `path` empty: the file named by tev::RegistryFilePath() at each call.
  explicit CRegistryImpl(const std::string& path = std::string());

  bool GetDWORD(const std::wstring& key, const std::wstring& name, uint32_t* value) override;
  bool GetString(const std::wstring& key, const std::wstring& name, std::wstring* value) override;

  // The longest text GetString hands out (the 2,048-byte buffer of the
  // original, less its terminator).
  static constexpr size_t kMaxStringLength = 1023;

 private:
  std::string FilePath() const;
  bool ReadRaw(const std::wstring& key, const std::wstring& name, std::string* raw) const;
  // Writes why the file was refused to stderr, once per distinct reason.
  void ReportRefusedFile(const std::string& what) const;

  std::string path_;
  mutable PMutex reportMutex_{false};
  mutable std::string lastReported_ TEV_GUARDED_BY(reportMutex_);
};

#endif  // TEV_SUPPORT_REGISTRY_H_

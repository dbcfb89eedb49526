// Machine-wide settings store (the registry's local-machine hive). Backed by
// an INI file: one section per key path written as
// "[HKEY_LOCAL_MACHINE\<key>]" (matched ignoring case), "name=value" lines,
// DWORDs in decimal. The file is $TEV_REGISTRY_FILE, default
// /etc/tev/registry.ini. Every operation returns true on success.
#ifndef TEV_SUPPORT_REGISTRY_H_
#define TEV_SUPPORT_REGISTRY_H_

#include <cstdint>
#include <map>
#include <string>

#include <boost/shared_ptr.hpp>

class CRegistry {
 public:
  // Process-wide singleton, created on first use.
  static boost::shared_ptr<CRegistry> Instance();

  virtual ~CRegistry() = default;
  virtual bool SetDWORD(const std::wstring& key, const std::wstring& name, uint32_t value) = 0;
  virtual bool SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) = 0;
  virtual bool GetDWORD(const std::wstring& key, const std::wstring& name, uint32_t* value) = 0;
  virtual bool GetString(const std::wstring& key, const std::wstring& name, std::wstring* value) = 0;
  // Returns 0 (the OS error code of opening/closing the key) on success.
  virtual long EnumValues(const std::wstring& key, std::map<std::wstring, std::wstring>* values) = 0;
  virtual bool SetBinary(const std::wstring& key, const std::wstring& name, const unsigned char* data, long length) = 0;
  // *data is new[]-allocated; the caller delete[]s it.
  virtual bool GetBinary(const std::wstring& key, const std::wstring& name, unsigned char** data, long* length) = 0;
};

// The INI-file implementation behind Instance().
//
// File format: "[HKEY_LOCAL_MACHINE\<key>]" section lines and "name=value"
// lines in UTF-8; lines starting with ';' or '#' are comments. A key may be
// given with or without the "HKEY_LOCAL_MACHINE\" prefix; key paths and
// value names match ignoring case, and the first match wins. Blanks around
// names and values are ignored; a value written with leading or trailing
// blanks, or starting with '"', is stored between double quotes. Binary
// values are stored as "hex:" followed by two hex digits per byte (commas
// and blanks between bytes are allowed when reading); EnumValues skips
// them. Values and names cannot hold line breaks (Set* returns false).
//
// Every call reads the file afresh, so edits by hand or by tests show at
// once. Writes rewrite the whole file through a temporary file and a
// rename (creating missing parent folders), keeping comments and the order
// of everything else. Calls are serialised by one process-wide mutex.
// GetString hands out at most 1023 characters of a longer value.
class CRegistryImpl : public CRegistry {
 public:
  // `path` empty: the file named by tev::RegistryFilePath() at each call.
  explicit CRegistryImpl(const std::string& path = std::string());

  bool SetDWORD(const std::wstring& key, const std::wstring& name, uint32_t value) override;
  bool SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override;
  bool GetDWORD(const std::wstring& key, const std::wstring& name, uint32_t* value) override;
  bool GetString(const std::wstring& key, const std::wstring& name, std::wstring* value) override;
  long EnumValues(const std::wstring& key, std::map<std::wstring, std::wstring>* values) override;
  bool SetBinary(const std::wstring& key, const std::wstring& name, const unsigned char* data, long length) override;
  bool GetBinary(const std::wstring& key, const std::wstring& name, unsigned char** data, long* length) override;

  // The longest text GetString hands out (the 2,048-byte buffer of the
  // original, less its terminator).
  static constexpr size_t kMaxStringLength = 1023;

 private:
  std::string FilePath() const;
  bool ReadRaw(const std::wstring& key, const std::wstring& name, std::string* raw);
  bool WriteRaw(const std::wstring& key, const std::wstring& name, const std::string& raw);

  std::string path_;
};

#endif  // TEV_SUPPORT_REGISTRY_H_

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

#endif  // TEV_SUPPORT_REGISTRY_H_

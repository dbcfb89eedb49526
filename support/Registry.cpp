#include "support/Registry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "platform/Folders.h"
#include "platform/NoDestructor.h"
#include "platform/WideText.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"
#include "support/Text.h"

// Note: nothing here may log. The log reads its level through this class,
// so a log call from here could recurse.

namespace {

namespace ptree = boost::property_tree;

const wchar_t kHivePrefix[] = L"HKEY_LOCAL_MACHINE\\";

// The section name of `key`: "HKEY_LOCAL_MACHINE\<key>" without outer
// blanks and backslashes, in lower case.
std::wstring SectionOf(const std::wstring& key) {
  const std::wstring inner = tev::Lower(tev::TrimOf(key, L" \t\\"));
  const std::wstring prefix = tev::Lower(kHivePrefix);
  if (inner.compare(0, prefix.size(), prefix) == 0 || inner == prefix.substr(0, prefix.size() - 1)) {
    return inner;
  }
  return prefix + inner;
}

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
  return value;
}

// The parsed file, or false when it is missing, unreadable or refused
// (then `refused` says why).
bool ReadTree(const std::string& path, ptree::ptree* tree, std::string* refused) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  if (file.peek() == 0xEF) {
    char mark[3] = {};
    file.read(mark, 3);
    if (!(file.gcount() == 3 && mark[1] == '\xBB' && mark[2] == '\xBF')) file.seekg(0);
  }
  try {
    ptree::read_ini(file, *tree);
  } catch (const ptree::ini_parser_error& error) {
    *refused = path + " line " + std::to_string(error.line()) + ": " + error.message();
    return false;
  }
  return !file.bad();
}

bool ParseDword(const std::string& text, uint32_t* value) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    unsigned long long parsed = std::strtoull(begin + 2, &end, 16);
    if (errno != 0 || *end != '\0' || end == begin + 2 || parsed > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
  }
  if (!(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return false;
  long long parsed = std::strtoll(begin, &end, 10);
  if (errno != 0 || *end != '\0' || end == begin) return false;
  if (parsed < -2147483648LL || parsed > 4294967295LL) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace

boost::shared_ptr<CRegistry> CRegistry::Instance() {
  // Process-wide: every layer reads settings without a handle. Never
  // destroyed: threads that end after static destruction may still ask.
  // Held in place, so unloading the library loses no memory; each
  // caller's pointer only shares the object.
  static tev::NoDestructor<CRegistryImpl> instance;
  return boost::shared_ptr<CRegistry>(instance.get(), [](CRegistry*) {});
}

CRegistryImpl::CRegistryImpl(const std::string& path) : path_(path) {}

void CRegistryImpl::ReportRefusedFile(const std::string& what) const {
  PMutexLock lock(reportMutex_);
  if (lastReported_ == what) return;
  lastReported_ = what;
  std::fprintf(stderr, "TevPVR: settings file refused, its values are not used: %s\n", what.c_str());
}

std::string CRegistryImpl::FilePath() const { return path_.empty() ? tev::RegistryFilePath() : path_; }

bool CRegistryImpl::ReadRaw(const std::wstring& key, const std::wstring& name, std::string* raw) const {
  ptree::ptree tree;
  std::string refused;
  if (!ReadTree(FilePath(), &tree, &refused)) {
    if (!refused.empty()) ReportRefusedFile(refused);
    return false;
  }
  const std::wstring section = SectionOf(key);
  // Sections are the entries with values under them (the reader drops
  // empty ones); values above the first section have none.
  for (const auto& entry : tree) {
    if (entry.second.empty() || SectionOf(tev::FromStdUtf8(entry.first)) != section) continue;
    for (const auto& value : entry.second) {
      if (tev::EqualsNoCase(tev::FromStdUtf8(value.first), name)) {
        *raw = Unquoted(value.second.data());
        return true;
      }
    }
  }
  return false;
}

bool CRegistryImpl::GetDWORD(const std::wstring& key, const std::wstring& name, uint32_t* value) {
  std::string raw;
  uint32_t parsed = 0;
  if (value == nullptr || !ReadRaw(key, name, &raw) || !ParseDword(raw, &parsed)) return false;
  *value = parsed;
  return true;
}

bool CRegistryImpl::GetString(const std::wstring& key, const std::wstring& name, std::wstring* value) {
  std::string raw;
  if (value == nullptr || !ReadRaw(key, name, &raw)) return false;
  std::wstring text = tev::FromStdUtf8(raw);
  if (text.size() > kMaxStringLength) text.resize(kMaxStringLength);
  *value = text;
  return true;
}

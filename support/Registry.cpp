#include "support/Registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "platform/Folders.h"
#include "support/NoDestructor.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"
#include "support/WideText.h"

// Note: nothing here may log. The log reads its level through this class,
// so a log call from here could recurse.

namespace {

// Windows error codes that EnumValues hands out.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidParameter = 87;

const char kHivePrefix[] = "HKEY_LOCAL_MACHINE\\";

PMutex& RegistryMutex() {
  static tev::NoDestructor<PMutex> mutex(false);
  return *mutex;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::wstring Folded(const std::wstring& text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return folded;
}

bool EqualsIgnoringCase(const std::string& utf8, const std::wstring& wide) {
  return Folded(tev::FromStdUtf8(utf8)) == Folded(wide);
}

bool HasLineBreak(const std::wstring& text) {
  return text.find_first_of(L"\r\n") != std::wstring::npos || text.find(L'\0') != std::wstring::npos;
}

// The section name of `key`: "HKEY_LOCAL_MACHINE\<key>" without outer
// backslashes. False for keys that cannot be a section name.
bool SectionOf(const std::wstring& key, std::wstring* section) {
  if (HasLineBreak(key) || key.find(L']') != std::wstring::npos) return false;
  size_t begin = key.find_first_not_of(L" \t\\");
  size_t end = key.find_last_not_of(L" \t\\");
  std::wstring inner = begin == std::wstring::npos ? std::wstring() : key.substr(begin, end - begin + 1);
  const std::wstring prefix = tev::FromStdUtf8(kHivePrefix);
  if (Folded(inner.substr(0, prefix.size())) == Folded(prefix)) {
    *section = inner;
  } else if (Folded(inner) == Folded(prefix.substr(0, prefix.size() - 1))) {
    *section = inner;
  } else {
    *section = prefix + inner;
  }
  return true;
}

// Whether a section line of the file names `section` (a SectionOf result).
bool SameSection(const std::string& fileSection, const std::wstring& section) {
  std::wstring normalized;
  return SectionOf(tev::FromStdUtf8(fileSection), &normalized) && Folded(normalized) == Folded(section);
}

bool ValidName(const std::wstring& name) {
  if (name.empty() || HasLineBreak(name) || name.find(L'=') != std::wstring::npos) return false;
  if (name.front() == L'[' || name.front() == L';' || name.front() == L'#') return false;
  const std::wstring blanks = L" \t";
  return blanks.find(name.front()) == std::wstring::npos && blanks.find(name.back()) == std::wstring::npos;
}

// One line of the file, kept as read so that rewriting keeps it.
struct IniLine {
  enum Kind { kOther, kSection, kValue };
  std::string text;
  Kind kind = kOther;
  std::string section;  // kSection: the name between the brackets
  std::string name;     // kValue
  std::string value;    // kValue, without blanks and quotes around it
};

std::string UnquotedValue(const std::string& raw) {
  std::string value = Trim(raw);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string QuotedValue(const std::string& value) {
  bool needs = !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                                  value.back() == '\t' || value.front() == '"');
  return needs ? "\"" + value + "\"" : value;
}

std::vector<IniLine> ParseLines(const std::string& content) {
  std::vector<IniLine> lines;
  size_t start = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    IniLine line;
    line.text = content.substr(start, end - start);
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    start = end + 1;

    std::string trimmed = Trim(line.text);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') {
      line.kind = IniLine::kOther;
    } else if (trimmed.front() == '[' && trimmed.back() == ']') {
      line.kind = IniLine::kSection;
      line.section = Trim(trimmed.substr(1, trimmed.size() - 2));
    } else if (trimmed.find('=') != std::string::npos) {
      size_t equals = trimmed.find('=');
      line.kind = IniLine::kValue;
      line.name = Trim(trimmed.substr(0, equals));
      line.value = UnquotedValue(trimmed.substr(equals + 1));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

enum class ReadResult { kOk, kMissing, kUnreadable };

ReadResult ReadFile(const std::string& path, std::string* content) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kUnreadable;
  content->clear();
  char buffer[8192];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? ReadResult::kUnreadable : ReadResult::kOk;
}

// Replaces `path` by `content` at once: a reader sees the old or the new
// file, never a part.
bool WriteFileAtomically(const std::string& path, const std::string& content) {
  std::error_code error;
  std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  std::string temp = path + ".tmp." + std::to_string(getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// Indexes of the value lines of `section` named `name` (first match
// first), or of all value lines of the section when `name` is null.
std::vector<size_t> FindValues(const std::vector<IniLine>& lines, const std::wstring& section,
                               const std::wstring* name, bool* sectionFound) {
  std::vector<size_t> found;
  bool inSection = false;
  *sectionFound = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const IniLine& line = lines[i];
    if (line.kind == IniLine::kSection) {
      inSection = SameSection(line.section, section);
      if (inSection) *sectionFound = true;
    } else if (inSection && line.kind == IniLine::kValue) {
      if (name == nullptr || EqualsIgnoringCase(line.name, *name)) found.push_back(i);
    }
  }
  return found;
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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBinary(const std::string& value) {
  return value.size() >= 4 && (value.compare(0, 4, "hex:") == 0 || value.compare(0, 4, "HEX:") == 0);
}

bool ParseBinary(const std::string& value, std::vector<unsigned char>* bytes) {
  if (!IsBinary(value)) return false;
  bytes->clear();
  int high = -1;
  for (size_t i = 4; i < value.size(); ++i) {
    char c = value[i];
    if (c == ',' || c == ' ' || c == '\t') {
      if (high >= 0) return false;  // odd digit count inside a byte
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes->push_back(static_cast<unsigned char>(high * 16 + digit));
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace

boost::shared_ptr<CRegistry> CRegistry::Instance() {
  // Never destroyed: threads that end after static destruction may still
  // ask. Held in place, so unloading the library loses no memory; each
  // caller's pointer only shares the object.
  static tev::NoDestructor<CRegistryImpl> instance;
  return boost::shared_ptr<CRegistry>(instance.get(), [](CRegistry*) {});
}

CRegistryImpl::CRegistryImpl(const std::string& path) : path_(path) {}

std::string CRegistryImpl::FilePath() const { return path_.empty() ? tev::RegistryFilePath() : path_; }

bool CRegistryImpl::ReadRaw(const std::wstring& key, const std::wstring& name, std::string* raw) {
  std::wstring section;
  if (!SectionOf(key, &section)) return false;
  std::string content;
  {
    PMutexLock lock(RegistryMutex());
    if (ReadFile(FilePath(), &content) != ReadResult::kOk) return false;
  }
  std::vector<IniLine> lines = ParseLines(content);
  bool sectionFound = false;
  std::vector<size_t> found = FindValues(lines, section, &name, &sectionFound);
  if (found.empty()) return false;
  *raw = lines[found.front()].value;
  return true;
}

bool CRegistryImpl::WriteRaw(const std::wstring& key, const std::wstring& name, const std::string& raw) {
  std::wstring section;
  if (!SectionOf(key, &section) || !ValidName(name)) return false;
  PMutexLock lock(RegistryMutex());
  const std::string path = FilePath();
  std::string content;
  ReadResult read = ReadFile(path, &content);
  if (read == ReadResult::kUnreadable) return false;
  std::vector<IniLine> lines = ParseLines(content);

  bool sectionFound = false;
  std::vector<size_t> found = FindValues(lines, section, &name, &sectionFound);
  if (!found.empty()) {
    IniLine& line = lines[found.front()];
    line.text = line.name + "=" + raw;  // keeps the spelling of the name
  } else {
    IniLine line;
    line.text = tev::ToStdUtf8(name) + "=" + raw;
    if (sectionFound) {
      // After the last value line of the first matching section (or right
      // after its header).
      size_t insertAt = 0;
      bool inSection = false;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == IniLine::kSection) {
          if (inSection) break;
          if (SameSection(lines[i].section, section)) {
            inSection = true;
            insertAt = i + 1;
          }
        } else if (inSection && lines[i].kind == IniLine::kValue) {
          insertAt = i + 1;
        }
      }
      lines.insert(lines.begin() + static_cast<long>(insertAt), line);
    } else {
      if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(IniLine());
      IniLine header;
      header.text = "[" + tev::ToStdUtf8(section) + "]";
      lines.push_back(header);
      lines.push_back(line);
    }
  }

  std::string output;
  for (const IniLine& line : lines) output += line.text + "\n";
  return WriteFileAtomically(path, output);
}

bool CRegistryImpl::SetDWORD(const std::wstring& key, const std::wstring& name, uint32_t value) {
  return WriteRaw(key, name, std::to_string(value));
}

bool CRegistryImpl::SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  if (HasLineBreak(value)) return false;
  return WriteRaw(key, name, QuotedValue(tev::ToStdUtf8(value)));
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

long CRegistryImpl::EnumValues(const std::wstring& key, std::map<std::wstring, std::wstring>* values) {
  std::wstring section;
  if (values == nullptr || !SectionOf(key, &section)) return kErrorInvalidParameter;
  std::string content;
  {
    PMutexLock lock(RegistryMutex());
    ReadResult read = ReadFile(FilePath(), &content);
    if (read == ReadResult::kMissing) return kErrorFileNotFound;
    if (read == ReadResult::kUnreadable) return kErrorAccessDenied;
  }
  std::vector<IniLine> lines = ParseLines(content);
  bool sectionFound = false;
  std::vector<size_t> found = FindValues(lines, section, nullptr, &sectionFound);
  if (!sectionFound) return kErrorFileNotFound;
  std::set<std::wstring> seen;
  for (size_t index : found) {
    const IniLine& line = lines[index];
    std::wstring name = tev::FromStdUtf8(line.name);
    if (!seen.insert(Folded(name)).second) continue;  // first one wins
    if (IsBinary(line.value)) continue;
    (*values)[name] = tev::FromStdUtf8(line.value);
  }
  return kErrorSuccess;
}

bool CRegistryImpl::SetBinary(const std::wstring& key, const std::wstring& name, const unsigned char* data,
                              long length) {
  if (data == nullptr || length <= 0) return false;
  static const char kDigits[] = "0123456789abcdef";
  std::string raw = "hex:";
  raw.reserve(4 + 2 * static_cast<size_t>(length));
  for (long i = 0; i < length; ++i) {
    raw += kDigits[data[i] >> 4];
    raw += kDigits[data[i] & 0x0F];
  }
  return WriteRaw(key, name, raw);
}

bool CRegistryImpl::GetBinary(const std::wstring& key, const std::wstring& name, unsigned char** data,
                              long* length) {
  std::string raw;
  std::vector<unsigned char> bytes;
  if (data == nullptr || length == nullptr || !ReadRaw(key, name, &raw) || !ParseBinary(raw, &bytes)) {
    return false;
  }
  *data = nullptr;
  if (!bytes.empty()) {
    *data = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), *data);
  }
  *length = static_cast<long>(bytes.size());
  return true;
}

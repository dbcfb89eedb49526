#include "platform/Folders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/WideText.h"

namespace tev {

namespace {

// The variable's value, or `fallback` when it is unset or empty.
std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? std::string(value) : std::string(fallback);
}

// Drops trailing '/' (keeping a lone "/") so callers can append "/name".
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool EnsureFolder(const std::string& path, std::wstring* folder) {
  if (folder == nullptr) return false;
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!std::filesystem::is_directory(path, error)) return false;
  *folder = FromStdUtf8(path);
  return true;
}

}  // namespace

bool CommonAppDataFolder(std::wstring* folder) {
  return EnsureFolder(WithoutTrailingSlash(FromEnvironment("TEV_APPDATA_DIR", "/var/lib")), folder);
}

bool CommonDocumentsFolder(std::wstring* folder) {
  return EnsureFolder(WithoutTrailingSlash(FromEnvironment("TEV_DOCUMENTS_DIR", "/srv/tev")), folder);
}

std::string RegistryFilePath() { return FromEnvironment("TEV_REGISTRY_FILE", "/etc/tev/registry.ini"); }

}  // namespace tev

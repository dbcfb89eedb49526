// Machine-wide folders and files that stand in for the Windows shell folders
// and registry hive. Each can be moved by an environment variable so that a
// non-root user or a test runs everything inside one folder.
#ifndef TEV_PLATFORM_FOLDERS_H_
#define TEV_PLATFORM_FOLDERS_H_

#include <string>

namespace tev {

// $TEV_APPDATA_DIR, default /var/lib. Created when missing; returns false
// when it cannot be created.
bool CommonAppDataFolder(std::wstring* folder);
// $TEV_DOCUMENTS_DIR, default /srv/tev. Created when missing.
bool CommonDocumentsFolder(std::wstring* folder);
// $TEV_REGISTRY_FILE, default /etc/tev/registry.ini.
std::string RegistryFilePath();

}  // namespace tev

#endif  // TEV_PLATFORM_FOLDERS_H_

#include "core/common_info.h"

#include "core/ini_file.h"
#include "tamaril_version.h"

namespace tamaril::core {

const int AppVersionMajor = TAMARIL_VERSION_MAJOR;
const int AppVersionMinor = TAMARIL_VERSION_MINOR;
const int AppVersionRelease = TAMARIL_VERSION_RELEASE;
const int AppVersionBuild = TAMARIL_VERSION_BUILD;

namespace {

constexpr const char* kDefaultCommonInfoFile = "/etc/ZRT/common.ini";

std::string& CommonInfoFileSetting() {
  static std::string file_name = kDefaultCommonInfoFile;
  return file_name;
}

}  // namespace

std::string CommonInfoFileName() { return CommonInfoFileSetting(); }

void SetCommonInfoFileName(const std::string& file_name) {
  CommonInfoFileSetting() = file_name.empty() ? kDefaultCommonInfoFile : file_name;
}

void ReadCommonInfo() {
  CommonDllPath.clear();
  CommonWebSite.clear();
  CommonMail.clear();
  CommonHelpPath.clear();
  try {
    const TQVMIniFile ini(CommonInfoFileName());
    CommonDllPath = ini.ReadString("COMMON", "DLLPATH", "");
    CommonWebSite = ini.ReadString("COMMON", "WEBSITE", "");
    CommonMail = ini.ReadString("COMMON", "MAIL", "");
    CommonHelpPath = ini.ReadString("COMMON", "HELP", "");
  } catch (const IniFileError&) {
    CommonDllPath.clear();
    CommonWebSite.clear();
    CommonMail.clear();
    CommonHelpPath.clear();
  }
}

}  // namespace tamaril::core

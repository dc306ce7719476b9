#include "config/logging_setup.h"

#include "common/log.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace config {

void ConfigureLogger(const std::string& logFile) {
  el::Configurations conf;
  conf.setToDefault();
  conf.set(el::Level::Info, el::ConfigurationType::Format, kLogFormat);
  conf.set(el::Level::Info, el::ConfigurationType::Enabled, "true");
  conf.set(el::Level::Info, el::ConfigurationType::ToStandardOutput, "true");
  conf.set(el::Level::Info, el::ConfigurationType::ToFile, "true");
  conf.set(el::Level::Info, el::ConfigurationType::Filename, logFile);
  el::Loggers::reconfigureLogger("default", conf);
  el::Loggers::addFlag(el::LoggingFlag::DisableApplicationAbortOnFatalLog);
  el::Loggers::removeFlag(el::LoggingFlag::LogDetailedCrashReason);
}

bool SetUpLogging(const std::wstring& downloadUrl, RunLocations* locations,
                  const RunLocations::DriveChooser& bestDrive) {
  bool found = false;
  const std::wstring stem = LogStemFromUrl(downloadUrl, &found);
  if (!found) return false;
  locations->Setup(stem, common::utf8ToWide(platform::appDataDir()), platform::localTime(), bestDrive);
  ConfigureLogger(common::wideToUtf8(locations->GetLogFilePath()));
  return true;
}

}  // namespace config

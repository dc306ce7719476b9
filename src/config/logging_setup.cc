#include "config/logging_setup.h"

#include "common/log.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace config {

void configureLogger(const std::string& logFile) {
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

bool setUpLogging(const std::wstring& downloadUrl, RunLocations* locations,
                  const RunLocations::DriveChooser& bestDrive) {
  bool found = false;
  const std::wstring stem = logStemFromUrl(downloadUrl, &found);
  if (!found) return false;
  locations->setup(stem, common::utf8ToWide(platform::appDataDir()), platform::localTime(), bestDrive);
  configureLogger(common::wideToUtf8(locations->getLogFilePath()));
  return true;
}

}  // namespace config

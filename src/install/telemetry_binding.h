#ifndef WEBSETUP_INSTALL_TELEMETRY_BINDING_H_
#define WEBSETUP_INSTALL_TELEMETRY_BINDING_H_

// Routes the configuration fetch's and the install flow's events, and the
// answer's Downloader_config and Additional_time, to the process's
// CSingleUserLog. Start-up calls it once, after the singleton's Init and
// before the window starts the asynchronous fetch. Until then the events
// are only logged.

namespace install {

void ConnectTelemetry();

}  // namespace install

#endif  // WEBSETUP_INSTALL_TELEMETRY_BINDING_H_

// What a factory test system files a report under: the machine's name and its operating system
// (HostInfoLinux.cpp or HostInfoWindows.cpp, chosen by the build).
#pragma once

#include <string>

namespace tarnhost {

// The host name, "" when the system does not give one.
std::string HostName();
// The operating system and its version: "Linux 6.1.0-18-amd64", "Windows 10.0.19045".
std::string OsDescription();

} // namespace tarnhost

#include "host/HostInfo.h"

#include <sys/utsname.h>

namespace tarnhost {

std::string HostName() {
    struct utsname name {};
    return uname(&name) == 0 ? name.nodename : "";
}

std::string OsDescription() {
    struct utsname name {};
    return uname(&name) == 0 ? std::string(name.sysname) + " " + name.release : "Linux";
}

} // namespace tarnhost

#include "os/backends/posix/ConsoleGuard.h"

#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace tarnos {
namespace posix {
namespace {

// The character device behind a path, following links; false when it is none.
bool DeviceOf(const std::string& path, dev_t* device) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    *device = info.st_rdev;
    return true;
}

} // namespace

bool IsKernelConsole(const std::string& path) {
    dev_t device = 0;
    if (!DeviceOf(path, &device)) {
        return false;
    }
    std::string consoles = "console tty";
    std::ifstream active("/sys/class/tty/console/active");
    std::string line;
    if (std::getline(active, line)) {
        consoles += " " + line; // e.g. "ttyS0" or "tty0 ttyS0"
    }
    std::istringstream names(consoles);
    std::string name;
    while (names >> name) {
        dev_t console = 0;
        if (DeviceOf("/dev/" + name, &console) && console == device) {
            return true;
        }
    }
    return false;
}

} // namespace posix
} // namespace tarnos

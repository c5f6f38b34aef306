#include "os/WindowsErrorText.h"

namespace tarnos {

std::string WindowsErrorText(DWORD code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough memory resources are available to process this command.";
    case ERROR_BAD_COMMAND:
        return "The device does not recognize the command.";
    case ERROR_GEN_FAILURE:
        return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_NOT_SUPPORTED:
        return "The request is not supported.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_SEM_TIMEOUT:
        return "The semaphore timeout period has expired.";
    case ERROR_COUNTER_TIMEOUT:
        return "A serial I/O operation completed because the timeout period expired. "
               "(The IOCTL_SERIAL_XOFF_COUNTER did not reach zero.)";
    case ERROR_DEVICE_NOT_CONNECTED:
        return "The device is not connected.";
    default:
        // FormatMessage has no text for such a code; this is what Windows tools print instead.
        return "Unknown error " + std::to_string(code) + ".";
    }
}

} // namespace tarnos

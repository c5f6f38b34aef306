#include "sim/InjectedFailure.h"

#include <algorithm>
#include <cstring>

namespace tarnsim {
namespace {

struct SFailableCall {
    const char* name;
    DWORD error;
};

// Every call but one reaches the port's driver, and a serial driver whose device stops answering fails
// the request with STATUS_UNSUCCESSFUL or the like, which Windows reports as ERROR_GEN_FAILURE ("A device
// attached to the system is not functioning"); opening a hung USB serial adapter gives the same code.
// BuildCommDCBW never reaches a driver: kernel32 reads the frame text itself and refuses a text it cannot
// parse with ERROR_INVALID_PARAMETER, leaving the DCB as it was.
const SFailableCall FAILABLE_CALLS[] = {
    {"CreateFileW", ERROR_GEN_FAILURE},         {"CloseHandle", ERROR_GEN_FAILURE},
    {"GetCommState", ERROR_GEN_FAILURE},        {"SetCommState", ERROR_GEN_FAILURE},
    {"BuildCommDCBW", ERROR_INVALID_PARAMETER}, {"SetupComm", ERROR_GEN_FAILURE},
    {"SetCommTimeouts", ERROR_GEN_FAILURE},     {"ReadFile", ERROR_GEN_FAILURE},
    {"WriteFile", ERROR_GEN_FAILURE},           {"GetCommModemStatus", ERROR_GEN_FAILURE},
    {"GetCommProperties", ERROR_GEN_FAILURE},
};

} // namespace

const std::vector<const char*>& FailableCalls() {
    static const std::vector<const char*> names = [] {
        std::vector<const char*> list;
        for (const SFailableCall& call : FAILABLE_CALLS) {
            list.push_back(call.name);
        }
        return list;
    }();
    return names;
}

DWORD InjectedFailure(const std::vector<std::string>& failures, const char* call) {
    if (std::find(failures.begin(), failures.end(), call) == failures.end()) {
        return ERROR_SUCCESS;
    }
    for (const SFailableCall& failable : FAILABLE_CALLS) {
        if (std::strcmp(failable.name, call) == 0) {
            return failable.error;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace tarnsim

#include "sim/InjectedFailure.h"

#include <algorithm>

namespace tarnsim {
namespace {

struct SFailableCall {
    SeamCall call;
    DWORD error;
};

// Every call but one reaches the port's driver, and a serial driver whose device stops answering fails
// the request with STATUS_UNSUCCESSFUL or the like, which Windows reports as ERROR_GEN_FAILURE ("A device
// attached to the system is not functioning"); opening a hung USB serial adapter gives the same code.
// BuildCommDCBW never reaches a driver: kernel32 reads the frame text itself and refuses a text it cannot
// parse with ERROR_INVALID_PARAMETER, leaving the DCB as it was.
const SFailableCall FAILABLE_CALLS[] = {
    {SeamCall::CreateFileW, ERROR_GEN_FAILURE},
    {SeamCall::CloseHandle, ERROR_GEN_FAILURE},
    {SeamCall::GetCommState, ERROR_GEN_FAILURE},
    {SeamCall::SetCommState, ERROR_GEN_FAILURE},
    {SeamCall::BuildCommDCBW, ERROR_INVALID_PARAMETER},
    {SeamCall::SetupComm, ERROR_GEN_FAILURE},
    {SeamCall::SetCommTimeouts, ERROR_GEN_FAILURE},
    {SeamCall::GetCommTimeouts, ERROR_GEN_FAILURE},
    {SeamCall::ReadFile, ERROR_GEN_FAILURE},
    {SeamCall::WriteFile, ERROR_GEN_FAILURE},
    {SeamCall::GetCommModemStatus, ERROR_GEN_FAILURE},
    {SeamCall::GetCommProperties, ERROR_GEN_FAILURE},
};

} // namespace

const std::vector<const char*>& FailableCalls() {
    static const std::vector<const char*> names = [] {
        std::vector<const char*> list;
        for (const SFailableCall& call : FAILABLE_CALLS) {
            list.push_back(SeamCallName(call.call));
        }
        return list;
    }();
    return names;
}

DWORD InjectedFailure(const std::vector<std::string>& failures, SeamCall call) {
    if (std::find(failures.begin(), failures.end(), SeamCallName(call)) == failures.end()) {
        return ERROR_SUCCESS;
    }
    for (const SFailableCall& failable : FAILABLE_CALLS) {
        if (failable.call == call) {
            return failable.error;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace tarnsim

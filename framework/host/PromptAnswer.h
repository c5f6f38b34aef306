// An answer to the module's adapter prompt chosen before the run (--answer, the settings file).
#pragma once

#include "kivu5/kivu5.h"

namespace tarnhost {

enum class PromptAnswer { Ok, Cancel };

// Cancel is the answer 150 of Parts 5.4 and 5.6.
inline kivu5::MsgBoxReturn ToMsgBoxReturn(PromptAnswer answer) {
    return answer == PromptAnswer::Cancel ? kivu5::MSGBOX_RETURN_CANCEL : kivu5::MSGBOX_RETURN_OK;
}

} // namespace tarnhost

// An answer to the module's adapter prompt chosen before the run (--answer, the settings file).
#pragma once

#include "kivu5/kivu5.h"

namespace tarnhost {

enum class PromptAnswer { Ok, Cancel };

// Cancel is the message box's answer 150, with which the external tests end as aborted by the user.
inline kivu5::MsgBoxReturn ToMsgBoxReturn(PromptAnswer answer) {
    return answer == PromptAnswer::Cancel ? kivu5::MSGBOX_RETURN_CANCEL : kivu5::MSGBOX_RETURN_OK;
}

} // namespace tarnhost

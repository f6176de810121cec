// The PIN dialog's own texts (labels and notices the program's table does not
// have), in the language the program's text table chose.
#pragma once

enum class UiText {
    VerifyDetail,        // mode 19 and any other
    VerifyDetailRename,  // mode 3: before a rename
    ChangeDetail,
    UserPin,
    OldPin,
    NewPin,
    ConfirmPin,
    EmptyPin,
    WrongPin,            // %u: tries left
    Mismatch,
};

const wchar_t* GetUiText(UiText which);

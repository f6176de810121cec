#include "stubs/ui/uitexts.h"

#include "text/langtext.h"

namespace {

struct Row {
    const wchar_t* english;
    const wchar_t* simplified;
    const wchar_t* traditional;
};

// In the order of UiText.
const Row kRows[] = {
    {L"Enter the user PIN of the USB key.", L"请输入USB Key的用户PIN码。", L"請輸入USB Key的用戶PIN碼。"},
    {L"Enter the user PIN to rename the USB key.", L"修改USB Key名前请输入用户PIN码。",
     L"修改USB Key名前請輸入用戶PIN碼。"},
    {L"Change the user PIN of the USB key.", L"修改USB Key的用户PIN码。", L"修改USB Key的用戶PIN碼。"},
    {L"User PIN:", L"用户PIN码：", L"用戶PIN碼："},
    {L"Old PIN:", L"原PIN码：", L"原PIN碼："},
    {L"New PIN:", L"新PIN码：", L"新PIN碼："},
    {L"Confirm PIN:", L"确认新PIN码：", L"確認新PIN碼："},
    {L"Please enter the PIN.", L"请输入PIN码。", L"請輸入PIN碼。"},
    {L"Wrong PIN, %u tries left.", L"PIN码错误，还可以重试%u次。", L"PIN碼錯誤，還可以重試%u次。"},
    {L"The new PINs do not match.", L"两次输入的新PIN码不一致。", L"兩次輸入的新PIN碼不一致。"},
};

} // namespace

const wchar_t* GetUiText(UiText which) {
    const Row& row = kRows[static_cast<int>(which)];
    switch (GetTextLanguage()) {
    case kLangSimplified: return row.simplified;
    case kLangTraditional: return row.traditional;
    default: return row.english;
    }
}

// Stand-in for the vendor's PIN-dialog library: a small modal Win32 dialog
// that verifies or changes the user PIN through the token library's own
// functions, on the device and application handles the caller opened.
// Scriptable from the environment for tests and the demo (see README.md).
#include "stubs/ui/uitexts.h"
#include "text/langtext.h"
#include "token/keyops.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(SOFTUI_NO_FUNCLIST_EXPORT)
#define SOFTUI_FUNCLIST_API
#else
#define SOFTUI_FUNCLIST_API __declspec(dllexport)
#endif

extern "C" SOFTUI_FUNCLIST_API ULONG WINAPI UI_GetFunctionList(UiFunctionTable* table);

namespace {

// Results besides 0 and the token library's own codes.
constexpr ULONG UI_CANCELLED = 0xD0100101;    // the user cancelled or closed the dialog
constexpr ULONG UI_BAD_REQUEST = 0xD0100102;  // null request or handles
constexpr ULONG UI_NO_TOKEN = 0xD0100103;     // token library or its PIN functions not there
constexpr ULONG UI_NO_DIALOG = 0xD0100104;    // the dialog could not be created
constexpr ULONG UI_PIN_LOCKED = 0xD0100107;   // the user PIN is locked (now or before)
constexpr ULONG UI_KEY_REMOVED = 0xD0106983;  // the key went away while the dialog was up

enum ControlId : WORD {
    IDC_DETAIL = 1001,
    IDC_LABEL1 = 1002,
    IDC_LABEL2 = 1003,
    IDC_LABEL3 = 1004,
    IDC_STATUS = 1005,
    IDC_PIN1 = 1010,  // user PIN, or old PIN
    IDC_PIN2 = 1011,  // new PIN
    IDC_PIN3 = 1012,  // new PIN again
};

constexpr UINT_PTR kScriptTimer = 1;
constexpr UINT kStepGapMs = 50;

HINSTANCE g_module = nullptr;

// The token library the caller loaded; held for the length of one dialog.
class TokenFunctions {
public:
    TokenFunctions() : module_(LoadLibraryA("XelSKF_QOR_ZAF.dll")) {
        if (!module_) return;
        auto getList = reinterpret_cast<PFN_SKF_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(module_, "SKF_GetFunctionList")));
        SkfFunctionTable table;
        memset(&table, 0, sizeof table);
        if (!getList) return;
        getList(&table);  // a partial table still has what it has
        verify = reinterpret_cast<PFN_SKF_VerifyPIN>(table.slot[SLOT_VerifyPIN]);
        change = reinterpret_cast<PFN_SKF_ChangePIN>(table.slot[SLOT_ChangePIN]);
    }
    ~TokenFunctions() {
        if (module_) FreeLibrary(module_);
    }
    TokenFunctions(const TokenFunctions&) = delete;
    TokenFunctions& operator=(const TokenFunctions&) = delete;

    PFN_SKF_VerifyPIN verify = nullptr;
    PFN_SKF_ChangePIN change = nullptr;

private:
    HMODULE module_;
};

std::string EnvA(const char* name) {
    char buf[1024] = {};
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// SOFTUI_SCRIPT: steps separated by ';'.
struct Step {
    enum Kind { Type, Change, Cancel, Close, Wait } kind;
    std::string pin1, pin2, pin3;
    UINT ms = 0;
};

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        size_t end = s.find(sep, pos);
        parts.push_back(s.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return parts;
}

std::vector<Step> ParseScript(const std::string& script) {
    std::vector<Step> steps;
    if (script.empty()) return steps;
    for (const std::string& text : Split(script, ';')) {
        std::vector<std::string> f = Split(text, ':');
        Step step{Step::Cancel, {}, {}, {}, 0};
        if (f[0] == "type" && f.size() == 2) {
            step.kind = Step::Type;
            step.pin1 = f[1];
        } else if (f[0] == "change" && (f.size() == 3 || f.size() == 4)) {
            step.kind = Step::Change;
            step.pin1 = f[1];
            step.pin2 = f[2];
            step.pin3 = f.size() == 4 ? f[3] : f[2];
        } else if (f[0] == "cancel" && f.size() == 1) {
            step.kind = Step::Cancel;
        } else if (f[0] == "close" && f.size() == 1) {
            step.kind = Step::Close;
        } else if (f[0] == "wait" && f.size() == 2) {
            step.kind = Step::Wait;
            step.ms = static_cast<UINT>(strtoul(f[1].c_str(), nullptr, 10));
        } else {
            continue;  // unknown steps are skipped
        }
        steps.push_back(step);
    }
    return steps;
}

// A dialog template built in memory (DLGTEMPLATE followed by its items).
class TemplateBuilder {
public:
    TemplateBuilder(const std::wstring& caption, short cx, short cy) {
        DWORD style = DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER | DS_SETFOREGROUND | WS_POPUP |
                      WS_CAPTION | WS_SYSMENU;
        Dword(style);
        Dword(0);
        countAt_ = words_.size();
        Word(0);
        Word(0);
        Word(0);
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0);  // no menu
        Word(0);  // standard class
        String(caption);
        Word(9);
        String(L"MS Shell Dlg");
    }
    void Item(WORD atom, WORD id, DWORD style, short x, short y, short cx, short cy, const std::wstring& text) {
        if (words_.size() % 2) Word(0);  // DWORD alignment
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(atom);
        String(text);
        Word(0);  // no creation data
        ++words_[countAt_];
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void String(const std::wstring& s) {
        for (wchar_t c : s) Word(static_cast<WORD>(c));
        Word(0);
    }
    std::vector<WORD> words_;
    size_t countAt_ = 0;
};

constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

struct DialogState {
    PinDialogRequest* request;
    bool change;
    TokenFunctions* token;
    ULONG result;
    std::vector<Step> script;
    size_t nextStep;
};

void SetStatus(HWND dlg, const wchar_t* text) { SetDlgItemTextW(dlg, IDC_STATUS, text); }

std::string PinText(HWND dlg, int id) {
    char buf[128] = {};
    GetDlgItemTextA(dlg, id, buf, sizeof buf);
    return buf;
}

// After a token answer: true ends the dialog with state.result.
bool TakeTokenAnswer(HWND dlg, DialogState& state, ULONG rv, ULONG retry) {
    switch (rv) {
    case SAR_OK: state.result = 0; return true;
    case SAR_PIN_LOCKED: state.result = UI_PIN_LOCKED; return true;
    case SAR_DEVICE_REMOVED: state.result = UI_KEY_REMOVED; return true;
    case SAR_PIN_INCORRECT:
        if (retry == 0) {
            state.result = UI_PIN_LOCKED;
            return true;
        } else {
            wchar_t text[256] = {};
            _snwprintf(text, 255, GetUiText(UiText::WrongPin), static_cast<unsigned>(retry));
            SetStatus(dlg, text);
            SetDlgItemTextW(dlg, IDC_PIN1, L"");
            SetFocus(GetDlgItem(dlg, IDC_PIN1));
            return false;
        }
    default: state.result = rv; return true;
    }
}

void OnOk(HWND dlg, DialogState& state) {
    std::string pin1 = PinText(dlg, IDC_PIN1);
    if (pin1.empty()) {
        SetStatus(dlg, GetUiText(UiText::EmptyPin));
        return;
    }
    ULONG retry = 0;
    ULONG rv;
    if (state.change) {
        std::string pin2 = PinText(dlg, IDC_PIN2), pin3 = PinText(dlg, IDC_PIN3);
        if (pin2.empty()) {
            SetStatus(dlg, GetUiText(UiText::EmptyPin));
            return;
        }
        if (pin2 != pin3) {
            SetStatus(dlg, GetUiText(UiText::Mismatch));
            return;
        }
        rv = state.token->change(state.request->application, SKF_USER_PIN, &pin1[0], &pin2[0], &retry);
    } else {
        rv = state.token->verify(state.request->application, SKF_USER_PIN, &pin1[0], &retry);
    }
    if (TakeTokenAnswer(dlg, state, rv, retry)) EndDialog(dlg, IDOK);
}

void RunNextStep(HWND dlg, DialogState& state) {
    if (state.nextStep >= state.script.size()) return;
    const Step& step = state.script[state.nextStep++];
    UINT gap = kStepGapMs;
    switch (step.kind) {
    case Step::Type:
    case Step::Change:
        SetDlgItemTextA(dlg, IDC_PIN1, step.pin1.c_str());
        if (state.change) {
            SetDlgItemTextA(dlg, IDC_PIN2, step.pin2.c_str());
            SetDlgItemTextA(dlg, IDC_PIN3, step.pin3.c_str());
        }
        SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
        break;
    case Step::Cancel: SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0); break;
    case Step::Close: SendMessageW(dlg, WM_CLOSE, 0, 0); break;
    case Step::Wait: gap = step.ms; break;
    }
    // The dialog may have ended inside the click; a timer on it then does nothing.
    if (IsWindow(dlg) && state.nextStep < state.script.size()) SetTimer(dlg, kScriptTimer, gap, nullptr);
}

INT_PTR CALLBACK PinDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<DialogState*>(lp);
        SetWindowLongPtrW(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
        for (int id : {IDC_PIN1, IDC_PIN2, IDC_PIN3})
            if (HWND edit = GetDlgItem(dlg, id)) SendMessageW(edit, EM_LIMITTEXT, 64, 0);
        SetFocus(GetDlgItem(dlg, IDC_PIN1));
        if (!state->script.empty()) {
            std::string delay = EnvA("SOFTUI_DELAY_MS");
            SetTimer(dlg, kScriptTimer, delay.empty() ? 100 : static_cast<UINT>(strtoul(delay.c_str(), nullptr, 10)),
                     nullptr);
        }
        return FALSE;
    }
    case WM_TIMER:
        if (wp == kScriptTimer && state) {
            KillTimer(dlg, kScriptTimer);
            RunNextStep(dlg, *state);
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (!state) break;
        if (LOWORD(wp) == IDOK) {
            OnOk(dlg, *state);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {  // also the close box, Escape and WM_CLOSE
            state->result = UI_CANCELLED;
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// SOFTUI_REPORT: one line per dialog, for tests.
void Report(const char* kind, const PinDialogRequest& request, const std::wstring& caption, const std::wstring& detail,
            ULONG result) {
    std::string file = EnvA("SOFTUI_REPORT");
    if (file.empty()) return;
    FILE* f = fopen(file.c_str(), "ab");
    if (!f) return;
    char deviceName[sizeof request.deviceName + 1] = {};
    memcpy(deviceName, request.deviceName, sizeof request.deviceName);
    fprintf(f, "dialog=%s mode=%u owner=%p device=%s caption=%s detail=%s result=0x%08x\n", kind,
            static_cast<unsigned>(request.mode), static_cast<void*>(request.owner), deviceName,
            Utf8(caption).c_str(), Utf8(detail).c_str(), static_cast<unsigned>(result));
    fclose(f);
}

void ApplyLanguageSeam() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string lcid = EnvA("SOFTUI_LCID");
    if (!lcid.empty()) qtext::SetLcidForTest(static_cast<LCID>(strtoul(lcid.c_str(), nullptr, 0)));
}

ULONG RunPinDialog(PinDialogRequest* request, bool change) {
    if (!request || !request->device || !request->application) return UI_BAD_REQUEST;
    ApplyLanguageSeam();
    TokenFunctions token;
    if (change ? !token.change : !token.verify) return UI_NO_TOKEN;

    std::wstring caption = GetLangText(change ? L"Dlg_ChgPIN_Title" : L"Dlg_VerifyPIN_Title");
    // Only the line above the fields tells the modes apart; the caption stays
    // the title the program looks its dialogs up by.
    std::wstring detail = change ? GetUiText(UiText::ChangeDetail)
                          : request->mode == kPinModeBeforeRename ? GetUiText(UiText::VerifyDetailRename)
                                                                   : GetUiText(UiText::VerifyDetail);
    const short cx = 220, labelW = 70, editX = 82, editW = 131;
    short y = 7;
    TemplateBuilder tpl(caption, cx, change ? 122 : 90);
    tpl.Item(kStatic, IDC_DETAIL, SS_LEFT, 7, y, cx - 14, 18, detail);
    y += 24;
    if (change) {
        tpl.Item(kStatic, IDC_LABEL1, SS_LEFT, 7, y + 2, labelW, 10, GetUiText(UiText::OldPin));
        tpl.Item(kEdit, IDC_PIN1, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, editX, y, editW, 13, L"");
        y += 18;
        tpl.Item(kStatic, IDC_LABEL2, SS_LEFT, 7, y + 2, labelW, 10, GetUiText(UiText::NewPin));
        tpl.Item(kEdit, IDC_PIN2, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, editX, y, editW, 13, L"");
        y += 18;
        tpl.Item(kStatic, IDC_LABEL3, SS_LEFT, 7, y + 2, labelW, 10, GetUiText(UiText::ConfirmPin));
        tpl.Item(kEdit, IDC_PIN3, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, editX, y, editW, 13, L"");
        y += 18;
    } else {
        tpl.Item(kStatic, IDC_LABEL1, SS_LEFT, 7, y + 2, labelW, 10, GetUiText(UiText::UserPin));
        tpl.Item(kEdit, IDC_PIN1, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, editX, y, editW, 13, L"");
        y += 18;
    }
    tpl.Item(kStatic, IDC_STATUS, SS_LEFT, 7, y, cx - 14, 10, L"");
    y += 14;
    tpl.Item(kButton, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, cx - 7 - 50 - 6 - 50, y, 50, 14, GetLangText(L"DlgButton_OK"));
    tpl.Item(kButton, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, cx - 7 - 50, y, 50, 14, GetLangText(L"DlgButton_Cancel"));

    DialogState state{request, change, &token, UI_CANCELLED, ParseScript(EnvA("SOFTUI_SCRIPT")), 0};
    INT_PTR rc = DialogBoxIndirectParamW(g_module, tpl.Get(), request->owner, PinDialogProc,
                                         reinterpret_cast<LPARAM>(&state));
    ULONG result = rc == -1 ? UI_NO_DIALOG : state.result;
    Report(change ? "change" : "verify", *request, caption, detail, result);
    return result;
}

#if !defined(SOFTUI_NO_VERIFY)
ULONG WINAPI VerifyPinDialog(PinDialogRequest* request) { return RunPinDialog(request, false); }
#endif
ULONG WINAPI ChangePinDialog(PinDialogRequest* request) { return RunPinDialog(request, true); }

} // namespace

extern "C" ULONG WINAPI UI_GetFunctionList(UiFunctionTable* table) {
    if (!table) return UI_BAD_REQUEST;
#if defined(SOFTUI_NO_VERIFY)
    table->slot[0] = nullptr;
#else
    table->slot[0] = reinterpret_cast<void*>(&VerifyPinDialog);
#endif
    table->slot[1] = reinterpret_cast<void*>(&ChangePinDialog);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

// win::Dialog: a dialog from a resource template, run modally (DoModal) or
// modelessly (Create), with its messages in one virtual hook.
//
// Message flow, for every message after WM_INITDIALOG (the dialog window is
// subclassed there, and linked to the object through DWLP_USER):
//   1. OnMessage(msg, wp, lp, result): the dialog's message map. Return true
//      when handled; `result` is then what the window procedure returns (no
//      DWLP_MSGRESULT dance). Default(msg, wp, lp) inside a handler runs the
//      dialog manager's own processing first ("call the base class").
//   2. If OnMessage returned false: WM_COMMAND IDOK -> OnOK(), IDCANCEL ->
//      OnCancel() (the dialog manager turns Enter, Escape and the close box
//      into these); WM_DRAWITEM / WM_MEASUREITEM / WM_COMPAREITEM /
//      WM_DELETEITEM are reflected to the control's object (ReflectToChild).
//   3. Otherwise the dialog manager's default processing (DefDlgProc).
//
// Modal runs do NOT use DialogBoxParam: DoModal creates the window with
// CreateDialogParamW, disables the owner (if any), shows the dialog when the
// template did not, and runs its own message loop until EndDialog. The loop
// hands every message to PumpDialogMessage(), so PreTranslateMessage of the
// dialog whose top-level window the message is for can swallow it (for
// instance Enter and Escape) before IsDialogMessage and dispatch see it.
// Modal loops nest (a dialog opened from a handler runs its own loop); a
// WM_QUIT ends the loop, is posted again for the outer loops, and DoModal
// returns -1. DoModal also returns -1 when the window cannot be created.
// EndDialog inside OnInitDialog ends the run before the dialog is shown.
//
// Modeless: Create() then DestroyWindow(); EndDialog on a modeless dialog
// records the result and destroys the window. Whatever loop runs the thread
// should call PumpDialogMessage() for keyboard navigation (the modal loop
// does). Destroy a modeless dialog before its object: the destructor does
// destroy a window still open, but derived handlers no longer run then.
#pragma once

#include "win/window.h"

#include <string>

namespace win {

class Dialog : public Window {
public:
    // module: where the template lives; null = the executable.
    explicit Dialog(UINT templateId, HINSTANCE module = nullptr) noexcept;
    ~Dialog() override;

    INT_PTR DoModal(HWND owner = nullptr);
    bool Create(HWND owner = nullptr);
    void DestroyWindow() noexcept;
    void EndDialog(INT_PTR result) noexcept;

    bool IsModalRunning() const noexcept { return modalRunning_; }
    // The code given to EndDialog (meaningful once the dialog has ended).
    INT_PTR Result() const noexcept { return result_; }
    UINT TemplateId() const noexcept { return templateId_; }

    HWND Item(int id) const noexcept { return GetDlgItem(Hwnd(), id); }
    void SetItemText(int id, const std::wstring& text) const noexcept;
    std::wstring GetItemText(int id) const;
    void EnableItem(int id, bool on) const noexcept;
    bool IsItemEnabled(int id) const noexcept;
    void ShowItem(int id, bool show) const noexcept;
    bool IsItemVisible(int id) const noexcept;
    LRESULT SendItem(int id, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const noexcept;
    // MessageBoxW owned by this dialog.
    int MsgBox(const std::wstring& text, const std::wstring& caption, UINT style) const noexcept;

    // The Dialog object of a dialog window (DWLP_USER), or null.
    static Dialog* FromDialogHandle(HWND hwnd) noexcept;
    // One step of any message loop of the thread: PreTranslateMessage of the
    // Dialog owning msg's top-level window, then IsDialogMessage for that
    // window. True when the message was consumed (do not dispatch it).
    static bool PumpDialogMessage(MSG& msg);

protected:
    // After the controls exist; TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    // True swallows the message. Called by PumpDialogMessage for messages to
    // this dialog or any of its child windows.
    virtual bool PreTranslateMessage(MSG& msg);
    virtual void OnOK();      // EndDialog(IDOK)
    virtual void OnCancel();  // EndDialog(IDCANCEL)

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    bool Dispatch(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    bool DefaultHandling(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    UINT templateId_;
    HINSTANCE module_;
    bool modal_ = false;
    bool modalRunning_ = false;
    bool ended_ = false;
    bool creating_ = false;
    INT_PTR result_ = -1;
};

} // namespace win

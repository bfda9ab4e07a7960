// A small dialog framework: a dialog object bound to its window, handlers bound
// to control ids and window messages, field exchange with controls, and a modal
// run with its own message loop so that keys can be looked at before dispatch.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

class DialogBase {
  public:
    using CommandHandler = std::function<void()>;
    // Answers the message's result; `handled` false hands it to the default handling.
    using MessageHandler = std::function<LRESULT(WPARAM, LPARAM, bool& handled)>;

    explicit DialogBase(int templateId) : m_nTemplateId(templateId) {}
    virtual ~DialogBase() = default;
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Runs the dialog modally; answers the value given to EndDialog.
    int DoModal(HWND parent);
    void EndDialog(int result);
    HWND Handle() const { return m_hWnd; }

  protected:
    // BN_CLICKED (or any notification `code`) of control `id`.
    void OnCommand(int id, CommandHandler handler, WORD code = BN_CLICKED);
    void OnMessage(UINT message, MessageHandler handler);
    // Called once the window exists and the template's controls are there.
    virtual void OnInitDialog() {}
    // Called when the modal run is over, however it ended, before the window is
    // destroyed.
    virtual void OnEnding() {}
    // Looked at before a message is dispatched; true swallows it.
    virtual bool PreTranslateMessage(const MSG&) { return false; }

    // Field exchange: save true reads the control into the field, false writes it.
    void DdxText(int id, std::string& field, bool save);
    void DdxCheck(int id, int& field, bool save);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    int m_nTemplateId;
    HWND m_hWnd = nullptr;
    bool m_bEnded = false;
    int m_nResult = 0;
    std::map<DWORD, CommandHandler> m_commands;
    std::map<UINT, MessageHandler> m_messages;
};

// GetWindowTextA of a control as a text of any length.
std::string ControlText(HWND control);

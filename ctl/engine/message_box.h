// Every message box of the control program goes through ShowMessageBox, so that a test
// can read each text and caption and give the answer instead of a user.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace pta {

// The caption of boxes that name no caption of their own.
constexpr const char* kAppTitle = "PortaraCtl";

// Answers a box in place of the user: gets the text, caption and MB_ flags, returns the
// button id (IDOK, IDYES, ...) that MessageBoxA would return.
using MessageBoxHook =
    std::function<int(const std::string& text, const std::string& caption, UINT flags)>;

// A modal box owned by the window given to SetMessageBoxOwner; returns the button chosen.
int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);
// The same with the application title as caption.
int ShowMessageBox(const std::string& text, UINT flags);

// Sets the owner window of the boxes (null: none).
void SetMessageBoxOwner(HWND owner);

// Replaces the boxes by a hook (an empty hook restores them); returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Installs a hook for one scope and puts the previous one back at its end.
class ScopedMessageBoxHook {
public:
    explicit ScopedMessageBoxHook(MessageBoxHook hook) : previous_(SetMessageBoxHook(std::move(hook))) {}
    ~ScopedMessageBoxHook() { SetMessageBoxHook(std::move(previous_)); }
    ScopedMessageBoxHook(const ScopedMessageBoxHook&) = delete;
    ScopedMessageBoxHook& operator=(const ScopedMessageBoxHook&) = delete;

private:
    MessageBoxHook previous_;
};

}  // namespace pta

#include "message_box.h"

#include <mutex>

namespace pta {

namespace {

std::mutex g_lock;
MessageBoxHook g_hook;
HWND g_owner = nullptr;

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags)
{
    MessageBoxHook hook;
    HWND owner;
    {
        // The box itself is shown outside the lock: it is modal and may take long.
        std::lock_guard<std::mutex> lock(g_lock);
        hook = g_hook;
        owner = g_owner;
    }
    if (hook) return hook(text, caption, flags);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

int ShowMessageBox(const std::string& text, UINT flags)
{
    return ShowMessageBox(text, kAppTitle, flags);
}

void SetMessageBoxOwner(HWND owner)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_owner = owner;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard<std::mutex> lock(g_lock);
    std::swap(g_hook, hook);
    return hook;
}

}  // namespace pta

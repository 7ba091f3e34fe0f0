// The single-instance guard: the named section ComPtaMap holds the main window of the
// copy that runs, so that a later copy can bring that window forward and end.
#include "common_control.h"

namespace pta {

namespace {

constexpr const char* kSectionName = "ComPtaMap";
constexpr DWORD kSectionBytes = 4;

// Window handles are 32-bit values that Windows sign-extends.
HWND WindowFromValue(uint32_t value)
{
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

// Shows and fronts the window that the section names.
void ActivateWindowOf(HANDLE section)
{
    const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, kSectionBytes);
    if (!view) return;
    const uint32_t value = *static_cast<const volatile uint32_t*>(view);
    UnmapViewOfFile(view);
    const HWND window = WindowFromValue(value);
    if (window && IsWindow(window)) {
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
    }
}

}  // namespace

bool CCommonControl::ClaimSection()
{
    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kSectionBytes, kSectionName);
    if (!created) {
        section_ = nullptr;  // no guard, but no reason to stop either
        return true;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        ActivateWindowOf(created);
        CloseHandle(created);
        section_ = nullptr;
        return false;
    }
    section_ = created;
    return true;
}

void CCommonControl::SetMainWindow(HWND window)
{
    if (!section_ && !ClaimSection()) return;
    if (!section_) return;
    void* view = MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, kSectionBytes);
    if (!view) return;
    *static_cast<volatile uint32_t*>(view) = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    UnmapViewOfFile(view);
}

void CCommonControl::CloseSection()
{
    if (section_) CloseHandle(section_);
    section_ = nullptr;
}

}  // namespace pta

// The dialog layer on its own: message maps with member handlers, command and notification
// dispatch, results, control binding and text exchange, on a modeless dialog.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog.h"
#include "resource.h"

using namespace pta::ui;

namespace {

class ProbeDialog : public Dialog {
public:
    ProbeDialog() : Dialog(IDD_MAIN_DIALOG)
    {
        OnMessage(WM_USER + 7, &ProbeDialog::OnProbe);
        OnMessage(WM_QUERYDRAGICON, [](WPARAM, LPARAM) -> LRESULT { return 0x1234; });
        OnCommand(IDC_REFRESH, &ProbeDialog::OnRefresh);
        OnCommand(IDC_REFRESH, EN_CHANGE, [this] { calls.push_back("refresh change"); });
        OnNotify(IDC_SHEET_FRAME, NM_CLICK, &ProbeDialog::OnFrameClick);
        OnNotify(kAnyControl, NM_DBLCLK, [this](NMHDR* header) -> LRESULT {
            calls.push_back("any dblclk " + std::to_string(header->idFrom));
            return 5;
        });
        Bind(IDC_CONTROLLER_SETUP, setup);
        BindText(IDC_REFRESH, refreshText);
    }

    BOOL OnInitDialog() override
    {
        calls.push_back(setup.Valid() ? "init, bound" : "init, unbound");
        return TRUE;
    }

    LRESULT OnProbe(WPARAM w, LPARAM l)
    {
        calls.push_back("probe");
        return static_cast<LRESULT>(w + l);
    }
    void OnRefresh() { calls.push_back("refresh"); }
    LRESULT OnFrameClick(NMHDR*)
    {
        calls.push_back("frame click");
        return 3;
    }

    Control setup;
    std::string refreshText = "Again";
    std::vector<std::string> calls;
};

LRESULT Notify(HWND dialog, UINT_PTR id, UINT code)
{
    NMHDR header{};
    header.hwndFrom = GetDlgItem(dialog, static_cast<int>(id));
    header.idFrom = id;
    header.code = code;
    // A handled notification leaves its result in DWLP_MSGRESULT; SendMessage returns it.
    return SendMessageA(dialog, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&header));
}

TEST(DialogLayer, InitialisationBindsControlsFirstAndFillsBoundTexts)
{
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    ASSERT_EQ(1u, dialog.calls.size());
    EXPECT_EQ("init, bound", dialog.calls[0]);
    EXPECT_EQ("Controller Setup", dialog.setup.Text());
    EXPECT_EQ(GetDlgItem(dialog.Hwnd(), IDC_CONTROLLER_SETUP), dialog.setup.Hwnd());
    // Text exchange: the field went into the control at start, and comes back on save.
    EXPECT_EQ("Again", Control(dialog.Item(IDC_REFRESH)).Text());
    SetDlgItemTextA(dialog.Hwnd(), IDC_REFRESH, "Typed");
    dialog.Exchange(true);
    EXPECT_EQ("Typed", dialog.refreshText);
}

TEST(DialogLayer, MessagesReachTheirHandlersWithResults)
{
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    HWND hwnd = dialog.Hwnd();
    dialog.calls.clear();

    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        const char* call;  // the handler that ran, or none
    };
    const Case cases[] = {
        {"own message, result through DWLP_MSGRESULT", WM_USER + 7, 2, 40, 42, "probe"},
        {"direct result", WM_QUERYDRAGICON, 0, 0, 0x1234, nullptr},
        {"button click", WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED), 0, 0, "refresh"},
        {"accelerator", WM_COMMAND, MAKEWPARAM(IDC_REFRESH, 1), 0, 0, "refresh"},
        {"other code of the same control", WM_COMMAND, MAKEWPARAM(IDC_REFRESH, EN_CHANGE), 0, 0,
         "refresh change"},
        {"code without handler", WM_COMMAND, MAKEWPARAM(IDC_REFRESH, EN_KILLFOCUS), 0, 0, nullptr},
        {"command without handler", WM_COMMAND, MAKEWPARAM(IDC_CONTROLLER_SETUP, BN_CLICKED), 0, 0,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.calls.clear();
        EXPECT_EQ(c.result, SendMessageA(hwnd, c.message, c.wParam, c.lParam));
        if (c.call) {
            ASSERT_EQ(1u, dialog.calls.size());
            EXPECT_EQ(c.call, dialog.calls[0]);
        } else {
            EXPECT_EQ(0u, dialog.calls.size());
        }
    }
}

TEST(DialogLayer, NotificationsByControlAndCode)
{
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.calls.clear();
    EXPECT_EQ(3, Notify(dialog.Hwnd(), IDC_SHEET_FRAME, NM_CLICK));
    EXPECT_EQ(5, Notify(dialog.Hwnd(), IDC_REFRESH, NM_DBLCLK));
    EXPECT_EQ(0, Notify(dialog.Hwnd(), IDC_REFRESH, NM_CLICK));
    const std::vector<std::string> expected = {"frame click", "any dblclk 1016"};
    EXPECT_EQ(expected, dialog.calls);
}

TEST(DialogLayer, DestroyedWindowLeavesNoDanglingHandles)
{
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    HWND hwnd = dialog.Hwnd();
    DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, dialog.Hwnd());
    EXPECT_FALSE(dialog.setup.Valid());
}

TEST(DialogLayer, ModalDialogEndsWithItsCode)
{
    class Ending : public Dialog {
    public:
        Ending() : Dialog(IDD_MAIN_DIALOG) {}
        BOOL OnInitDialog() override
        {
            PostMessageA(Hwnd(), WM_COMMAND, IDC_REFRESH, 0);
            OnCommand(IDC_REFRESH, [this] { EndDialog(77); });
            return TRUE;
        }
    } dialog;
    EXPECT_EQ(77, dialog.DoModal(nullptr));
    EXPECT_EQ(nullptr, dialog.Hwnd());
}

}  // namespace

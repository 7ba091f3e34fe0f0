#include "port_list_page.h"

#include <stdio.h>

#include <algorithm>
#include <mutex>

#include "common_control.h"
#include "conversions.h"
#include "main_dlg.h"
#include "message_box.h"
#include "port_list_core.h"

namespace pta::ui {

namespace {

// The page that workers report to, and the lock that keeps it from going away meanwhile.
std::mutex g_pageLock;
CComPortaraDlg* g_portListPage = nullptr;

// Posted to the page by a worker's thread: row in wParam, slot in the low and the open
// state in the high word of lParam.
constexpr UINT kActStateMessage = WM_APP + 1;

constexpr DWORD kListExtendedStyles = 0x23;
constexpr int kActColumn = 4;
constexpr UINT kAboutCommand = 0x0010;

struct ListColumn {
    const char* heading;
};
constexpr ListColumn kColumns[kPortListColumns] = {{"COM Port"}, {"IP Address"}, {"Port"}, {"Protocol"},
                                                   {"Act"},      {"Comment #1"}, {"Comment #2"}};

// The columns of the editing strip from left to right: the top control first. Labels are
// as wide as their top label was plus 6; fields and buttons scale with the page.
struct StripColumn {
    int top;
    int bottom;  // 0: none
    bool label;
};
constexpr StripColumn kStripColumns[] = {
    {IDC_COM_LABEL, IDC_IP_LABEL, true},
    {IDC_COM_EDIT, IDC_IP_EDIT, false},
    {IDC_PROTOCOL_LABEL, IDC_PORT_LABEL, true},
    {IDC_PROTOCOL, IDC_PORT_EDIT, false},
    {IDC_RX_LABEL, IDC_COMMENT1_LABEL, true},
    {IDC_RX, IDC_COMMENT1, false},
    {IDC_TX_LABEL, IDC_COMMENT2_LABEL, true},
    {IDC_TX, IDC_COMMENT2, false},
    {IDC_APPLY, IDC_FORCE_CLOSE, false},
    {IDC_MULTIPORT, 0, false},
};

// The page mutex, held for a scope like the table mutex.
using PageLock = TableLock;

void ShowError(const char* text)
{
    ShowMessageBox(text, kErrorCaption, MB_OK | MB_ICONSTOP);
}

std::string ComText(uint32_t com)
{
    char text[16];
    snprintf(text, sizeof text, "COM%u", com);
    return text;
}

// The registry writes of one port; remembers whether any failed.
class SlotWriter {
public:
    SlotWriter(PortManagerAccess& ports, uint32_t slot) : ports_(ports), key_(SlotSubkey(slot)) {}
    void Dword(const char* name, DWORD value) { ok_ &= ports_.WriteDword(key_.c_str(), name, value) == 1; }
    void Text(const char* name, const std::string& text) { ok_ &= ports_.WriteString(key_.c_str(), name, text.c_str()) == 1; }
    void KeepAlive(int32_t index)
    {
        const KeepAlivePair pair = KeepAliveOfIndex(index);
        Dword(AliveRxTimerValue, pair.RxMs);
        Dword(AliveTxTimerValue, pair.TxMs);
    }
    bool Ok() const { return ok_; }

private:
    PortManagerAccess& ports_;
    std::string key_;
    bool ok_ = true;
};

}  // namespace

void NotifyPortActState(uint32_t portNumber, bool open)
{
    std::lock_guard<std::mutex> lock(g_pageLock);
    if (g_portListPage) g_portListPage->UpdatePortActState(portNumber, open ? 1 : 0);
}

CAboutDlg::CAboutDlg() : Dialog(IDD_ABOUTBOX)
{
    OnCommand(IDOK, [this] { EndDialog(IDOK); });
    OnCommand(IDCANCEL, [this] { EndDialog(IDCANCEL); });
}

BOOL CAboutDlg::OnInitDialog()
{
    // The title is stored as Unicode: through the ANSI dialog's messages it would pass the
    // code page, which may not have the characters.
    DefWindowProcW(Hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kAboutTitle));
    return TRUE;
}

CComPortaraDlg::CComPortaraDlg(PortManagerAccess& ports)
    : SheetPage(IDD_PORT_LIST_PAGE), ports_(ports), pageMutex_(CreateMutexA(nullptr, FALSE, nullptr)),
      confDlg_(ports)
{
    for (int32_t& entry : rowTable_) entry = -1;
    list_.SetColours(kEvenRowColour, kOddRowColour);
    Bind(IDC_PORT_LIST, list_);
    Bind(IDC_STRIP_GROUP, group_);
    Bind(IDC_FORCE_CLOSE, forceClose_);
    Bind(IDC_PROTOCOL, protocol_);
    Bind(IDC_RX, rx_);
    Bind(IDC_TX, tx_);
    BindText(IDC_COM_EDIT, comField_);
    BindText(IDC_IP_EDIT, ipField_);
    BindText(IDC_PORT_EDIT, tcpPortField_);
    BindText(IDC_COMMENT1, comment1Field_);
    BindText(IDC_COMMENT2, comment2Field_);
    OnMessage(WM_SYSCOMMAND, &CComPortaraDlg::OnSysCommand);
    OnMessage(WM_PAINT, &CComPortaraDlg::OnPaint);
    OnMessage(WM_QUERYDRAGICON, &CComPortaraDlg::OnQueryDragIcon);
    OnMessage(kActStateMessage, &CComPortaraDlg::OnActState);
    OnNotify(IDC_PORT_LIST, NM_CLICK, &CComPortaraDlg::OnListClick);
    OnNotify(IDC_PORT_LIST, NM_CUSTOMDRAW, [this](NMHDR* header) { return list_.OnCustomDraw(header); });
    OnCommand(IDC_APPLY, &CComPortaraDlg::OnApply);
    OnCommand(IDC_FORCE_CLOSE, &CComPortaraDlg::OnForceClose);
    OnCommand(IDC_MULTIPORT, &CComPortaraDlg::OnMultiport);
    OnCommand(IDC_RX, CBN_SELCHANGE, &CComPortaraDlg::OnRxChange);
}

CComPortaraDlg::~CComPortaraDlg()
{
    {
        std::lock_guard<std::mutex> lock(g_pageLock);
        if (g_portListPage == this) g_portListPage = nullptr;
    }
    if (pageMutex_) CloseHandle(pageMutex_);
    if (icon_) DestroyIcon(icon_);
}

BOOL CComPortaraDlg::OnInitDialog()
{
    try {
        if (HMENU menu = GetSystemMenu(Hwnd(), FALSE)) {
            char about[128] = {};
            if (LoadStringA(ResourceModule(), IDS_ABOUTBOX, about, sizeof about) > 0) {
                AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
                AppendMenuA(menu, MF_STRING, kAboutCommand, about);
            }
        }
        {
            std::lock_guard<std::mutex> lock(g_pageLock);
            g_portListPage = this;
        }
        icon_ = static_cast<HICON>(LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PORTARA), IMAGE_ICON, 0, 0,
                                              LR_DEFAULTSIZE));
        SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageA(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

        tx_.Enable(false);
        baseWidth_ = 0;
        RECT client{};
        GetClientRect(Hwnd(), &client);
        naturalWidth_ = client.right;
        for (int32_t& entry : rowTable_) entry = -1;

        list_.Subclass();
        list_.Send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyles);
        for (int i = 0; i < kPortListColumns; ++i) list_.InsertColumn(i, kColumns[i].heading, LVCFMT_LEFT);

        protocol_.Clear();
        for (uint32_t code = 0; code < kProtocolCount; ++code) protocol_.Add(ProtocolTexts[code], code);
        protocol_.Select(0);
        rx_.Clear();
        rx_.Add("25000");
        rx_.Add("7000");
        tx_.Clear();
        tx_.Add("10000");
        tx_.Add("2500");
        rx_.Select(1);
        tx_.Select(1);
        // What the store keeps of a comment, and a TCP port's digits.
        Control(Item(IDC_COMMENT1)).Send(EM_LIMITTEXT, kCommentMaxChars);
        Control(Item(IDC_COMMENT2)).Send(EM_LIMITTEXT, kCommentMaxChars);
        Control(Item(IDC_PORT_EDIT)).Send(EM_LIMITTEXT, 5);

        SetColumnWidths();
        RefreshPortList();
        CreateSharedImageLists();
    } catch (...) {
    }
    return TRUE;
}

void CComPortaraDlg::SetColumnWidths()
{
    const auto widths = PortListColumnWidths(list_.ClientWidth());
    for (int i = 0; i < kPortListColumns; ++i) list_.SetColumnWidth(i, widths[i]);
}

// --- The list ---

void CComPortaraDlg::RefreshPortList()
{
    if (!Hwnd()) return;
    PageLock lock(pageMutex_);
    try {
        forceClose_.Enable(false);
        list_.DeleteAllRows();
        for (int32_t& entry : rowTable_) entry = -1;
        if (ports_.ReloadPortSettings() == 0) return;
        for (const auto& [com, settings] : ports_.Ports()) {
            const bool open = ports_.IsPortInUse(static_cast<int>(settings.PortNumber)) == 1;
            const int row = list_.AppendRow(ComText(com), static_cast<LPARAM>(RowProtocolCode(settings.Protocol)));
            if (row < 0 || row >= kRows) continue;
            char tcpPort[16];
            snprintf(tcpPort, sizeof tcpPort, "%u", settings.TcpPort);
            list_.SetCellText(row, 1, IpToText(settings.IpAddress));
            list_.SetCellText(row, 2, tcpPort);
            list_.SetCellText(row, 3, ProtocolText(settings.Protocol));
            list_.SetCellText(row, kActColumn, open ? "Open" : "Closed");
            list_.SetCellText(row, 5, settings.Comment1);
            list_.SetCellText(row, 6, settings.Comment2);
            rowTable_[row] = static_cast<int32_t>(settings.PortNumber);
        }
    } catch (...) {
    }
}

void CComPortaraDlg::SetActCell(int row, int open)
{
    list_.SetCellText(row, kActColumn, open ? "Open" : "Closed");
}

void CComPortaraDlg::UpdatePortActState(uint32_t portNumber, int open)
{
    HWND page = Hwnd();
    if (!page) return;
    PageLock lock(pageMutex_);
    for (int row = 0; row < kRows && rowTable_[row] != -1; ++row) {
        if (rowTable_[row] != static_cast<int32_t>(portNumber)) continue;
        // A worker's thread does not wait for the page's thread: it posts the change,
        // which the page applies if the row still shows that port.
        if (GetWindowThreadProcessId(page, nullptr) == GetCurrentThreadId())
            SetActCell(row, open);
        else
            PostMessageA(page, kActStateMessage, static_cast<WPARAM>(row), MAKELPARAM(portNumber, open ? 1 : 0));
        return;
    }
}

LRESULT CComPortaraDlg::OnActState(WPARAM wParam, LPARAM lParam)
{
    PageLock lock(pageMutex_);
    const int row = static_cast<int>(wParam);
    if (row >= 0 && row < kRows && rowTable_[row] == static_cast<int32_t>(LOWORD(lParam)))
        SetActCell(row, HIWORD(lParam));
    return 0;
}

int32_t CComPortaraDlg::StripPort()
{
    return StripPortNumber(ports_.Ports(), comField_);
}

int32_t CComPortaraDlg::StripPortOrReport()
{
    Exchange(true);
    const int32_t slot = StripPort();
    if (slot < 0) ShowError(kNoPortInfoText);
    return slot;
}

LRESULT CComPortaraDlg::OnListClick(NMHDR* header)
{
    const int row = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
    if (row < 0) return 0;
    try {
        comField_ = list_.CellText(row, 0);
        ipField_ = list_.CellText(row, 1);
        tcpPortField_ = list_.CellText(row, 2);
        // Code 3 (unknown) has no entry: nothing is selected.
        const int code = static_cast<int>(list_.RowParameter(row));
        protocol_.Select(code < protocol_.Count() ? code : -1);
        comment1Field_ = list_.CellText(row, 5);
        comment2Field_ = list_.CellText(row, 6);

        const int32_t slot = StripPort();
        forceClose_.Enable(slot >= 0 && ports_.IsPortInUse(slot) == 1);
        if (slot >= 0) {
            const std::string key = SlotSubkey(static_cast<uint32_t>(slot));
            DWORD aliveRx = 0, aliveTx = 0;
            if (!ports_.ReadDword(key.c_str(), AliveRxTimerValue, &aliveRx)) {
                aliveRx = kKeepAliveShort.RxMs;
                ports_.WriteDword(key.c_str(), AliveRxTimerValue, aliveRx);
            }
            if (!ports_.ReadDword(key.c_str(), AliveTxTimerValue, &aliveTx))
                ports_.WriteDword(key.c_str(), AliveTxTimerValue, kKeepAliveShort.TxMs);
            const int index = RxIndexOf(aliveRx);
            rx_.Select(index);
            tx_.Select(index);
        }
        // The clicked row is the one the strip shows: it alone is selected and focused.
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = 0;
        list_.Send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        list_.Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
        Exchange(false);
    } catch (...) {
    }
    return 0;
}

void CComPortaraDlg::OnRxChange()
{
    tx_.Select(rx_.Selected());
}

// --- Buttons ---

void CComPortaraDlg::OnApply()
{
    try {
        const int32_t slot = StripPortOrReport();
        if (slot < 0) return;
        // A mistyped address or port is refused before anything is written, so that the
        // port keeps the settings it had.
        const auto address = TextToIp(ipField_);
        if (!address) {
            ShowError(kInvalidAddressText);
            return;
        }
        const uint32_t tcpPort = static_cast<uint32_t>(DecimalOf(tcpPortField_));
        if (!ValidTcpPort(tcpPort) || tcpPortField_.find_first_not_of("0123456789") != std::string::npos) {
            ShowError(kInvalidTcpPortText);
            return;
        }
        SlotWriter write(ports_, static_cast<uint32_t>(slot));
        const int protocol = protocol_.Selected();
        if (protocol >= 0) write.Dword(EncryptionValue, static_cast<DWORD>(protocol));
        write.Dword(IpAddressValue, *address);
        write.KeepAlive(rx_.Selected());
        write.Dword(TcpPortValue, tcpPort);
        write.Text(Comment1Value, comment1Field_);
        write.Text(Comment2Value, comment2Field_);
        Exchange(false);
        RefreshPortList();
        if (!write.Ok()) ShowError(kSaveFailedText);
    } catch (...) {
    }
}

void CComPortaraDlg::OnForceClose()
{
    try {
        const int32_t slot = StripPortOrReport();
        if (slot < 0) return;
        if (ports_.IsPortInUse(slot) == 0) {
            ShowError(kPortNotOpenText);
            return;
        }
        if (ShowMessageBox(kForceCloseWarningText, kWarningCaption, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) return;
        if (ports_.ForceClosePort(slot, comField_.c_str()) == 1) {
            ShowMessageBox(kPortClosedText, MB_OK);
            RefreshPortList();
        } else {
            ShowError(kCloseFailedText);
        }
    } catch (...) {
    }
}

void CComPortaraDlg::OnMultiport()
{
    confDlg_.SetConfigureCaller(this);
    if (confDlg_.DoModal(Hwnd()) != IDOK) return;
    const ConfDlgResult& r = confDlg_.Result();
    if (r.Count != 0 && r.StartItem >= 0) {
        if (!ValidTcpPort(static_cast<uint32_t>(r.TcpPort))) {
            ShowError(kInvalidTcpPortText);
        } else {
            bool saved = true;
            for (const MultiportTarget& target :
                 MultiportWalk(ports_.Ports(), static_cast<int64_t>(r.StartItem) + 1, r.Count,
                               static_cast<uint32_t>(r.TcpPort))) {
                SlotWriter write(ports_, target.PortNumber);
                write.KeepAlive(r.AliveRxIndex);
                if (r.Protocol >= 0) write.Dword(EncryptionValue, static_cast<DWORD>(r.Protocol));
                write.Dword(IpAddressValue, r.IpAddress);
                write.Dword(TcpPortValue, target.TcpPort);
                write.Text(Comment1Value, r.Comment1);
                write.Text(Comment2Value, r.Comment2);
                saved &= write.Ok();
            }
            if (!saved) ShowError(kSaveFailedText);
        }
    }
    RefreshPortList();
}

// --- Activation and layout ---

void CComPortaraDlg::RememberGroupRect()
{
    groupRect_ = group_.RectInParent();
    groupRemembered_ = true;
}

LRESULT CComPortaraDlg::OnSetActive()
{
    try {
        RememberGroupRect();
        CComMainDlg* main = MainWindow();
        if (main && main->Sheet().ActiveIndex() != 0) {
            const SIZE size = main->PageSize();
            LayoutPage(size.cx, size.cy);
        }
        RefreshPortList();
    } catch (...) {
    }
    return 0;
}

void CComPortaraDlg::LayoutPage(int width, int height)
{
    SheetPage::LayoutPage(width, height);
    if (!Hwnd()) return;
    if (!groupRemembered_) RememberGroupRect();
    // The base is the first size at which the strip has its natural room; a layout before
    // the main window has its size (a preliminary page size) would make every later one
    // stretch the fields past the page.
    if (baseWidth_ == 0) baseWidth_ = std::max(width, naturalWidth_) - 60;
    const int g = groupRect_.bottom - groupRect_.top;

    list_.Move(5, 5, width - 10, height - g - 15);
    group_.Move(5, height - g - 5, width - 10, g);
    const int dx = 5 - groupRect_.left;
    const int dy = (height - g - 5) - groupRect_.top;

    int x = 0;
    bool first = true;
    for (const StripColumn& column : kStripColumns) {
        Control top(Item(column.top));
        const RECT topRect = top.RectInParent();
        int& initial = initialWidth_[column.top];
        if (initial == 0) initial = topRect.right - topRect.left;
        const int columnWidth = column.label ? initial + 6 : StripFieldWidth(initial, width, baseWidth_);
        if (first) x = topRect.left + dx;
        for (int id : {column.top, column.bottom}) {
            if (id == 0) continue;
            Control control(Item(id));
            const RECT rect = control.RectInParent();
            control.Move(x, rect.top + dy, columnWidth, rect.bottom - rect.top);
        }
        x += columnWidth + 3;
        first = false;
    }

    SetColumnWidths();
    RememberGroupRect();
    InvalidateRect(Hwnd(), nullptr, TRUE);
}

// --- System menu, icon ---

LRESULT CComPortaraDlg::OnSysCommand(WPARAM wParam, LPARAM lParam)
{
    if ((wParam & 0xFFF0) == kAboutCommand) {
        CAboutDlg about;
        about.DoModal(Hwnd());
        return 0;
    }
    return Default(WM_SYSCOMMAND, wParam, lParam);
}

LRESULT CComPortaraDlg::OnPaint(WPARAM wParam, LPARAM lParam)
{
    if (!IsIconic(Hwnd())) return Default(WM_PAINT, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Hwnd(), &paint);
    SendMessageA(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, icon_);
    EndPaint(Hwnd(), &paint);
    return 0;
}

LRESULT CComPortaraDlg::OnQueryDragIcon(WPARAM, LPARAM)
{
    return reinterpret_cast<LRESULT>(icon_);
}

}  // namespace pta::ui

#include "port_monitor_page.h"

#include <stdio.h>

#include "common_control.h"
#include "main_dlg.h"

namespace pta::ui {

namespace {

struct MonitorColumn {
    const char* heading;
    int format;
};
constexpr MonitorColumn kColumns[kMonitorColumns] = {
    {"  COM Port", LVCFMT_LEFT}, {"IPAddr (Port)", LVCFMT_CENTER}, {"Protocol", LVCFMT_CENTER},
    {"ACT", LVCFMT_CENTER},      {"CON", LVCFMT_CENTER},           {"ERR", LVCFMT_CENTER},
    {"TX", LVCFMT_CENTER},       {"RX", LVCFMT_CENTER},            {"RTS", LVCFMT_CENTER},
    {"CTS", LVCFMT_CENTER},      {"DTR", LVCFMT_CENTER},           {"DSR", LVCFMT_CENTER},
    {"DCD", LVCFMT_CENTER},
};

constexpr DWORD kListExtendedStyles = 0x23;  // grid lines, sub-item images, full-row select

}  // namespace

CComPortMonitorDlg::CComPortMonitorDlg(PortManagerAccess& ports)
    : SheetPage(IDD_PORT_MONITOR_PAGE), ports_(ports), cache_(new IndicatorCache)
{
    for (int32_t& entry : rowTable_) entry = -1;
    list_.SetColours(kEvenRowColour, kOddRowColour);
    Bind(IDC_MONITOR_LIST, list_);
    OnMessage(WM_TIMER, &CComPortMonitorDlg::OnTimer);
    OnNotify(IDC_MONITOR_LIST, NM_CUSTOMDRAW, [this](NMHDR* header) { return list_.OnCustomDraw(header); });
}

BOOL CComPortMonitorDlg::OnInitDialog()
{
    list_.Subclass();
    list_.Send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyles);
    for (int i = 0; i < kMonitorColumns; ++i) list_.InsertColumn(i, kColumns[i].heading, kColumns[i].format);
    CreateSharedImageLists();
    list_.Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(StatusImageList()));
    SetColumnWidths();
    SetTimer(Hwnd(), kTimerId, kTimerMs, nullptr);
    return TRUE;
}

void CComPortMonitorDlg::SetColumnWidths()
{
    EnableScrollBar(list_.Hwnd(), SB_VERT, ESB_ENABLE_BOTH);
    const auto widths = MonitorColumnWidths(list_.ClientWidth());
    for (int i = 0; i < kMonitorColumns; ++i) list_.SetColumnWidth(i, widths[i]);
}

void CComPortMonitorDlg::LayoutPage(int width, int height)
{
    SheetPage::LayoutPage(width, height);
    if (!Hwnd()) return;
    list_.Move(5, 5, width - 10, height - 15);
    SetColumnWidths();
    InvalidateRect(Hwnd(), nullptr, TRUE);
}

LRESULT CComPortMonitorDlg::OnSetActive()
{
    if (CComMainDlg* main = MainWindow()) {
        const SIZE size = main->PageSize();
        LayoutPage(size.cx, size.cy);
    }
    RebuildMonitor();
    return 0;
}

void CComPortMonitorDlg::RebuildMonitor()
{
    if (!Hwnd()) return;
    list_.DeleteAllRows();
    for (int32_t& entry : rowTable_) entry = -1;
    rowCount_ = 0;
    if (ports_.ReloadPortSettings() == 0) return;
    const PortConfigMap& ports = ports_.Ports();
    if (ports.empty()) return;
    for (const auto& [com, settings] : ports) {
        if (rowCount_ >= kMonitorRows) break;
        char text[16];
        snprintf(text, sizeof text, "COM%u", com);
        const int row = list_.AppendRow(text, static_cast<LPARAM>(settings.PortNumber));
        if (row < 0) continue;
        list_.SetCellText(row, 1, AddressWithPort(settings.IpAddress, settings.TcpPort));
        list_.SetCellText(row, 2, ProtocolText(settings.Protocol));
        rowTable_[rowCount_] = static_cast<int32_t>(settings.PortNumber);
        ++rowCount_;
    }
    cache_->Invalidate(rowCount_);
    UpdateMonitorIndicators();
}

void CComPortMonitorDlg::UpdateMonitorIndicators()
{
    if (!Hwnd()) return;
    TableLock lock(ports_.TableMutex());
    for (int row = 0; row < rowCount_; ++row) {
        const int32_t slot = rowTable_[row];
        IndicatorValues values;
        if (slot < 0 || !ports_.WorkerIndicators(static_cast<uint32_t>(slot), values)) continue;
        cellsSent_ += static_cast<uint64_t>(cache_->UpdateRow(
            row, values, [&](int column, uint32_t image) { list_.SetCellImage(row, column, static_cast<int>(image)); }));
        ports_.ResetActivity(static_cast<uint32_t>(slot));
    }
}

LRESULT CComPortMonitorDlg::OnTimer(WPARAM wParam, LPARAM lParam)
{
    if (wParam == kTimerId) UpdateMonitorIndicators();
    return Default(WM_TIMER, wParam, lParam);
}

}  // namespace pta::ui

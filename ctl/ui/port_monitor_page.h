// CComPortMonitorDlg: the port status monitor page (tab "Monitor"): every configured port
// with ten live indicators, copied from the port workers ten times a second; only the
// cells that changed are sent to the list.
#pragma once

#include <stdint.h>

#include <memory>

#include "color_list.h"
#include "monitor_core.h"
#include "port_manager_access.h"
#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

class CComPortMonitorDlg : public SheetPage {
public:
    explicit CComPortMonitorDlg(PortManagerAccess& ports);

    // Rebuilds the rows from the configured ports and draws every indicator once.
    void RebuildMonitor();
    // Copies the workers' indicators into the list (the timer's work).
    void UpdateMonitorIndicators();

    void RefreshPage() override { RebuildMonitor(); }
    void LayoutPage(int width, int height) override;

    CColorListCtrl& List() { return list_; }
    int RowCount() const { return rowCount_; }
    int32_t RowPort(int row) const { return row >= 0 && row < kMonitorRows ? rowTable_[row] : -1; }
    // Cells sent to the list by updates since the page was made.
    uint64_t CellsSent() const { return cellsSent_; }

    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTimerMs = 100;

protected:
    BOOL OnInitDialog() override;
    LRESULT OnSetActive() override;

private:
    LRESULT OnTimer(WPARAM, LPARAM);
    void SetColumnWidths();

    PortManagerAccess& ports_;
    CColorListCtrl list_;
    int32_t rowTable_[kMonitorRows];
    int rowCount_ = 0;
    std::unique_ptr<IndicatorCache> cache_;
    uint64_t cellsSent_ = 0;
};

}  // namespace pta::ui

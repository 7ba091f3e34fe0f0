// CComPortaraDlg: the port list page (tab "Port Info"): every configured virtual port with
// its device server, protocol, open state and comments; an editing strip that changes one
// port's settings; the forced close of a port an application holds; and the multiport
// configuration of a run of ports through the settings dialog. Settings go to the registry
// only: a worker takes them at its port's next connection.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <map>
#include <string>

#include "color_list.h"
#include "conf_dlg.h"
#include "port_manager_access.h"
#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

// Texts of the page's message boxes.
constexpr const char* kNoPortInfoText = "Unable to query port information";
constexpr const char* kPortNotOpenText = "Port not open";
constexpr const char* kForceCloseWarningText = "This operation may cause unexpected errors. Are you sure?";
constexpr const char* kPortClosedText = "Port Closed";
constexpr const char* kCloseFailedText = "Failed to close port";
constexpr const char* kInvalidAddressText = "Invalid IP address";
constexpr const char* kInvalidTcpPortText = "Invalid TCP port (1-65535)";
constexpr const char* kSaveFailedText = "Failed to save port settings";
constexpr const char* kErrorCaption = "ERROR";
constexpr const char* kWarningCaption = "WARNING";

class CComPortaraDlg : public SheetPage {
public:
    explicit CComPortaraDlg(PortManagerAccess& ports);
    ~CComPortaraDlg() override;

    // Rebuilds the list from the configured ports.
    void RefreshPortList();
    // An application opened (open != 0) or closed the slot's port: its "Act" cell follows.
    // Any thread; the list itself is changed on the page's thread.
    void UpdatePortActState(uint32_t portNumber, int open);
    // Places the page, its list and its editing strip for a page size.
    void LayoutPage(int width, int height) override;
    void RefreshPage() override { RefreshPortList(); }

    CColorListCtrl& List() { return list_; }
    int32_t RowPort(int row) const { return row >= 0 && row < kRows ? rowTable_[row] : -1; }
    CComInstConfDlg& ConfDialog() { return confDlg_; }

    static constexpr int kRows = 256;

protected:
    BOOL OnInitDialog() override;
    LRESULT OnSetActive() override;

private:
    LRESULT OnSysCommand(WPARAM, LPARAM);
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM);
    LRESULT OnActState(WPARAM, LPARAM);
    LRESULT OnListClick(NMHDR* header);
    void OnApply();
    void OnForceClose();
    void OnMultiport();
    void OnRxChange();

    void SetColumnWidths();
    void SetActCell(int row, int open);
    // The slot of the editing strip's COM field, or -1.
    int32_t StripPort();
    // The same after the edit boxes were read; -1 after the box that says so.
    int32_t StripPortOrReport();
    void RememberGroupRect();

    PortManagerAccess& ports_;
    CColorListCtrl list_;
    Control group_, forceClose_;
    ComboBox protocol_, rx_, tx_;
    std::string comField_, ipField_, tcpPortField_, comment1Field_, comment2Field_;
    int32_t rowTable_[kRows];
    HANDLE pageMutex_ = nullptr;
    CComInstConfDlg confDlg_;
    RECT groupRect_{};
    bool groupRemembered_ = false;
    int baseWidth_ = 0;
    int naturalWidth_ = 0;  // the page's width from its template
    // The width of each strip control when first measured (0 until then), by id.
    std::map<int, int> initialWidth_;
    HICON icon_ = nullptr;
};

// Hands a worker's open or close to the port list page while it exists; the callback the
// application gives the port manager.
void NotifyPortActState(uint32_t portNumber, bool open);

// The about box (template 100).
class CAboutDlg : public Dialog {
public:
    CAboutDlg();

protected:
    BOOL OnInitDialog() override;
};

// The about box's title: the program name and the Korean word for information.
constexpr const wchar_t* kAboutTitle = L"PortaraCtl \xC815\xBCF4";

}  // namespace pta::ui

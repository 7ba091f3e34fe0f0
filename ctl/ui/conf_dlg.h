// CComInstConfDlg: the port settings dialog ("Multiport Configuration"). The caller that
// sets its reference before showing it decides the mode: the add-ports page (all
// settings, from its record, and the run of free numbers when its range flag is set), the
// remove-ports page (only the run of configured numbers) or the port list page (all
// settings with defaults, and the run of configured numbers).
#pragma once

#include <stdint.h>

#include "conf_dlg_core.h"
#include "dialog.h"
#include "port_manager_access.h"

namespace pta::ui {

class CComInstConfDlg : public Dialog {
public:
    explicit CComInstConfDlg(PortManagerAccess& ports);

    // The callers' references, each set by its caller before a showing; a caller clears
    // the references that come before its own (add, remove, configure). firstCom is the
    // COM number the caller's own start list shows.
    void SetAddCaller(ConfDlgSettings* record, uint32_t firstCom);
    void SetRemoveCaller(uint32_t firstCom);
    void SetConfigureCaller(const void* page);

    // The mode of the next showing: the first reference set, in the order add, remove,
    // configure.
    ConfDlgMode Mode() const;
    // The result of the last OK.
    const ConfDlgResult& Result() const { return result_; }

protected:
    BOOL OnInitDialog() override;

private:
    void OnOk();
    void OnCancel();
    void OnRxChange();
    void EnableSettings(bool enable);
    void FillSettings(uint32_t ip, const std::string& tcpPort, int protocol, int rxIndex, int txIndex,
                      const std::string& comment1, const std::string& comment2);
    void Fill(ComboBox& box, const std::vector<ConfListEntry>& entries);

    PortManagerAccess& ports_;
    ConfDlgSettings* addRecord_ = nullptr;
    uint32_t addFirstCom_ = 0;
    bool removeCaller_ = false;
    uint32_t removeFirstCom_ = 0;
    const void* configureCaller_ = nullptr;
    ConfDlgResult result_;

    ComboBox start_, run_, protocol_, rx_, tx_;
    Control address_, tcpPort_, comment1_, comment2_, startLabel_, runLabel_;
};

}  // namespace pta::ui

#include "conf_dlg.h"

#include <stdio.h>

#include "registry_layout.h"
#include "resource.h"

namespace pta::ui {

namespace {

// A TCP port has at most five digits; the run length box two (at most 32 is offered).
constexpr int kTcpPortDigits = 5;
constexpr int kRunLengthDigits = 3;

void FillProtocols(ComboBox& box)
{
    box.Clear();
    for (uint32_t code = 0; code < kProtocolCount; ++code) box.Add(ProtocolTexts[code], code);
}

// Sorted lists: "25000" before "7000", "10000" before "2500".
void FillKeepAlive(ComboBox& rx, ComboBox& tx)
{
    rx.Clear();
    tx.Clear();
    rx.Add("25000");
    rx.Add("7000");
    tx.Add("10000");
    tx.Add("2500");
}

}  // namespace

CComInstConfDlg::CComInstConfDlg(PortManagerAccess& ports) : Dialog(IDD_CONF_DIALOG), ports_(ports)
{
    OnCommand(IDOK, &CComInstConfDlg::OnOk);
    OnCommand(IDCANCEL, &CComInstConfDlg::OnCancel);
    OnCommand(IDC_CONF_RX, CBN_SELCHANGE, &CComInstConfDlg::OnRxChange);
    Bind(IDC_CONF_START, start_);
    Bind(IDC_CONF_RUN, run_);
    Bind(IDC_CONF_PROTOCOL, protocol_);
    Bind(IDC_CONF_RX, rx_);
    Bind(IDC_CONF_TX, tx_);
    Bind(IDC_CONF_ADDRESS, address_);
    Bind(IDC_CONF_TCP_PORT, tcpPort_);
    Bind(IDC_CONF_COMMENT1, comment1_);
    Bind(IDC_CONF_COMMENT2, comment2_);
    Bind(IDC_CONF_START_LABEL, startLabel_);
    Bind(IDC_CONF_RUN_LABEL, runLabel_);
}

void CComInstConfDlg::SetAddCaller(ConfDlgSettings* record, uint32_t firstCom)
{
    addRecord_ = record;
    addFirstCom_ = firstCom;
}

void CComInstConfDlg::SetRemoveCaller(uint32_t firstCom)
{
    addRecord_ = nullptr;
    removeCaller_ = true;
    removeFirstCom_ = firstCom;
}

void CComInstConfDlg::SetConfigureCaller(const void* page)
{
    addRecord_ = nullptr;
    removeCaller_ = false;
    configureCaller_ = page;
}

ConfDlgMode CComInstConfDlg::Mode() const
{
    if (addRecord_) return ConfDlgMode::Add;
    if (removeCaller_) return ConfDlgMode::Remove;
    if (configureCaller_) return ConfDlgMode::Configure;
    return ConfDlgMode::None;
}

void CComInstConfDlg::Fill(ComboBox& box, const std::vector<ConfListEntry>& entries)
{
    box.Clear();
    for (const ConfListEntry& entry : entries) box.Add(entry.Text, entry.Number);
    if (!entries.empty()) box.Select(0);
}

void CComInstConfDlg::EnableSettings(bool enable)
{
    for (Control* control : {static_cast<Control*>(&address_), &tcpPort_, &comment1_, &comment2_,
                             static_cast<Control*>(&protocol_), static_cast<Control*>(&rx_)})
        control->Enable(enable);
    tx_.Enable(false);
}

void CComInstConfDlg::FillSettings(uint32_t ip, const std::string& tcpPort, int protocol, int rxIndex,
                                   int txIndex, const std::string& comment1, const std::string& comment2)
{
    address_.Send(IPM_SETADDRESS, 0, static_cast<LPARAM>(ip));
    tcpPort_.SetText(tcpPort);
    comment1_.SetText(comment1);
    comment2_.SetText(comment2);
    FillProtocols(protocol_);
    protocol_.Select(protocol);
    FillKeepAlive(rx_, tx_);
    rx_.Select(rxIndex);
    tx_.Select(txIndex);
}

BOOL CComInstConfDlg::OnInitDialog()
{
    // The store keeps 63 characters of a comment; a TCP port has five digits.
    comment1_.Send(EM_LIMITTEXT, kCommentMaxChars);
    comment2_.Send(EM_LIMITTEXT, kCommentMaxChars);
    tcpPort_.Send(EM_LIMITTEXT, kTcpPortDigits);
    run_.Send(CB_LIMITTEXT, kRunLengthDigits);

    switch (Mode()) {
    case ConfDlgMode::Configure:
        EnableSettings(true);
        start_.Enable(true);
        run_.Enable(true);
        Fill(start_, ConfigureStartList(ports_.Ports()));
        Fill(run_, RunLengthList());
        FillSettings(0, "4001", 0, 1, 1, "", "");
        break;
    case ConfDlgMode::Remove:
        EnableSettings(false);
        start_.Enable(true);
        run_.Enable(true);
        Fill(start_, RemoveStartList(ports_.Ports(), removeFirstCom_));
        Fill(run_, RunLengthList());
        break;
    case ConfDlgMode::Add: {
        EnableSettings(true);
        const bool range = addRecord_->RangeFlag != 0;
        start_.Enable(range);
        run_.Enable(range);
        start_.Clear();
        run_.Clear();
        if (range) {
            std::vector<uint8_t> usage;
            const bool known = ports_.ComPortUsage(&usage);
            Fill(start_, AddStartList(ports_.Ports(), addFirstCom_, known ? &usage : nullptr));
            Fill(run_, RunLengthList());
        }
        char tcpPort[16];
        snprintf(tcpPort, sizeof tcpPort, "%u", addRecord_->TcpPort);
        FillSettings(addRecord_->IpAddress, tcpPort, static_cast<int>(addRecord_->Protocol),
                     static_cast<int>(addRecord_->AliveRxIndex), static_cast<int>(addRecord_->AliveTxIndex),
                     addRecord_->Comment1, addRecord_->Comment2);
        break;
    }
    case ConfDlgMode::None:
        break;
    }
    return TRUE;
}

void CComInstConfDlg::OnRxChange()
{
    tx_.Select(rx_.Selected());
}

void CComInstConfDlg::OnOk()
{
    ConfDlgInputs in;
    DWORD address = 0;
    address_.Send(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    in.IpAddress = address;
    in.TcpPortText = tcpPort_.Text();
    in.ProtocolIndex = protocol_.Selected();
    in.RxIndex = rx_.Selected();
    if (const int s = start_.Selected(); s >= 0) in.StartNumber = static_cast<int32_t>(start_.Number(s));
    if (const int r = run_.Selected(); r >= 0) in.RunNumber = static_cast<int32_t>(run_.Number(r));
    in.RunText = run_.Text();
    in.Comment1 = comment1_.Text();
    in.Comment2 = comment2_.Text();

    const ConfDlgMode mode = Mode();
    result_ = ConfDlgOk(mode, in, result_, addRecord_);
    if (mode == ConfDlgMode::Add || mode == ConfDlgMode::Configure) tx_.Select(in.RxIndex);
    switch (mode) {
    case ConfDlgMode::Add: addRecord_ = nullptr; break;
    case ConfDlgMode::Remove: removeCaller_ = false; break;
    case ConfDlgMode::Configure: configureCaller_ = nullptr; break;
    case ConfDlgMode::None: break;
    }
    EndDialog(IDOK);
}

void CComInstConfDlg::OnCancel()
{
    EndDialog(IDCANCEL);
}

}  // namespace pta::ui

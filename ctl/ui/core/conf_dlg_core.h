// The port settings dialog's rules: which COM numbers its start list offers in each mode,
// the run length list, and what OK hands back. The dialog window only shows these lists
// and reads its controls.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "port_config.h"

namespace pta::ui {

// Which caller showed the dialog: the add-ports page, the remove-ports page or the port
// list page. None: no caller reference was set.
enum class ConfDlgMode { None, Add, Remove, Configure };

// What OK hands back.
struct ConfDlgResult {
    uint32_t IpAddress = 0;  // first octet in the most significant byte
    int32_t TcpPort = 0;
    int32_t Protocol = 0;   // -1: nothing selected
    int32_t StartItem = 0;  // the number attached to the selected start entry; -1: none
    int32_t Count = 0;
    int32_t AliveRxIndex = 0;  // 0: 25000/10000, 1: 7000/2500
    int32_t AliveTxIndex = 0;  // always AliveRxIndex
    std::string Comment1;
    std::string Comment2;
};

// The add-ports page's settings record: read when the dialog opens, written back on OK.
struct ConfDlgSettings {
    uint32_t IpAddress = 0;
    uint32_t TcpPort = 0;
    uint32_t Protocol = 0;
    uint32_t AliveRxIndex = 1;
    uint32_t AliveTxIndex = 1;
    std::string Comment1;
    std::string Comment2;
    uint8_t RangeFlag = 0;  // 1: the run of ports is asked for
};

// An entry of the start or run length list: its text and the number attached to it.
struct ConfListEntry {
    std::string Text;
    int32_t Number;
};

// The run length list: "1" to "32", each carrying its own value.
constexpr int32_t kRunLengthMax = 32;
std::vector<ConfListEntry> RunLengthList();

// Configure mode: every configured COM number ascending, carrying COM - 1.
std::vector<ConfListEntry> ConfigureStartList(const PortConfigMap& ports);
// Remove mode: configured COM numbers firstCom + 0..255, carrying the offset.
std::vector<ConfListEntry> RemoveStartList(const PortConfigMap& ports, uint32_t firstCom);
// Add mode: COM numbers firstCom + 0..255 that are not configured and, when the database's
// usage is known (one byte per COM number, byte n - 1 for COMn), not claimed; carrying the
// offset. Numbers above 1024 are never offered.
std::vector<ConfListEntry> AddStartList(const PortConfigMap& ports, uint32_t firstCom,
                                        const std::vector<uint8_t>* usage);

// Text read as a decimal number the way the dialog reads its boxes: the leading digits
// (none: 0), held at INT32_MAX.
int32_t DecimalOf(const std::string& text);

// What the dialog's controls hold when OK is pressed.
struct ConfDlgInputs {
    uint32_t IpAddress = 0;
    std::string TcpPortText;
    int32_t ProtocolIndex = -1;  // -1: nothing selected
    int32_t RxIndex = -1;
    std::optional<int32_t> StartNumber;  // number of the selected start entry
    std::optional<int32_t> RunNumber;    // number of the selected run length entry
    std::string RunText;                 // text of the run length box (typed or selected)
    std::string Comment1;
    std::string Comment2;
};

// The result of OK in a mode, starting from the previous result (fields a mode does not
// set keep their values). In add mode the caller's record takes the settings too.
ConfDlgResult ConfDlgOk(ConfDlgMode mode, const ConfDlgInputs& inputs, const ConfDlgResult& previous,
                        ConfDlgSettings* record);

}  // namespace pta::ui

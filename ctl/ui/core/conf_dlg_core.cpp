#include "conf_dlg_core.h"

#include <limits.h>
#include <stdio.h>

#include "registry_layout.h"

namespace pta::ui {

namespace {

constexpr uint32_t kStartListSpan = 256;

std::string ComText(uint32_t comNumber)
{
    char text[16];
    snprintf(text, sizeof text, "COM%u", comNumber);
    return text;
}

// COM numbers firstCom + 0..255 (at most COM1024) that `take` accepts, carrying the offset.
template <typename Take>
std::vector<ConfListEntry> OffsetList(uint32_t firstCom, Take take)
{
    std::vector<ConfListEntry> entries;
    if (firstCom == 0) return entries;
    for (uint32_t offset = 0; offset < kStartListSpan; ++offset) {
        const uint32_t com = firstCom + offset;
        if (com > kMaxComNumber) break;
        if (take(com)) entries.push_back({ComText(com), static_cast<int32_t>(offset)});
    }
    return entries;
}

}  // namespace

std::vector<ConfListEntry> RunLengthList()
{
    std::vector<ConfListEntry> entries;
    for (int32_t n = 1; n <= kRunLengthMax; ++n) entries.push_back({std::to_string(n), n});
    return entries;
}

std::vector<ConfListEntry> ConfigureStartList(const PortConfigMap& ports)
{
    std::vector<ConfListEntry> entries;
    for (const auto& [com, settings] : ports) {
        if (com >= 1 && com <= kMaxComNumber) entries.push_back({ComText(com), static_cast<int32_t>(com - 1)});
    }
    return entries;
}

std::vector<ConfListEntry> RemoveStartList(const PortConfigMap& ports, uint32_t firstCom)
{
    return OffsetList(firstCom, [&](uint32_t com) { return ports.count(com) != 0; });
}

std::vector<ConfListEntry> AddStartList(const PortConfigMap& ports, uint32_t firstCom,
                                        const std::vector<uint8_t>* usage)
{
    return OffsetList(firstCom, [&](uint32_t com) {
        if (ports.count(com) != 0) return false;
        return !usage || com > usage->size() || (*usage)[com - 1] == 0;
    });
}

int32_t DecimalOf(const std::string& text)
{
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

ConfDlgResult ConfDlgOk(ConfDlgMode mode, const ConfDlgInputs& in, const ConfDlgResult& previous,
                        ConfDlgSettings* record)
{
    ConfDlgResult result = previous;
    if (mode == ConfDlgMode::None) return result;
    if (mode == ConfDlgMode::Add || mode == ConfDlgMode::Configure) {
        result.IpAddress = in.IpAddress;
        result.TcpPort = DecimalOf(in.TcpPortText);
        result.Comment1 = CutComment(in.Comment1);
        result.Comment2 = CutComment(in.Comment2);
        result.Protocol = in.ProtocolIndex;
        result.AliveRxIndex = in.RxIndex;
        result.AliveTxIndex = in.RxIndex;
    }
    result.StartItem = in.StartNumber.value_or(-1);
    if (mode == ConfDlgMode::Add)
        result.Count = DecimalOf(in.RunText);
    else
        result.Count = in.RunNumber.value_or(0);

    if (mode == ConfDlgMode::Add && record) {
        // The record's fields are unsigned; "nothing selected" is not stored over a choice.
        record->IpAddress = result.IpAddress;
        record->TcpPort = static_cast<uint32_t>(result.TcpPort);
        if (result.Protocol >= 0) record->Protocol = static_cast<uint32_t>(result.Protocol);
        if (result.AliveRxIndex >= 0) {
            record->AliveRxIndex = static_cast<uint32_t>(result.AliveRxIndex);
            record->AliveTxIndex = static_cast<uint32_t>(result.AliveTxIndex);
        }
        record->Comment1 = result.Comment1;
        record->Comment2 = result.Comment2;
    }
    return result;
}

}  // namespace pta::ui

#include "port_config.h"

#include "registry_layout.h"

namespace pta {

bool InsertPortSettings(PortConfigMap& map, PortSettings settings)
{
    settings.Valid = 1;
    const uint32_t key = settings.ComNumber;
    return map.try_emplace(key, std::move(settings)).second;
}

std::optional<uint32_t> ComNumberFromPortName(std::string_view portName)
{
    std::string rest;
    for (size_t i = 0; i < portName.size();) {
        if (portName.substr(i, 3) == "COM") {
            i += 3;
        } else {
            rest += portName[i++];
        }
    }
    if (rest.empty() || rest.size() > 4) return std::nullopt;
    uint32_t number = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    if (number < 1 || number > kMaxComNumber) return std::nullopt;
    return number;
}

std::string CutComment(std::string_view text, bool (*isLeadByte)(unsigned char))
{
    // Text past an embedded zero would never be read back.
    text = text.substr(0, text.find('\0'));
    if (text.size() <= kCommentMaxChars) return std::string(text);
    size_t keep = 0;
    while (keep < kCommentMaxChars) {
        const bool lead = isLeadByte && isLeadByte(static_cast<unsigned char>(text[keep]));
        const size_t width = lead ? 2 : 1;
        if (keep + width > kCommentMaxChars) break;
        keep += width;
    }
    return std::string(text.substr(0, keep));
}

uint32_t AliveTxFor(uint32_t aliveRxMs)
{
    return aliveRxMs == kKeepAliveLong.RxMs ? kKeepAliveLong.TxMs : kKeepAliveShort.TxMs;
}

}  // namespace pta

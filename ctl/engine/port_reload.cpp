#include "port_reload.h"

#include <stdio.h>

#include "registry_layout.h"

namespace pta {

std::string ComChangeMessage(const char* format, uint32_t oldNumber, uint32_t newNumber)
{
    char text[160];
    snprintf(text, sizeof text, format, static_cast<int>(oldNumber), static_cast<int>(newNumber));
    return text;
}

namespace {

// Reads a keep-alive time, storing the default when the value is missing. The default is
// used even if storing it fails: the worker falls back to the same value.
bool ReadAlive(PortReloadHost& host, uint32_t slot, const char* name, uint32_t fallback,
               uint32_t& value)
{
    switch (host.ReadSlotDword(slot, name, value)) {
    case ValueRead::Present:
        return true;
    case ValueRead::Missing:
        host.WriteSlotDword(slot, name, fallback);
        value = fallback;
        return true;
    case ValueRead::Unusable:
        break;
    }
    return false;
}

// Applies a COM number change made outside the program; returns the number to list.
uint32_t ApplyComChange(PortReloadHost& host, uint32_t slot, uint32_t stored, uint32_t current)
{
    if (host.PortInUse(slot)) {
        host.ShowError(ComChangeMessage(ComChangedInUseFormat, stored, current));
        return stored;
    }
    if (!host.RefreshPortNames(slot, current) ||
        !host.WriteSlotDword(slot, ComPortValue, current)) {
        host.ShowError(ComChangeMessage(ComChangeFailedFormat, stored, current));
        return stored;
    }
    return current;
}

// Reads one slot into a record; false when the slot is not listed this time.
bool ReadSlot(PortReloadHost& host, uint32_t slot, PortSettings& settings)
{
    std::optional<uint32_t> current;
    if (std::optional<std::string> name = host.PortName(slot)) {
        current = ComNumberFromPortName(*name);
    }

    uint32_t aliveRx = 0, aliveTx = 0;
    if (!ReadAlive(host, slot, AliveRxTimerValue, kKeepAliveShort.RxMs, aliveRx)) return false;
    if (!ReadAlive(host, slot, AliveTxTimerValue, AliveTxFor(aliveRx), aliveTx)) return false;

    uint32_t comPort = 0;
    const struct {
        const char* name;
        uint32_t* value;
    } required[] = {
        {EncryptionValue, &settings.Protocol},
        {IpAddressValue, &settings.IpAddress},
        {TcpPortValue, &settings.TcpPort},
        {ComPortValue, &comPort},
    };
    for (const auto& r : required) {
        if (host.ReadSlotDword(slot, r.name, *r.value) != ValueRead::Present) return false;
    }

    // Missing comments are created empty; the slot is listed from the next reload on.
    bool created = false, usable = true;
    const struct {
        const char* name;
        std::string* text;
    } comments[] = {{Comment1Value, &settings.Comment1}, {Comment2Value, &settings.Comment2}};
    for (const auto& c : comments) {
        switch (host.ReadSlotString(slot, c.name, *c.text)) {
        case ValueRead::Present:
            break;
        case ValueRead::Missing:
            host.WriteSlotString(slot, c.name, std::string());
            created = true;
            break;
        case ValueRead::Unusable:
            usable = false;
            break;
        }
    }
    if (created || !usable) return false;

    settings.PortNumber = slot;
    settings.ComNumber =
        current && *current != comPort ? ApplyComChange(host, slot, comPort, *current) : comPort;
    settings.AliveRxShort = IsShortAlive(aliveRx);
    settings.AliveTxShort = settings.AliveRxShort;
    return true;
}

}  // namespace

int BuildPortConfigMap(PortReloadHost& host, PortConfigMap& map)
{
    map.clear();
    int result = 0;
    for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) {
        if (!host.SlotListed(slot)) continue;
        PortSettings settings;
        if (!ReadSlot(host, slot, settings)) continue;
        InsertPortSettings(map, std::move(settings));
        result = 1;
    }
    return result;
}

}  // namespace pta

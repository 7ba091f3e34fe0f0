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

// Reads a keep-alive time, storing the default when the value is missing or cannot be
// used. The default is used even if storing it fails: the worker falls back to the same
// value.
void ReadAlive(PortReloadHost& host, uint32_t slot, const char* name, uint32_t fallback,
               uint32_t& value)
{
    if (host.ReadSlotDword(slot, name, value) == ValueRead::Present) return;
    host.WriteSlotDword(slot, name, fallback);
    value = fallback;
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
    ReadAlive(host, slot, AliveRxTimerValue, kKeepAliveShort.RxMs, aliveRx);
    ReadAlive(host, slot, AliveTxTimerValue, AliveTxFor(aliveRx), aliveTx);

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
    bool comPortUnusable = false;
    for (const auto& r : required) {
        switch (host.ReadSlotDword(slot, r.name, *r.value)) {
        case ValueRead::Present:
            break;
        case ValueRead::Missing:
            return false;
        case ValueRead::Unusable:
            *r.value = 0;
            comPortUnusable = r.value == &comPort;
            break;
        }
    }
    if (comPortUnusable) {
        // The name Windows gave the port is the number it goes by.
        if (!current) return false;
        host.WriteSlotDword(slot, ComPortValue, *current);
        comPort = *current;
    }

    // Missing comments are created empty; the slot is listed from the next reload on. An
    // unusable one is stored again with what could be read of it.
    bool created = false;
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
            *c.text = CutComment(*c.text);
            host.WriteSlotString(slot, c.name, *c.text);
            break;
        }
    }
    if (created) return false;

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

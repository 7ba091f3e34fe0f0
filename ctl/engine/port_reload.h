// Rebuilding the list of configured ports from the registry, with the defaults it fills
// in and the COM number change it applies after the user renamed a port in Device Manager.
// The registry, the workers and the message boxes are reached through PortReloadHost, so
// the rules run the same against the real registry and against a test's table.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

#include "port_config.h"

namespace pta {

// How a value read ended. A value of the wrong type, size or form is Unusable; a reader
// of text still hands over what it could read of it (up to its first zero, cut to the
// buffer), so that the text can be kept when the value is repaired.
enum class ValueRead { Present, Missing, Unusable };

// Shown when Device Manager renamed a port that an application has open (old, new).
constexpr const char* ComChangedInUseFormat =
    "COM port number of COM%d has changed to COM%d while in use.\nCannot apply now";
// Shown when the driver could not take the new name, or it could not be stored (old, new).
constexpr const char* ComChangeFailedFormat =
    "Failed to apply change of COM port number (COM%d -> COM%d)";

class PortReloadHost {
public:
    virtual ~PortReloadHost() = default;

    // The slot has its port subkey and a worker.
    virtual bool SlotListed(uint32_t slot) = 0;
    // The PortName that Windows keeps for the slot's child device, if it can be read.
    virtual std::optional<std::string> PortName(uint32_t slot) = 0;

    // Values of the slot's subkey.
    virtual ValueRead ReadSlotDword(uint32_t slot, const char* name, uint32_t& value) = 0;
    virtual bool WriteSlotDword(uint32_t slot, const char* name, uint32_t value) = 0;
    virtual ValueRead ReadSlotString(uint32_t slot, const char* name, std::string& text) = 0;
    virtual bool WriteSlotString(uint32_t slot, const char* name, const std::string& text) = 0;

    // The slot's worker: an application has the port open.
    virtual bool PortInUse(uint32_t slot) = 0;
    // The slot's worker tells its driver device to take the port's new name; false when the
    // device is not open or the request fails.
    virtual bool RefreshPortNames(uint32_t slot, uint32_t comNumber) = 0;

    // A modal error box.
    virtual void ShowError(const std::string& text) = 0;
};

// Reads every listed slot into a new map (slots ascending). Returns 1 if at least one port
// entered it, else 0. A value that is there but cannot be used never hides its port: a
// keep-alive time is stored again with its default and a comment with the text that could
// be read of it (both as a missing one would be); the address, TCP port and protocol are
// listed as 0, which is what the worker connects with, and left for the user to correct;
// a COM number is taken from the port's name when Windows has one (else, as when it is
// missing, the port cannot be named and is not listed).
int BuildPortConfigMap(PortReloadHost& host, PortConfigMap& map);

// The message text for a COM number change.
std::string ComChangeMessage(const char* format, uint32_t oldNumber, uint32_t newNumber);

}  // namespace pta

// Which port slots are configured in the registry, and which children the bus must add or
// drop to match. A slot is configured while its subkey exists; it can have a child only
// while its ComPort value is a usable COM number.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "registry_layout.h"

namespace ptamf2 {

// A set of port slots 0..255.
class SlotSet {
public:
    void Add(uint32_t slot);
    void Remove(uint32_t slot);
    bool Has(uint32_t slot) const;
    bool Empty() const;
    uint32_t Count() const;
    // The first slot >= from in the set, or kNone.
    uint32_t Next(uint32_t from) const;
    // The slots of this set that are not in other.
    SlotSet Minus(const SlotSet& other) const;

    static constexpr uint32_t kNone = pta::kPortSlotCount;

private:
    static constexpr uint32_t kWords = pta::kPortSlotCount / 32;
    uint32_t bits_[kWords] = {};
};

// Registry value type of a 32-bit number (REG_DWORD).
constexpr uint32_t kRegDword = 4;

// What the registry says about the slots, gathered subkey by subkey.
class SlotConfig {
public:
    // A subkey of the product key: records the slot when the name is a slot name.
    // Returns the slot, or SlotSet::kNone for any other name.
    uint32_t NoteSubkey(const char16_t* name, size_t chars);
    // The ComPort value of a recorded slot: the slot becomes usable when the value is a
    // REG_DWORD holding a COM number 1..1024.
    void NoteComPort(uint32_t slot, uint32_t type, const void* data, uint32_t bytes);

    const SlotSet& Present() const { return present_; }
    const SlotSet& Usable() const { return usable_; }
    // The COM number of a usable slot (0 for any other slot).
    uint32_t ComNumber(uint32_t slot) const;

    // Usable slots that have no child yet: the bus reports them.
    SlotSet ToReport(const SlotSet& withChild) const { return usable_.Minus(withChild); }
    // Children whose subkey is gone: the bus drops them.
    SlotSet ToDrop(const SlotSet& withChild) const { return withChild.Minus(present_); }

private:
    SlotSet present_;
    SlotSet usable_;
    uint16_t com_[pta::kPortSlotCount] = {};
};

// Parses a slot subkey name: exactly four decimal digits naming a slot 0..255.
bool ParseSlotName(const char16_t* name, size_t chars, uint32_t* slot);

// A ComPort value as a COM number 1..1024; 0 when it is not one.
uint32_t DecodeComPort(uint32_t type, const void* data, uint32_t bytes);

}  // namespace ptamf2

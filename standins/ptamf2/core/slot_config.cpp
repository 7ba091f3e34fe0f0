#include "slot_config.h"

namespace ptamf2 {

void SlotSet::Add(uint32_t slot)
{
    if (slot < pta::kPortSlotCount) bits_[slot / 32] |= 1u << (slot % 32);
}

void SlotSet::Remove(uint32_t slot)
{
    if (slot < pta::kPortSlotCount) bits_[slot / 32] &= ~(1u << (slot % 32));
}

bool SlotSet::Has(uint32_t slot) const
{
    return slot < pta::kPortSlotCount && (bits_[slot / 32] >> (slot % 32)) & 1u;
}

bool SlotSet::Empty() const { return Next(0) == kNone; }

uint32_t SlotSet::Count() const
{
    uint32_t n = 0;
    for (uint32_t s = Next(0); s != kNone; s = Next(s + 1)) ++n;
    return n;
}

uint32_t SlotSet::Next(uint32_t from) const
{
    for (uint32_t s = from; s < pta::kPortSlotCount; ++s)
        if (Has(s)) return s;
    return kNone;
}

SlotSet SlotSet::Minus(const SlotSet& other) const
{
    SlotSet result;
    for (uint32_t w = 0; w < kWords; ++w) result.bits_[w] = bits_[w] & ~other.bits_[w];
    return result;
}

uint32_t SlotConfig::NoteSubkey(const char16_t* name, size_t chars)
{
    uint32_t slot;
    if (!ParseSlotName(name, chars, &slot)) return SlotSet::kNone;
    present_.Add(slot);
    return slot;
}

void SlotConfig::NoteComPort(uint32_t slot, uint32_t type, const void* data, uint32_t bytes)
{
    const uint32_t com = DecodeComPort(type, data, bytes);
    if (!present_.Has(slot) || com == 0) return;
    usable_.Add(slot);
    com_[slot] = static_cast<uint16_t>(com);
}

uint32_t SlotConfig::ComNumber(uint32_t slot) const
{
    return usable_.Has(slot) ? com_[slot] : 0;
}

bool ParseSlotName(const char16_t* name, size_t chars, uint32_t* slot)
{
    if (!name || chars != 4) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < chars; ++i) {
        if (name[i] < u'0' || name[i] > u'9') return false;
        value = value * 10 + static_cast<uint32_t>(name[i] - u'0');
    }
    if (value >= pta::kPortSlotCount) return false;
    *slot = value;
    return true;
}

uint32_t DecodeComPort(uint32_t type, const void* data, uint32_t bytes)
{
    if (type != kRegDword || bytes != sizeof(uint32_t) || !data) return 0;
    const uint8_t* b = static_cast<const uint8_t*>(data);
    const uint32_t com = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    return com >= 1 && com <= pta::kMaxComNumber ? com : 0;
}

}  // namespace ptamf2

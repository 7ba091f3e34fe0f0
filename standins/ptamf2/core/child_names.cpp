#include "child_names.h"

namespace ptamf2 {

namespace {

// Appends the digits of value in base 10 or 16, at least width of them, zero-padded.
bool PutNumber(char16_t* out, size_t cap, size_t* pos, uint32_t value, uint32_t base,
               uint32_t width)
{
    char16_t digits[10];
    uint32_t n = 0;
    do {
        const uint32_t d = value % base;
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : u'A' + (d - 10));
        value /= base;
    } while (value != 0);
    while (n < width && n < sizeof(digits) / sizeof(digits[0])) digits[n++] = u'0';
    if (*pos + n >= cap) return false;
    while (n > 0) out[(*pos)++] = digits[--n];
    return true;
}

// Writes the strings one after the other, each with its terminator, then the final one.
size_t BuildMultiSz(const char* const* items, size_t count, char16_t* out, size_t cap)
{
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t n = FormatName(out + pos, cap - pos, items[i], 0);
        if (n == 0 && items[i][0] != 0) return 0;
        pos += n + 1;
        if (pos >= cap) return 0;
    }
    if (pos >= cap) return 0;
    out[pos++] = 0;
    return pos;
}

}  // namespace

size_t FormatName(char16_t* out, size_t cap, const char* fmt, uint32_t value)
{
    if (!out || cap == 0) return 0;
    size_t pos = 0;
    for (const char* p = fmt; *p; ++p) {
        bool ok;
        if (*p != '%') {
            ok = pos + 1 < cap;
            if (ok) out[pos++] = static_cast<char16_t>(static_cast<unsigned char>(*p));
        } else {
            uint32_t width = 0;
            ++p;
            if (*p == '0')
                for (++p; *p >= '0' && *p <= '9'; ++p) width = width * 10 + (*p - '0');
            ok = (*p == 'd' || *p == 'X') &&
                 PutNumber(out, cap, &pos, value, *p == 'd' ? 10 : 16, width);
        }
        if (!ok) {
            out[0] = 0;
            return 0;
        }
    }
    out[pos] = 0;
    return pos;
}

size_t BuildChildId(uint32_t idType, uint32_t slot, char16_t* out, size_t cap)
{
    static const char* const kHardwareIds[] = {PTA_CHILD_HARDWARE_ID};
    static const char* const kCompatibleIds[] = {""};
    size_t n;
    switch (idType) {
    case ChildDeviceId:
        n = FormatName(out, cap, PTA_CHILD_HARDWARE_ID, 0);
        return n ? n + 1 : 0;
    case ChildInstanceId:
        n = FormatName(out, cap, PTA_CHILD_INSTANCE_FORMAT, slot);
        return n ? n + 1 : 0;
    case ChildHardwareIds:
        return BuildMultiSz(kHardwareIds, 1, out, cap);
    case ChildCompatibleIds:
        return BuildMultiSz(kCompatibleIds, 1, out, cap);
    default:
        return 0;
    }
}

}  // namespace ptamf2

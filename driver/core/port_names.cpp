#include "port_names.h"

namespace pta {

namespace {

bool IsDigit(Utf16Char c) { return c >= PTA_U16('0') && c <= PTA_U16('9'); }

// Appends pieces to a caller's buffer, counting what does not fit so that the caller
// learns the size it needs.
class NameWriter {
public:
    NameWriter(Utf16Char* out, uint32_t capacity) : out_(out), capacity_(out ? capacity : 0)
    {
        Terminate();
    }

    NameWriter& Text(const Utf16Char* text, uint32_t units)
    {
        for (uint32_t i = 0; i < units && text[i] != 0; ++i) Put(text[i]);
        return *this;
    }

    NameWriter& Text(const Utf16Char* text) { return Text(text, 0xFFFFFFFFu); }

    NameWriter& Decimal(uint32_t value)
    {
        Utf16Char digits[10];
        uint32_t n = 0;
        do {
            digits[n++] = static_cast<Utf16Char>(PTA_U16('0') + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) Put(digits[--n]);
        return *this;
    }

    uint32_t Finish()
    {
        Terminate();
        return length_;
    }

private:
    void Put(Utf16Char c)
    {
        if (length_ + 1 < capacity_) out_[length_] = c;
        ++length_;
    }

    // The buffer holds a terminated string only when the whole name fits; a name that
    // does not fit leaves an empty string rather than a truncated one.
    void Terminate()
    {
        if (capacity_ == 0) return;
        out_[length_ < capacity_ ? length_ : 0] = 0;
    }

    Utf16Char* out_;
    uint32_t capacity_;
    uint32_t length_ = 0;
};

}  // namespace

ComNumberResult ScanComNumber(const Utf16Char* text, uint32_t units)
{
    if (text == nullptr) return {ComNumberScan::NoDigits, 0};
    const uint32_t length = BoundedLength(text, units);
    uint32_t i = 0;
    while (i < length && !IsDigit(text[i])) ++i;
    if (i == length) return {ComNumberScan::NoDigits, 0};

    uint32_t value = 0;
    for (; i < length && IsDigit(text[i]); ++i) {
        const uint32_t digit = static_cast<uint32_t>(text[i] - PTA_U16('0'));
        if (value > (0xFFFFFFFFu - digit) / 10) return {ComNumberScan::TooLarge, 0};
        value = value * 10 + digit;
    }
    return {ComNumberScan::Found, value};
}

uint32_t FormatDeviceName(Utf16Char* out, uint32_t capacity, uint32_t childIndex)
{
    return NameWriter(out, capacity).Text(PTA_U16("\\DosDevices\\ptaser2")).Decimal(childIndex).Finish();
}

uint32_t FormatComName(Utf16Char* out, uint32_t capacity, uint32_t comNumber)
{
    return NameWriter(out, capacity).Text(PTA_U16("COM")).Decimal(comNumber).Finish();
}

uint32_t FormatComLinkName(Utf16Char* out, uint32_t capacity, uint32_t comNumber)
{
    return NameWriter(out, capacity).Text(PTA_U16("\\DosDevices\\COM")).Decimal(comNumber).Finish();
}

uint32_t FormatRxQueueName(Utf16Char* out, uint32_t capacity, const Utf16Char* comName,
                           uint32_t comNameUnits)
{
    NameWriter writer(out, capacity);
    if (comName != nullptr) writer.Text(comName, comNameUnits);
    return writer.Text(PTA_U16(".RxQ")).Finish();
}

}  // namespace pta

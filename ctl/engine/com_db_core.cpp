#include "com_db_core.h"

namespace pta {

namespace {

bool InRange(const ComDbBitmap& bitmap, uint32_t comNumber)
{
    return comNumber >= 1 && comNumber <= ComDbPorts(bitmap);
}

uint8_t Mask(uint32_t comNumber) { return static_cast<uint8_t>(1u << ((comNumber - 1) % 8)); }

}  // namespace

bool ComDbBitmapUsable(size_t bytes) { return bytes >= 1 && bytes <= kComDbMaxPorts / 8; }

bool ComDbInUse(const ComDbBitmap& bitmap, uint32_t comNumber)
{
    return InRange(bitmap, comNumber) && (bitmap[(comNumber - 1) / 8] & Mask(comNumber)) != 0;
}

ComDbResult ComDbClaim(ComDbBitmap& bitmap, uint32_t comNumber, bool force, bool* forced)
{
    if (forced) *forced = false;
    if (!InRange(bitmap, comNumber)) return ComDbResult::InvalidParameter;
    if (ComDbInUse(bitmap, comNumber)) {
        if (!force) return ComDbResult::SharingViolation;
        if (forced) *forced = true;
        return ComDbResult::Ok;
    }
    bitmap[(comNumber - 1) / 8] |= Mask(comNumber);
    return ComDbResult::Ok;
}

ComDbResult ComDbRelease(ComDbBitmap& bitmap, uint32_t comNumber)
{
    if (!InRange(bitmap, comNumber)) return ComDbResult::InvalidParameter;
    bitmap[(comNumber - 1) / 8] &= static_cast<uint8_t>(~Mask(comNumber));
    return ComDbResult::Ok;
}

ComDbResult ComDbResize(ComDbBitmap& bitmap, uint32_t ports)
{
    if (ports <= ComDbPorts(bitmap) || ports > kComDbMaxPorts) return ComDbResult::BadLength;
    if (ports % kComDbResizeStep != 0) return ComDbResult::InvalidParameter;
    bitmap.resize(ports / 8, 0);
    return ComDbResult::Ok;
}

}  // namespace pta

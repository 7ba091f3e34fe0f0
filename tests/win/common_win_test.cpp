// The shared definitions against Windows' own headers and functions.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <winioctl.h>

#include "bus_contract.h"
#include "link_channel.h"

using namespace pta;

TEST(WindowsHeaders, ControlCodesMatchCtlCode)
{
    EXPECT_EQ(IOCTL_LINK_PROBE,
              (uint32_t)CTL_CODE(FILE_DEVICE_SERIAL_PORT, 100, METHOD_BUFFERED, FILE_ANY_ACCESS));
    EXPECT_EQ(IOCTL_LINK_FORCE_CLOSE,
              (uint32_t)CTL_CODE(FILE_DEVICE_SERIAL_PORT, 131, METHOD_BUFFERED, FILE_ANY_ACCESS));
    EXPECT_EQ(IOCTL_BUS_DETACH, (uint32_t)CTL_CODE(0x2A, 4, METHOD_BUFFERED, FILE_ANY_ACCESS));
}

TEST(WindowsHeaders, BusGuidParsesFromItsText)
{
    CLSID parsed;
    ASSERT_EQ(S_OK, CLSIDFromString(L"{34CF3158-A7DA-47CE-BEE4-5B18328600E4}", &parsed));
    EXPECT_TRUE(IsEqualGUID(parsed, AsGuid(PtaBusInterfaceGuid)));
}

TEST(WindowsHeaders, LayoutsOnWindowsX64)
{
    EXPECT_EQ(48u, sizeof(PtaBusInterface));
    EXPECT_EQ(64u, sizeof(BusChildInfo));
    EXPECT_EQ(8u, sizeof(HANDLE)) << "event handles travel as 8 bytes";
}

// The registry layout under the product key: global values, one subkey per port slot,
// the keep-alive pairs and the protocol codes stored in each slot.
#pragma once

#include "pta_base.h"

namespace pta {

// 256 port slots, 0..255; slot N is subkey "%04d", bus child "%08X", device ptaser2<N+1>.
constexpr uint32_t kPortSlotCount = 256;
// COM numbers 1..1024: the COM port database is enlarged to this size.
constexpr uint32_t kMaxComNumber = 1024;

#define PTA_PRODUCT_KEY "SOFTWARE\\Kelvor\\Portara"
#define PTA_SLOT_SUBKEY_FORMAT PTA_PRODUCT_KEY "\\%04d"
constexpr const char* ProductKey = PTA_PRODUCT_KEY;
constexpr const char* SlotSubkeyFormat = PTA_SLOT_SUBKEY_FORMAT;
constexpr const char* SlotNameFormat = "%04d";

// Values of the product key.
constexpr const char* DeviceCountValue = "DeviceCount";
constexpr const char* FirstComNumValue = "FirstCOMNum";
constexpr const char* ComMapInitedValue = "COMMapInited";
constexpr const char* HideDialogFlagValue = "HideDialogFlag";
constexpr const char* ComPortaraPathValue = "ComPortaraPath";  // REG_SZ
constexpr const char* PortaraHandleValue = "Portara_Handle";

// Values of a port subkey.
constexpr const char* IpAddressValue = "IPaddress";
constexpr const char* TcpPortValue = "Port";
constexpr const char* ComPortValue = "ComPort";
constexpr const char* EncryptionValue = "Encryption";
constexpr const char* AliveRxTimerValue = "AliveRxTimer";
constexpr const char* AliveTxTimerValue = "AliveTxTimer";
constexpr const char* Comment1Value = "Comment_1";  // REG_MULTI_SZ, 64 bytes
constexpr const char* Comment2Value = "Comment_2";  // REG_MULTI_SZ, 64 bytes

// Comments are stored as fixed 64-byte values: at most 63 characters and a zero.
constexpr uint32_t kCommentBytes = 64;
constexpr uint32_t kCommentMaxChars = kCommentBytes - 1;

// Keep-alive times in milliseconds; the two values always come as one of these pairs.
struct KeepAlivePair {
    uint32_t RxMs;  // silence after which the link counts as lost
    uint32_t TxMs;  // idle time after which a keep-alive is sent
};
constexpr KeepAlivePair kKeepAliveShort = {7000, 2500};  // the default
constexpr KeepAlivePair kKeepAliveLong = {25000, 10000};

// Protocol codes (the Encryption value); any other value is shown as UNKNOWN and
// behaves as ProtocolCom.
enum ProtocolCode : uint32_t {
    ProtocolCom = 0,
    ProtocolEncryption = 1,
    ProtocolRaw = 2,
};
constexpr uint32_t kProtocolCount = 3;
constexpr const char* ProtocolTexts[kProtocolCount] = {"COM", "Encryption", "Raw"};
constexpr const char* UnknownProtocolText = "UNKNOWN";

constexpr const char* ProtocolText(uint32_t code)
{
    return code < kProtocolCount ? ProtocolTexts[code] : UnknownProtocolText;
}

// The protocol a stored code behaves as on the wire.
constexpr ProtocolCode EffectiveProtocol(uint32_t code)
{
    return code == ProtocolEncryption ? ProtocolEncryption
           : code == ProtocolRaw      ? ProtocolRaw
                                      : ProtocolCom;
}

}  // namespace pta

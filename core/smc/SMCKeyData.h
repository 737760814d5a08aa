#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ventoral {

// The 80-byte parameter record of every SMC request, laid out byte for byte as the controller
// expects it. Multi-byte integers are in host (little-endian) order.
#pragma pack(push, 1)
struct SMCVersion {
    std::uint8_t major;
    std::uint8_t minor;
    std::uint8_t build;
    std::uint8_t reserved;
    std::uint16_t release;
};

struct SMCPLimitData {
    std::uint16_t version;
    std::uint16_t length;
    std::uint32_t cpuPLimit;
    std::uint32_t gpuPLimit;
    std::uint32_t memPLimit;
};

struct SMCKeyInfoData {
    std::uint32_t dataSize;
    std::uint32_t dataType;
    std::uint8_t dataAttributes;
};

struct SMCKeyData_t {
    std::uint32_t key;
    SMCVersion vers;
    std::uint8_t pad0[2];
    SMCPLimitData pLimitData;
    SMCKeyInfoData keyInfo;
    std::uint8_t pad1[3];
    std::uint8_t result;
    std::uint8_t status;
    std::uint8_t data8;
    std::uint8_t pad2;
    std::uint32_t data32;
    std::uint8_t bytes[32];
};
#pragma pack(pop)

static_assert(sizeof(SMCVersion) == 6);
static_assert(sizeof(SMCPLimitData) == 16);
static_assert(sizeof(SMCKeyInfoData) == 9);
static_assert(sizeof(SMCKeyData_t) == 80);
static_assert(offsetof(SMCVersion, release) == 4);
static_assert(offsetof(SMCPLimitData, length) == 2);
static_assert(offsetof(SMCPLimitData, cpuPLimit) == 4);
static_assert(offsetof(SMCPLimitData, gpuPLimit) == 8);
static_assert(offsetof(SMCPLimitData, memPLimit) == 12);
static_assert(offsetof(SMCKeyInfoData, dataType) == 4);
static_assert(offsetof(SMCKeyInfoData, dataAttributes) == 8);
static_assert(offsetof(SMCKeyData_t, vers) == 4);
static_assert(offsetof(SMCKeyData_t, pad0) == 10);
static_assert(offsetof(SMCKeyData_t, pLimitData) == 12);
static_assert(offsetof(SMCKeyData_t, keyInfo) == 28);
static_assert(offsetof(SMCKeyData_t, pad1) == 37);
static_assert(offsetof(SMCKeyData_t, result) == 40);
static_assert(offsetof(SMCKeyData_t, status) == 41);
static_assert(offsetof(SMCKeyData_t, data8) == 42);
static_assert(offsetof(SMCKeyData_t, pad2) == 43);
static_assert(offsetof(SMCKeyData_t, data32) == 44);
static_assert(offsetof(SMCKeyData_t, bytes) == 48);

using SMCRecordBytes = std::array<std::uint8_t, sizeof(SMCKeyData_t)>;

inline SMCKeyData_t zeroRecord() {
    SMCKeyData_t record;
    std::memset(&record, 0, sizeof record);
    return record;
}

inline SMCRecordBytes toBytes(const SMCKeyData_t& record) {
    SMCRecordBytes bytes;
    std::memcpy(bytes.data(), &record, bytes.size());
    return bytes;
}

inline SMCKeyData_t fromBytes(const SMCRecordBytes& bytes) {
    SMCKeyData_t record;
    std::memcpy(&record, bytes.data(), bytes.size());
    return record;
}

// Command codes carried in `data8`.
namespace SMCCommand {
inline constexpr std::uint8_t readKeyInfo = 9;
inline constexpr std::uint8_t readBytes = 5;
inline constexpr std::uint8_t writeBytes = 6;
} // namespace SMCCommand

// Kernel-style return codes of a call.
namespace SMCReturn {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t notOpen = static_cast<std::int32_t>(0xE00002CDu);
inline constexpr std::int32_t notPrivileged = static_cast<std::int32_t>(0xE00002C1u);
inline constexpr std::int32_t notPermitted = static_cast<std::int32_t>(0xE00002E2u);
} // namespace SMCReturn

} // namespace ventoral

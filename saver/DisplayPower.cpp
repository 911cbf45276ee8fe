#include "saver/DisplayPower.h"

#include <array>
#include <cstring>

namespace lumora {
namespace {

using GuidBytes = std::array<std::uint8_t, 16>;

// GUIDs as Windows lays them out: the first three fields little-endian.
// GUID_CONSOLE_DISPLAY_STATE, 6FE69556-704A-47A0-8F24-C28D936FDA47.
constexpr GuidBytes kConsoleDisplayState{0x56, 0x95, 0xE6, 0x6F, 0x4A, 0x70, 0xA0, 0x47,
                                         0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47};
// GUID_MONITOR_POWER_ON, 02731015-4510-4526-99E6-E5A17EBD1AEA.
constexpr GuidBytes kMonitorPowerOn{0x15, 0x10, 0x73, 0x02, 0x10, 0x45, 0x26, 0x45,
                                    0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA};

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

std::optional<DisplayPower> DisplayPowerFromSetting(const void* setting) {
    if (!setting) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(setting);
    GuidBytes guid;
    std::memcpy(guid.data(), bytes, guid.size());
    const bool console = guid == kConsoleDisplayState;
    if (!console && guid != kMonitorPowerOn) return std::nullopt;
    if (LittleEndian32(bytes + kPowerSettingLengthOffset) != 4) return std::nullopt;
    // MONITOR_DISPLAY_STATE: 0 off, 1 on, 2 dimmed (the console state only).
    switch (LittleEndian32(bytes + kPowerSettingDataOffset)) {
    case 0: return DisplayPower::Off;
    case 1: return DisplayPower::On;
    case 2: return console ? std::optional(DisplayPower::Dimmed) : std::nullopt;
    default: return std::nullopt;
    }
}

}  // namespace lumora

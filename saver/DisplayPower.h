#pragma once
// The display's power state as Windows reports it in a power-setting
// notification, read without trusting the message that carries it.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace lumora {

enum class DisplayPower { Off, On, Dimmed };

// A POWERBROADCAST_SETTING as it lies in memory: the setting's GUID (16
// bytes), the data's length (32 bits, little-endian), then the data.
inline constexpr std::size_t kPowerSettingLengthOffset = 16;
inline constexpr std::size_t kPowerSettingDataOffset = 20;

// The display's state from such a setting: the console display state
// (Windows 8 and later: off, on or dimmed) or the monitor power state
// (Windows 7: off or on), each a 32-bit value. Nothing for a null pointer,
// another setting, a length other than 4 or a value the setting does not
// define. Reads the data only once its length is known to be 4.
std::optional<DisplayPower> DisplayPowerFromSetting(const void* setting);

}  // namespace lumora

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

// The cycle shows KORVA001.DAT to KORVA050.DAT and starts over.
inline constexpr std::int16_t kPicMax = 50;

// Full name of picture `picNo` in `folder`: "KORVA" + the number as "000" + ".DAT",
// with exactly one backslash between folder and name (a drive root already ends in one).
std::wstring PictureFileName(std::wstring_view folder, std::int16_t picNo);

// The number after `picNo`, back to 1 past `picMax`.
std::int16_t NextPicNo(std::int16_t picNo, std::int16_t picMax);

}  // namespace lumora

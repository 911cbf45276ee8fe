#include "saver/PictureCycle.h"

namespace lumora {
namespace {

// Decimal, at least three digits, zero-padded on the left.
std::wstring ThreeDigits(int n) {
    std::wstring digits = std::to_wstring(n < 0 ? -n : n);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), L'0');
    if (n < 0) digits.insert(0, 1, L'-');
    return digits;
}

}  // namespace

std::wstring PictureFileName(std::wstring_view folder, std::int16_t picNo) {
    std::wstring name(folder);
    if (name.empty() || name.back() != L'\\') name += L'\\';
    name += L"KORVA";
    name += ThreeDigits(picNo);
    name += L".DAT";
    return name;
}

std::int16_t NextPicNo(std::int16_t picNo, std::int16_t picMax) {
    // In int, so the comparison itself cannot overflow at the 16-bit limit.
    const int next = static_cast<int>(picNo) + 1;
    return next > picMax ? std::int16_t{1} : static_cast<std::int16_t>(next);
}

}  // namespace lumora

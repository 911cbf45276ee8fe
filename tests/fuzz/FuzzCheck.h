#pragma once
// Invariant checks for the fuzz targets: a broken invariant aborts, so
// libFuzzer keeps the input as a crash artifact.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

namespace lumora::fuzz {

// Reads fixed-size values off the front of the input; past its end, zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }

    // The rest as UTF-16 code units, the way Windows hands text over.
    std::wstring RestAsUtf16() {
        std::wstring text;
        text.reserve(size_ / 2);
        for (; size_ >= 2; data_ += 2, size_ -= 2)
            text.push_back(static_cast<wchar_t>(data_[0] | (data_[1] << 8)));
        return text;
    }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace lumora::fuzz

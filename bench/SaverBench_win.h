#pragma once
#include <string>

namespace lumora::bench {

// Runs the real slideshow `scr` in folders under `work` with a plain first
// picture and the given photo second, and prints how it answers.
int MeasureSaver(const std::wstring& scr, const std::wstring& work, const std::wstring& photo24,
                 const std::wstring& photo100);

}  // namespace lumora::bench

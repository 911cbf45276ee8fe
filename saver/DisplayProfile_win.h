#pragma once
// The display's colour profile, the target of every conversion. The saver
// looks up its name (cheap); reading the file is file work and runs where the
// pictures are prepared, never on the window thread.
#include "common/PictureChannel.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lumora {

// The profile Windows associates with the monitor `window` is on; empty when none.
std::wstring DisplayProfilePath(HWND window);

// The profile file's bytes; empty when it cannot be read or is larger than `limit`.
std::vector<std::uint8_t> ReadDisplayProfile(const std::wstring& path, std::size_t limit = kMaxProfileBytes);

}  // namespace lumora

// Entry of the test driver: -municode rules out gtest_main, and the result
// goes to a file because the virtual desktop does not pass exit codes on.
#include "tools/driver/Driver_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    ::SetProcessDPIAware();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetEnvironmentVariableW(L"LUMORA_E2E_RESULT", path, static_cast<DWORD>(std::size(path)));
    if (n > 0 && n < std::size(path)) {
        if (FILE* f = _wfopen(path, L"w")) {
            std::fprintf(f, "%d\n", result);
            std::fclose(f);
        }
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return result;
}

#include "common/NoCrashDialog_win.h"

#include "common/Trail_win.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

// werapi.h, which MinGW lacks; in kernel32 since Windows Vista.
extern "C" HRESULT WINAPI WerSetFlags(DWORD flags);

namespace lumora {
namespace {

constexpr DWORD kWerFaultReportingNoUi = 0x20;

}  // namespace

bool NoCrashDialog() {
    const HRESULT hr = ::WerSetFlags(kWerFaultReportingNoUi);
    if (SUCCEEDED(hr)) return true;
    wchar_t line[96];
    std::swprintf(line, std::size(line), L"Lumora: WerSetFlags(WER_FAULT_REPORTING_NO_UI) failed, code 0x%08lX",
                  static_cast<unsigned long>(hr));
    Trail(line);
    return false;
}

}  // namespace lumora

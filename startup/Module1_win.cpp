// Start-up: one copy at a time, then the mode the command line asks for.
#include "common/AppProperties_win.h"
#include "common/MessageLoop_win.h"
#include "common/UniqueHandle_win.h"
#include "picture/PictureHelperMain_win.h"
#include "saver/Form1_win.h"
#include "settings/Form2_win.h"
#include "startup/Switch.h"

#include <windows.h>

namespace lumora {
namespace {

// Windows starts a saver by its short 8.3 path from the idle timer and by its
// long path from the settings page, so the guard is a fixed name, not a path.
constexpr wchar_t kInstanceMutexName[] = L"Local\\Lumora.scr.{6F4B1C2E-8D3A-4E57-9B60-2A7C5D1E9F38}";

class SingleInstance {
public:
    SingleInstance() : mutex_(::CreateMutexW(nullptr, FALSE, kInstanceMutexName)) {
        // An existing mutex, or one we may not even open, both mean another copy runs.
        first_ = mutex_ && ::GetLastError() != ERROR_ALREADY_EXISTS;
    }
    bool first() const noexcept { return first_; }

private:
    UniqueKernelHandle mutex_;
    bool first_ = false;
};

template <typename Form>
int LoadAndRun() {
    Form form;
    if (!form.Load()) return 0;
    form.Show();
    return RunMessageLoop();
}

int Main() {
    // The slideshow's picture helper is none of the copies the guard counts,
    // and follows no switch.
    if (const HANDLE channel = PictureHelperChannel()) return RunPictureHelper(channel);
    SingleInstance instance;
    if (!instance.first()) return 0;

    switch (ChooseMode(ArgumentString(::GetCommandLineW()))) {
    case Mode::Password:
        ::MessageBoxW(nullptr, kPasswordMessage.data(), App().title.c_str(), MB_OK);
        return 0;
    case Mode::Preview:
        return 0;
    case Mode::Configure:
        return LoadAndRun<Form2>();
    case Mode::Run:
        return LoadAndRun<Form1>();
    }
    return 0;
}

}  // namespace
}  // namespace lumora

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return lumora::Main(); }

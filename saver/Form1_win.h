#pragma once
#include "common/UniqueHandle_win.h"
#include "common/Window_win.h"
#include "saver/Fitting.h"
#include "saver/MonitorCover_win.h"
#include "saver/MovementTest.h"
#include "saver/PictureCycle.h"
#include "saver/PictureLoader_win.h"

#include <imm.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace lumora {

// The slideshow window: borderless, black, topmost, over the whole screen.
class Form1 : public Window<Form1> {
public:
    // Creates the window hidden and runs Form_Load.
    bool Load();
    // Shows the loaded window maximised.
    void Show();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // The picture on show, scaled once to its place; the window repaints from it.
    struct PictureBox {
        UniqueBitmap bitmap;
        PixelRect rect;
        bool Visible = false;
    };

    void Form_Load();
    void Timer1_Timer();
    void Form_Unload();
    // Pointer, input method and taskbar back as they were.
    void RestoreDesktop();
    void Form_KeyDown();
    void Form_MouseDown();
    void Form_MouseMove(float X, float Y);

    void ShowNextPicture();
    bool LoadAndPlace(const std::wstring& name);
    void Refresh();
    void Paint();

    PictureBox Image1;
    std::vector<std::unique_ptr<MonitorCover>> covers_;  // the other monitors, kept dark
    PictureLoader loader_;
    PointerReference mouse_;  // FirstMove, MouseX0, MouseY0
    HIMC OldImc = nullptr;
    HWND hTaskbar = nullptr;
    std::int16_t PicNo = 1;
    std::int16_t PicMax = kPicMax;
    bool unloading_ = false;
};

}  // namespace lumora

#pragma once
#include "common/UniqueHandle_win.h"
#include "common/Window_win.h"
#include "saver/Desktop_win.h"
#include "saver/MonitorCover_win.h"
#include "saver/PictureWorker_win.h"
#include "saver/Slideshow.h"

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
    // The screen changed size, or monitors came or went.
    void FollowDisplay();
    // Windows says whether the display is off, on or dimmed.
    void WatchDisplayPower();
    void FollowDisplayPower(LPARAM setting);
    void Form_KeyDown();
    void Form_MouseDown();
    void Form_MouseMove(float X, float Y);

    void ShowNextPicture(const PictureRequest& request);
    // A prepared picture came back from the worker.
    void PictureArrived(PictureResult result);
    // The worker prepares the picture the screen now waits for.
    void Await(const PictureRequest& request);
    // The worker prepares the next tick's picture and keeps it until then.
    void PrepareAhead();
    ClientSize ClientArea() const;
    void Refresh();
    void Paint();

    PictureBox Image1_;
    std::vector<std::unique_ptr<MonitorCover>> covers_;  // the other monitors, kept dark
    Slideshow slideshow_;  // PicNo, PicMax, FirstMove and the pointer reference
    PictureWorker worker_;
    Desktop desktop_;  // pointer, input method, taskbars and foreground
    UniquePowerNotify displayPower_;
    const UINT taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    bool active_ = false;
    bool unloading_ = false;
};

}  // namespace lumora

#pragma once
#include "common/Window_win.h"

namespace lumora {

// The slideshow window.
class Form1 : public Window<Form1> {
public:
    // Creates the window hidden and runs Form_Load.
    bool Load();
    // Shows the loaded window maximised.
    void Show();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Form_Load();
    void Form_Unload();
};

}  // namespace lumora

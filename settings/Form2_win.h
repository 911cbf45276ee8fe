#pragma once
#include "common/Dialog_win.h"
#include "common/UniqueHandle_win.h"
#include "common/Window_win.h"

namespace lumora {

// The settings dialog: nothing to set, OK, Cancel and the Help menu.
class Form2 : public Window<Form2> {
public:
    // Creates the window hidden and runs Form_Load.
    bool Load();
    // Shows it centred on the screen.
    void Show();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Form_Load();
    void Cmd_OK_Click();
    void Cmd_Cancel_Click();
    void MENU_Version_Click();
    void Layout(UINT dpi);

    HWND Label1_ = nullptr;
    HWND Cmd_OK_ = nullptr;
    HWND Cmd_Cancel_ = nullptr;
    DialogFocus focus_{IDOK};
    UniqueFont font_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    bool aboutOpen_ = false;
};

}  // namespace lumora

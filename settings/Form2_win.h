#pragma once
#include "common/Dialog_win.h"

#include <array>
#include <optional>

namespace lumora {

// The settings dialog: nothing to set, OK, Cancel and the Help menu.
class Form2 : public Dialog<Form2> {
public:
    Form2();
    // Shows it centred on the screen.
    void Show();

private:
    friend Dialog<Form2>;
    void CreateControls();
    std::array<ControlPlace, 3> Controls() const;
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM wp, LPARAM lp);

    void Form_Load();
    void Cmd_OK_Click();
    void Cmd_Cancel_Click();
    void MENU_Version_Click();

    HWND Label1_ = nullptr;
    HWND Cmd_OK_ = nullptr;
    HWND Cmd_Cancel_ = nullptr;
    bool aboutOpen_ = false;
};

}  // namespace lumora

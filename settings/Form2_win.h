#pragma once
#include "common/Window_win.h"

namespace lumora {

// The settings dialog: nothing to set, OK, Cancel and the Help menu.
class Form2 : public Window<Form2> {
public:
    bool Load();
    void Show();

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Form_Load();
};

}  // namespace lumora

#pragma once
#include "common/Dialog_win.h"
#include "common/UniqueHandle_win.h"
#include "common/Window_win.h"

namespace lumora {

// The About box: title, version, company and copyright from the program's own
// record, and a button that starts the system-information tool.
class SFrm_About : public Window<SFrm_About> {
public:
    // Loads a fresh box, shows it over `owner` and returns once it is closed;
    // `owner` takes no input meanwhile.
    void ShowModal(HWND owner);

protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    bool Load(HWND owner);
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Layout(UINT dpi);
    void PaintLines(HDC dc);

    HWND picIcon_ = nullptr;
    HWND lblTitle_ = nullptr;
    HWND lblVersion_ = nullptr;
    HWND lblCompanyName_ = nullptr;
    HWND lblLegalCopyright_ = nullptr;
    HWND cmdOK_ = nullptr;
    HWND cmdSysInfo_ = nullptr;
    HWND lblDisclaimer_ = nullptr;
    DialogFocus focus_{IDOK};
    UniqueFont font_;
    UniqueFont titleFont_;
    UniqueIcon icon_;
    UINT dpi_ = 96;
    bool closed_ = false;
};

}  // namespace lumora

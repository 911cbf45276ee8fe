#pragma once
#include "common/Dialog_win.h"

#include <array>
#include <optional>

namespace lumora {

// The About box: title, version, company and copyright from the program's own
// record, and a button that starts the system-information tool.
class SFrm_About : public Dialog<SFrm_About> {
public:
    SFrm_About();

private:
    friend Dialog<SFrm_About>;
    void CreateControls();
    std::array<ControlPlace, 8> Controls() const;
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM wp, LPARAM lp);

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void PaintLines(HDC dc);

    HWND picIcon_ = nullptr;
    HWND lblTitle_ = nullptr;
    HWND lblVersion_ = nullptr;
    HWND lblCompanyName_ = nullptr;
    HWND lblLegalCopyright_ = nullptr;
    HWND cmdOK_ = nullptr;
    HWND cmdSysInfo_ = nullptr;
    HWND lblDisclaimer_ = nullptr;
};

}  // namespace lumora

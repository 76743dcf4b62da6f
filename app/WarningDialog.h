// The confirmation shown before a run once the user has browsed for the file: it names
// the drive and its revision and warns about replacing firmware.
#pragma once

#include <string>

#include "controls/ColorLabel.h"
#include "framework/Dialog.h"

namespace telvio {

class WarningDialog : public Dialog {
  public:
    // The drive as the drive box names it, and the revision the revision label shows.
    WarningDialog(std::string model, std::string revision);

    const std::string& ModelText() const { return modelText; }
    const std::string& RevisionText() const { return revisionText; }

  protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  private:
    ColorLabel question;       // 1026
    ColorLabel warningList;    // 1023
    ColorLabel revisionValue;  // 1022
    ColorLabel greeting;       // 1018
    ColorLabel warningNote;    // 1025
    ColorLabel firmwareWords;  // 1021
    ColorLabel versionWords;   // 1019
    ColorLabel modelValue;     // 1020
    std::string modelText;
    std::string revisionText;
};

}  // namespace telvio

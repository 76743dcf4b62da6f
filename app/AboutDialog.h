// The about box of the system menu: icon, one line, OK.
#pragma once

#include "Dialog.h"
#include "resource.h"

namespace telvio {

class AboutDialog : public Dialog {
  public:
    AboutDialog() : Dialog(IDD_ABOUTBOX) {}
};

}  // namespace telvio

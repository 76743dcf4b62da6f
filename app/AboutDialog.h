// The about box of the system menu: icon, one line, OK.
#pragma once

#include "framework/Dialog.h"
#include "resources/resource.h"

namespace telvio {

class AboutDialog : public Dialog {
  public:
    AboutDialog() : Dialog(IDD_ABOUTBOX) {}
};

}  // namespace telvio

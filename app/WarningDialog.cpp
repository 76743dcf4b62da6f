#include "app/WarningDialog.h"

#include <utility>

#include "controls/SystemLook.h"
#include "resources/resource.h"

namespace telvio {

namespace {

constexpr char kFace[] = "Times New Roman";
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

constexpr char kGreeting[] = "Dear customer,\n \nThank you for choosing this products!";
constexpr char kVersionWords[] = "The current version of your";
constexpr char kFirmwareWords[] = "firmware is";
constexpr char kWarningList[] =
    "1. We advises to close any programs you are using before running this upgraded "
    "program.\n2. Please do not upgrade firmware unless you have been specifically "
    "instructed to do so!\n3. Failed firmware updates may render your drive inoperable.\n"
    "4. Korvane tools are exclusive to the single firmware which is not compatible with\n"
    "    miltiple F/W versions.";
constexpr char kWarningNote[] =
    "Do not upgrade firmware if the drive works normally!\nDo not install other versions of "
    "the firmware with this utility program!\nDo not use other versions of the upgraded "
    "program to install this\nversion of the firmware!";
constexpr char kQuestion[] =
    "Despite the above warning, do you still want to update your firmware ?";

}  // namespace

WarningDialog::WarningDialog(std::string model, std::string revision)
    : Dialog(IDD_WARNING), modelText(std::move(model)), revisionText(std::move(revision)) {}

void WarningDialog::DoDataExchange() {
    SetDlgItemTextA(GetHwnd(), IDC_MODEL_TEXT, modelText.c_str());
    SetDlgItemTextA(GetHwnd(), IDC_REVISION_TEXT, revisionText.c_str());

    BindControl(question, IDC_QUESTION);
    BindControl(warningList, IDC_WARNING_LIST);
    BindControl(revisionValue, IDC_REVISION_TEXT);
    BindControl(greeting, IDC_GREETING);
    BindControl(warningNote, IDC_WARNING_NOTE);
    BindControl(firmwareWords, IDC_FIRMWARE_WORDS);
    BindControl(versionWords, IDC_VERSION_WORDS);
    BindControl(modelValue, IDC_MODEL_TEXT);
}

BOOL WarningDialog::OnInitDialog() {
    versionWords.SetText(kVersionWords).SetFontHeight(16).SetFontName(kFace);
    firmwareWords.SetText(kFirmwareWords).SetFontHeight(16).SetFontName(kFace);
    greeting.SetText(kGreeting).SetFontName(kFace).SetFontHeight(16);
    modelValue.SetText(modelText).SetTextColor(kBlue).SetFontHeight(12).SetFontBold(1).SetFontName(
        kFace);
    revisionValue.SetText(revisionText)
        .SetTextColor(kBlue)
        .SetFontHeight(12)
        .SetFontBold(1)
        .SetFontName(kFace);
    warningList.SetText(kWarningList).SetFontHeight(16).SetFontName(kFace);
    warningNote.SetText(kWarningNote).SetFontBold(1).SetTextColor(kRed).SetFontName(kFace).SetFontHeight(
        14);
    question.SetText(kQuestion).SetFontHeight(16).SetFontName(kFace);
    return TRUE;
}

std::optional<LRESULT> WarningDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Only the dialog hears of a new colour scheme or high contrast; its labels follow.
    if (msg == WM_SYSCOLORCHANGE || msg == WM_SETTINGCHANGE) {
        SystemLook::PassToChildren(GetHwnd(), msg, wParam, lParam);
    }
    return Dialog::OnMessage(msg, wParam, lParam);
}

}  // namespace telvio

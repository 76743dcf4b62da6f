// The steps of the scripted user (ScriptedUser.cpp lists them).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace user {

struct Session {
    HANDLE process = nullptr;     // the program started by `launch`, if any
    std::vector<HANDLE> earlier;  // programs an earlier `launch` started
    DWORD pid = 0;                // the program whose windows the steps look at
    LARGE_INTEGER launchedAt{};
    HWND main = nullptr;
    HWND dialog = nullptr;  // the current dialog of the dialog-* steps
};

// Splits a step into words; double quotes group words with blanks (no escapes, so
// Windows paths pass unchanged).
std::vector<std::string> Tokenize(const std::string& line);

// Runs one step; false with `error` set when it fails.
bool RunStep(Session& session, const std::string& line, std::string& error);

// Window helpers shared with the screenshot code.
std::string TextOf(HWND window);
bool SaveWindowBitmap(HWND window, const std::string& path, std::string& error);

}  // namespace user

// The scripted user: drives the program through its real windows, the way a person would,
// for the demo and the end-to-end tests. It runs as a separate process in the same Wine
// session, finds the windows by caption and the controls by id, and performs one step per
// command-line argument (or per line of a file given with -f):
//
//   launch PATH                     start a program; later steps measure time from here
//                                   and look only at its windows
//   launch-as VERSION PATH          the same, with Wine reporting VERSION (win98, nt40,
//                                   winxp) to it
//   attach [MS]                     wait for the main window (caption "KORVANE" with 1015)
//   wait-drives N [MS]              until the drive box lists N entries; prints the time
//   wait-window CAPTION [MS]        until a window with that caption shows; prints the time
//   type ID TEXT                    types TEXT into an empty edit (or the drive box's field)
//   pick ID TEXT                    chooses TEXT in the drive box's list, as a mouse pick would
//   click ID                        presses an enabled button (fails when it is disabled)
//   force-click ID                  sends the button a click even when disabled
//   key esc|enter|altf4             a key stroke to the main window's focused control
//   syscommand close|about          the system-menu item
//   close-message                   WM_CLOSE to the main window
//   query-end-session 0|1           asks whether Windows may shut down; expects the answer
//   query-suspend 0|1               asks whether the machine may suspend; expects the answer
//   expect-enabled ID 0|1           checks a main-window control's state
//   expect-text ID TEXT             checks a main-window control's text
//   wait-enabled ID 0|1 [MS]        waits for a state
//   wait-text ID SUBSTRING [MS]     waits until a control's text holds SUBSTRING
//   wait-run [MS]                   until the log holds a verdict and Close is enabled
//   read ID / read-list ID / read-log / dump
//   msgbox CAPTION TEXT ok|cancel|yes|no [MS]   expects a message box of the program and
//                                       answers it; TEXT "@FILE" is the text in FILE
//   no-window CAPTION [MS]          expects that no such window appears within MS
//   dialog CAPTION [MS]             waits for a dialog and makes it current
//   dialog-read ID                  prints a control text of the current dialog
//   dialog-answer ok|cancel|esc|enter|close   closes the current dialog by that route
//   browse PATH|cancel              Browser..., then types PATH into the file dialog or cancels
//   reader [dialog] ID              asks a main-window control (or the current dialog's) for
//                                   its accessible object as a screen reader does; prints
//                                   "[reader:ID] role=N name" ("[reader:dialog:ID] ...")
//   taskbar-created                 the taskbar's "TaskbarButtonCreated" to the main window
//   screenshot main|dialog FILE     saves the window as a 24-bit BMP
//   sleep MS
//   wait-exit [MS]                  until the main window has gone
//   end-program                     ends every program the steps launched that still runs
//
// Output lines: "[ID] text" for reads, "msgbox caption=... text=... buttons=..." for
// message boxes. The first failing step ends the program with exit code 1 and a message.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/scripted-user/UserSteps.h"

int main(int argc, char** argv) {
    std::vector<std::string> lines;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-f" && i + 1 < argc) {
            FILE* f = std::fopen(argv[++i], "r");
            if (!f) {
                std::fprintf(stderr, "scripted-user: cannot read %s\n", argv[i]);
                return 2;
            }
            char buf[2048];
            while (std::fgets(buf, sizeof buf, f)) {
                std::string line(buf);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                    line.pop_back();
                }
                if (!line.empty() && line[0] != '#') lines.push_back(line);
            }
            std::fclose(f);
        } else {
            lines.push_back(argv[i]);
        }
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    user::Session session;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string error;
        if (!user::RunStep(session, lines[n], error)) {
            std::fprintf(stderr, "scripted-user: step %u (%s): %s\n", unsigned(n + 1),
                         lines[n].c_str(), error.c_str());
            return 1;
        }
    }
    return 0;
}

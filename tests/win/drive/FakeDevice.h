// An in-process stand-in for the device calls (drive/DeviceCalls.h), for the tests that
// need the exact bytes of a request block or a reply the platform would never build.
// Installs itself on construction and puts the system's calls back on destruction.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "drive/DeviceCalls.h"

namespace telvio::test {

struct IoCall {
    HANDLE handle;
    DWORD code;
    DWORD inSize;
    DWORD outSize;
    bool inIsOut;                   // input and output are the same buffer
    std::vector<uint8_t> inBytes;   // the input buffer as the call saw it
};

class FakeDevice {
public:
    // Answers one control call: gets the call and the output buffer, returns the BOOL.
    using Handler = std::function<BOOL(const IoCall&, void* out, DWORD outSize)>;

    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // Letters that open; each open hands out a fresh handle.
    void AddLetter(char letter) { letters_[letter] = true; }
    // A device interface's path: its handles reach the letter's device.
    void AddPath(const std::string& path, char letter) { paths_[path] = letter; }
    void SetHandler(DWORD code, Handler handler) { handlers_[code] = std::move(handler); }

    // The letter a handle was opened for, 0 for an unknown handle.
    char LetterOf(HANDLE h) const;
    HANDLE HandleFor(char letter) const;  // the last handle opened for the letter

    std::vector<std::string> opened;      // paths CreateFileA was asked for, in order
    std::vector<IoCall> calls;
    std::map<HANDLE, int> closes;         // close count per handle
    std::vector<HANDLE> handles;          // every handle handed out
    // Every open that gave a handle ('o', its access), control call ('i', its code) and
    // close ('c'), in order.
    struct Step {
        char kind;
        HANDLE handle;
        DWORD what;
    };
    std::vector<Step> steps;
    DWORD lastAccess = 0, lastShare = 0, lastDisposition = 0, lastFlags = 0;
    std::map<HANDLE, std::pair<std::string, DWORD>> opens;  // path and access per handle
    // SetupDi lists these CD-ROM interfaces (none, as under Wine), refusing what the system
    // refuses; GetVolumeInformationA tells whether a file system reads the disc.
    std::vector<std::string> interfaces;
    int openLists = 0;  // device information lists not destroyed
    bool volumeReadable = false;
    std::vector<std::string> volumeRoots;

private:
    static HANDLE WINAPI Create(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    static BOOL WINAPI Control(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static BOOL WINAPI Close(HANDLE);

    std::map<char, bool> letters_;
    std::map<std::string, char> paths_;
    std::map<DWORD, Handler> handlers_;
    std::map<HANDLE, char> handleLetter_;
    uintptr_t nextHandle_ = 0x1000;
    DeviceCalls saved_;
};

}  // namespace telvio::test

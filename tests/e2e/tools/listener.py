#!/usr/bin/env python3
"""A stand-in for a network printer (port 9100 style) on the loopback
address: every connection's bytes are kept as one file, job-001.bin,
job-002.bin, ... in the folder given, in the order the jobs arrived.

    listener.py FOLDER [SECONDS]

Listens on 127.0.0.1 and a free port, writes the port number to
FOLDER/port, and ends by itself after SECONDS (600 by default)."""
import os
import socket
import sys
import time

folder = sys.argv[1]
deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 600.0)
os.makedirs(folder, exist_ok=True)
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(4)
with open(os.path.join(folder, "port.part"), "w") as f:
    f.write(str(server.getsockname()[1]))
os.rename(os.path.join(folder, "port.part"), os.path.join(folder, "port"))

count = 0
while time.monotonic() < deadline:
    server.settimeout(max(0.1, deadline - time.monotonic()))
    try:
        conn, _ = server.accept()
    except socket.timeout:
        break
    count += 1
    part = os.path.join(folder, "job-%03d.part" % count)
    conn.settimeout(60)
    with conn, open(part, "wb") as out:
        while True:
            try:
                data = conn.recv(65536)
            except socket.timeout:
                break
            if not data:
                break
            out.write(data)
    # Complete files only ever carry their final name.
    os.rename(part, os.path.join(folder, "job-%03d.bin" % count))

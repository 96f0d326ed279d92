#!/usr/bin/env python3
"""A broker that misbehaves on purpose, on 127.0.0.1:PORT, for the link's
tests. It prints one line per event (accepted, publish) and flushes.
  flap   answers CONNECT, then closes each connection after 1 s
  noack  answers CONNECT and PINGREQ, never acknowledges a PUBLISH
  drop   listens with a full backlog and never accepts: connections hang
         as behind a firewall that drops their packets
usage: fake_broker.py PORT MODE"""
import socket
import sys
import threading
import time

port, mode = int(sys.argv[1]), sys.argv[2]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", port))


def say(text):
    print(text, flush=True)


if mode == "drop":
    server.listen(0)
    # Fill the accept queue; further SYNs are dropped by the kernel.
    fillers = []
    for _ in range(3):
        c = socket.socket()
        c.setblocking(False)
        try:
            c.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        fillers.append(c)
    say("ready")
    time.sleep(3600)


def packets(conn):
    buffer = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return
        buffer += chunk
        while len(buffer) >= 2:
            length, shift, i = 0, 0, 1
            while i < len(buffer) and buffer[i] & 0x80:
                length |= (buffer[i] & 0x7F) << shift
                shift += 7
                i += 1
            if i >= len(buffer):
                break
            length |= buffer[i] << shift
            end = i + 1 + length
            if len(buffer) < end:
                break
            yield buffer[0], buffer[i + 1:end]
            buffer = buffer[end:]


def serve(conn):
    with conn:
        if mode == "flap":
            threading.Timer(1.0, lambda: conn.shutdown(socket.SHUT_RDWR)).start()
        try:
            for kind, _body in packets(conn):
                if kind >> 4 == 1:
                    conn.sendall(b"\x20\x02\x00\x00")
                elif kind >> 4 == 3:
                    say("publish")
                elif kind >> 4 == 12:
                    conn.sendall(b"\xd0\x00")
        except (socket.timeout, OSError):
            pass


server.listen(16)
say("ready")
while True:
    conn, _ = server.accept()
    say("accepted")
    threading.Thread(target=serve, args=(conn,), daemon=True).start()

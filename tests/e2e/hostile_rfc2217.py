#!/usr/bin/env python3
"""RFC 2217 servers that misbehave, for the tests: hostile_rfc2217.py MODE PORT_FILE.

ignore   reports the line when asked, ignores every change
late     confirms each change 1.9 s late
slow     reports the line 1.9 s late, ignores changes, keeps its end open after the close
parity9  reports parity 9, then never answers about parity
silent   accepts and never says a word (no RFC 2217 server at all)
"""
import socket, sys, threading, time

IAC, SB, SE = 255, 250, 240
mode, port_file = sys.argv[1], sys.argv[2]
LINE = {1: b"\x00\x00\x25\x80", 2: b"\x08", 3: b"\x01", 4: b"\x01"}  # 9600 8N1


def serve(conn):
    lock = threading.Lock()

    def report(command, value, delay=0.0):
        def send():
            with lock:
                try:
                    conn.sendall(bytes([IAC, SB, 44, command + 100]) + value + bytes([IAC, SE]))
                except OSError:
                    pass
        threading.Timer(delay, send).start() if delay else send()

    buf = b""
    while mode != "silent" and (data := conn.recv(4096)):
        buf += data
        while (start := buf.find(bytes([IAC, SB]))) >= 0 and (end := buf.find(bytes([IAC, SE]), start)) >= 0:
            body, buf = buf[start + 2:end], buf[end + 2:]
            if len(body) < 3 or body[0] != 44 or body[1] not in LINE:
                continue
            command, value = body[1], body[2:]
            asking = not any(value)
            if command == 3 and mode == "parity9":
                if asking:
                    report(3, b"\x09")
            elif asking:
                report(command, LINE[command], 1.9 if mode == "slow" else 0)
            elif mode == "late":
                report(command, value, 1.9)
    if mode in ("slow", "silent"):
        time.sleep(30)
    conn.close()


server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(16)
with open(port_file + ".new", "w") as f:
    f.write(str(server.getsockname()[1]))
__import__("os").rename(port_file + ".new", port_file)
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()

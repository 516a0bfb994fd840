#!/usr/bin/env python3
"""RFC 2217 servers that misbehave, each keeping its end open after the close: hostile_rfc2217.py
MODE PORT_FILE. ignore: reports the line, ignores changes; slow: reports 1.9 s late, ignores
changes; parity9: reports parity 9, never answers about parity; silent."""
import os, socket, sys, threading, time

mode, port_file = sys.argv[1:3]
LINE = {1: b"\x00\x00\x25\x80", 2: b"\x08", 3: b"\x01", 4: b"\x01"}  # 9600 8N1


def serve(conn):
    def report(command, value, delay=0.0):
        packet = b"\xff\xfa\x2c" + bytes([command + 100]) + value + b"\xff\xf0"
        threading.Timer(delay, lambda: conn.send(packet)).start()

    buf = b""
    while mode != "silent" and (data := conn.recv(4096)):
        buf += data
        while (start := buf.find(b"\xff\xfa")) >= 0 and (end := buf.find(b"\xff\xf0", start)) >= 0:
            body, buf = buf[start + 2:end], buf[end + 2:]
            if len(body) < 3 or body[0] != 44 or body[1] not in LINE:
                continue
            command, asking = body[1], not any(body[2:])
            asking or open(port_file + ".change", "w").close()  # rxmon awaits its confirmation
            if command == 3 and mode == "parity9":
                asking and report(3, b"\x09")
            elif asking:
                report(command, LINE[command], 1.9 if mode == "slow" else 0)
    time.sleep(30)
    conn.close()


server = socket.create_server(("127.0.0.1", 0))
open(port_file + ".new", "w").write(str(server.getsockname()[1]))
os.rename(port_file + ".new", port_file)
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()

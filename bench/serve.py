#!/usr/bin/env python3
"""What --serve costs and how fast it tells, against rxmon-sim at 115200 baud
(sweeping signal, so every pass is a change), rxmon in tmux:
  latency   a change at the simulator to an event reader: median and worst
            of 100 (the simulator's log, read through a pipe, gives its
            clock; the reply's time is when its line was logged)
  readers   32 event readers against none: passes/s, ms a pass, CPU, RSS
  both      32 event readers and 8 rigctl clients polling f and l STRENGTH
            at 10 Hz, against no option, in turns (three of each)
  stuck     one reader that never reads, held SECONDS: passes/s against none
  churn     10,000 connections opened and closed: descriptors and RSS
    bench/serve.py [BUILD DIR, default build] [SECONDS a run, default 20] [PARTS...]"""
import os, re, shutil, socket, statistics, subprocess, sys, tempfile, threading, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
parts = sys.argv[3:] or ["latency", "readers", "both", "stuck", "churn"]
work = tempfile.mkdtemp(prefix="rxmon-bench-serve-")
tmux = ["tmux", "-L", "rxmon-bench-serve-%d" % os.getpid()]
hz = os.sysconf("SC_CLK_TCK")


class Sim:
    """rxmon-sim with its log on a pipe: each line stamped on arrival."""
    def __init__(self):
        path = work + "/sim.path"
        self.proc = subprocess.Popen([build + "/sim/rxmon-sim", "--baud", "115200", "--path-file", path, "--log"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.lines, self.offset = [], float("inf")
        threading.Thread(target=self.read, daemon=True).start()
        while not os.path.exists(path) or not open(path).read().strip(): time.sleep(0.02)
        self.path = open(path).read().strip()

    def read(self):
        for line in self.proc.stderr:
            now = time.monotonic()
            m = re.match(r"\s*([0-9.]+) (\S+) (.*)", line)
            if not m: continue
            t = float(m.group(1))
            # The line least delayed by the pipe tells the simulator's clock.
            self.offset = min(self.offset, now - t)
            self.lines.append((t, m.group(2), m.group(3)))

    def sig_replies(self):
        return [(t + self.offset, int(m.group(1))) for t, d, text in list(self.lines)
                if d == "->" and (m := re.match(r"SIG,(\d+)", text))]

    def stop(self):
        self.proc.terminate(); self.proc.wait()


def start_rxmon(sim, *options):
    subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)
    command = "exec env RXMON_COM1=%s %s/rxmon %s 1 0" % (sim.path, build, " ".join(options))
    subprocess.run(tmux + ["new-session", "-d", "-x", "80", "-y", "25", command], check=True)
    time.sleep(0.3)
    pid = int(subprocess.run(tmux + ["display", "-p", "#{pane_pid}"], capture_output=True, text=True).stdout)
    until(lambda: "scanner answers" in screen(), 10)
    return pid


def screen():
    return subprocess.run(tmux + ["capture-pane", "-p"], capture_output=True, text=True).stdout


def until(test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test(): return True
        time.sleep(0.05)
    raise SystemExit("timed out")


def stop_rxmon():
    subprocess.run(tmux + ["send-keys", "Escape"]); time.sleep(0.5)
    subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)


def cpu(pid):
    f = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(f[11]) + int(f[12])) / hz


def rss_mib(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", open("/proc/%d/status" % pid).read()).group(1)) / 1024


def free_port():
    s = socket.socket(); s.bind(("127.0.0.1", 0)); return s.getsockname()[1]


def reader(port, small=False):
    s = socket.socket()
    if small: s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    s.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
    return s


def measure(sim, pid, seconds):
    """Passes a second, ms a pass, CPU % of a core and RSS over SECONDS."""
    n0, c0, t0 = len(sim.sig_replies()), cpu(pid), time.monotonic()
    time.sleep(seconds)
    n, c, t = len(sim.sig_replies()) - n0, cpu(pid) - c0, time.monotonic() - t0
    return n / t, 1000 * t / n, 100 * c / t, rss_mib(pid)


def row(name, m):
    print("| %s | %.1f | %.2f | %.1f | %.1f |" % ((name,) + m), flush=True)


sim = Sim()
try:
    if "latency" in parts:
        port = free_port()
        start_rxmon(sim, "--serve", str(port))
        s = reader(port)
        f = s.makefile("rb")
        events = []
        while len(events) < 102:
            line = f.readline()
            if line.startswith(b"data: "):
                events.append((time.monotonic(), int(re.search(rb'"signal":(\d+|null)', line).group(1) or -1)))
        time.sleep(0.2)
        replies = sim.sig_replies()
        delays = []
        for arrived, signal in events[2:]:
            sent = [t for t, v in replies if v == signal and t <= arrived]
            if sent: delays.append(1000 * (arrived - sent[-1]))
        passes = [b - a for (a, _), (b, _) in zip(events[2:], events[3:])]
        print("latency, %d changes: median %.2f ms, worst %.2f ms (a pass: median %.2f ms)" %
              (len(delays), statistics.median(delays), max(delays), 1000 * statistics.median(passes)), flush=True)
        s.close()
        stop_rxmon()
    if "readers" in parts:
        print("| run | passes/s | ms/pass | CPU % of a core | RSS MiB |\n|---|---|---|---|---|")
        for turn in range(2):
            pid = start_rxmon(sim); row("without --serve", measure(sim, pid, seconds)); stop_rxmon()
            port = free_port()
            pid = start_rxmon(sim, "--serve", str(port))
            readers = [reader(port) for _ in range(32)]
            stop_reading = threading.Event()
            def drain(s):
                while not stop_reading.is_set() and s.recv(65536): pass
            for r in readers: threading.Thread(target=drain, args=(r,), daemon=True).start()
            row("--serve, 32 event readers", measure(sim, pid, seconds))
            stop_reading.set(); stop_rxmon()
            for r in readers: r.close()
    if "both" in parts:
        print("| run | passes/s | ms/pass | CPU % of a core | RSS MiB |\n|---|---|---|---|---|")
        for turn in range(3):
            pid = start_rxmon(sim); row("no option", measure(sim, pid, seconds)); stop_rxmon()
            port, rig_port = free_port(), free_port()
            pid = start_rxmon(sim, "--serve", str(port), "--rigctl", str(rig_port))
            readers = [reader(port) for _ in range(32)]
            stop = threading.Event()
            def drain(s):
                while not stop.is_set() and s.recv(65536): pass
            def poll():
                c = socket.create_connection(("127.0.0.1", rig_port)); f = c.makefile("rb")
                while not stop.is_set():
                    c.sendall(b"f\nl STRENGTH\n"); f.readline(); f.readline(); time.sleep(0.1)
                c.close()
            for r in readers: threading.Thread(target=drain, args=(r,), daemon=True).start()
            for _ in range(8): threading.Thread(target=poll, daemon=True).start()
            row("--serve and --rigctl, 32 readers, 8 clients", measure(sim, pid, seconds))
            stop.set(); stop_rxmon()
            for r in readers: r.close()
    if "stuck" in parts:
        print("| run | passes/s | ms/pass | CPU % of a core | RSS MiB |\n|---|---|---|---|---|")
        port = free_port()
        pid = start_rxmon(sim, "--serve", str(port))
        for turn in range(2):
            row("--serve, no reader", measure(sim, pid, seconds))
            stuck, t0 = reader(port, small=True), time.monotonic()
            dropped = []
            def watch():
                while not dropped and time.monotonic() - t0 < seconds:
                    if stuck.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)[0] != 1:
                        dropped.append(time.monotonic() - t0)
                    time.sleep(0.1)
            threading.Thread(target=watch, daemon=True).start()
            row("--serve, one reader that never reads", measure(sim, pid, seconds))
            print("(the reader was %s)" % ("dropped after %.1f s" % dropped[0] if dropped else "not dropped"))
            stuck.close()
        stop_rxmon()
    if "churn" in parts:
        port = free_port()
        pid = start_rxmon(sim, "--serve", str(port))
        fds = lambda: len(os.listdir("/proc/%d/fd" % pid))
        request = b"GET /now HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n" % port
        for _ in range(200): socket.create_connection(("127.0.0.1", port)).close()
        time.sleep(1)
        before = (fds(), rss_mib(pid))
        t0 = time.monotonic()
        for i in range(10000):
            s = socket.create_connection(("127.0.0.1", port))
            if i % 2: s.sendall(request); s.recv(4096)
            s.close()
        took = time.monotonic() - t0
        time.sleep(1)
        after = (fds(), rss_mib(pid))
        print("churn: 10,000 connections (every other one a /now) in %.1f s; descriptors %d -> %d, RSS %.1f -> %.1f MiB"
              % ((took,) + before[:1] + after[:1] + before[1:] + after[1:]))
        stop_rxmon()
finally:
    sim.stop()
    subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)

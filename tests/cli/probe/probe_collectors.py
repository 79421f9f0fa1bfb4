#!/usr/bin/env python3
"""quillon-probe against small collectors of known behaviour on loopback:
a file rotated under it, files that never end, outputs it cannot write, a
stop signal, collectors started by --watch-command that end early, detach,
leave a child that ignores SIGTERM or outlive a killed probe, a daemon
left by a probe killed outright, a receiver bound to one address, relays
that duplicate messages or rewrite their stamps' times, and soaks on a
relay whose memory grows on purpose and on a steady one. One case a run,
so ctest runs them side by side.

Usage: probe_collectors.py PATH-TO-quillon-probe CASE
"""
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = sys.argv[1]
WRITER = os.path.join(HERE, "rotating_writer.py")
RELAY = os.path.join(HERE, "growing_relay.py")
RATE_RELAY = os.path.join(HERE, "..", "..", "support", "rate_relay.py")
work = tempfile.mkdtemp(prefix="probe-collectors-")
started = []
# Pid files of daemons a failed case may leave, ended at the end.
daemon_pid_files = []


def check(condition, what, *shown):
    if not condition:
        print("FAIL:", what)
        for text in shown:
            print(text)
        sys.exit(1)
    print("PASS:", what)


def free_port(kind=socket.SOCK_DGRAM, host="127.0.0.1"):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, kind) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def run_probe(*args, timeout=60, env=None):
    done = subprocess.run([PROBE, *map(str, args)], capture_output=True, text=True, timeout=timeout, env=env)
    lines = done.stdout.strip().splitlines()
    doc = json.loads(lines[-1]) if lines and lines[-1].startswith("{") else None
    return done.returncode, done.stdout, done.stderr, doc


def start_probe(*args, env=None):
    return subprocess.Popen([PROBE, *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=env)


def await_line(process, text, seconds=30):
    """Reads the probe's standard error until a whole line holds text; returns
    what was read. Unbuffered, so nothing read waits in a buffer while select
    waits for more."""
    seen = ""
    fd = process.stderr.fileno()
    deadline = time.monotonic() + seconds
    while text not in seen[:seen.rfind("\n") + 1] and time.monotonic() < deadline:
        if select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            seen += chunk.decode(errors="replace")
    return seen


def start_collector(*args):
    collector = subprocess.Popen([sys.executable, *map(str, args)], stdout=subprocess.PIPE, text=True)
    started.append(collector)
    line = collector.stdout.readline()
    check("listening on" in line, f"{os.path.basename(args[0])} started")
    collector.port = int(line.split()[-1])
    return collector


def pid_from(path):
    with open(path) as f:
        return int(f.read())


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except FileNotFoundError:
        return False


def ended_within(pid, seconds):
    try:
        ended = os.pidfd_open(pid)
    except ProcessLookupError:
        return True
    try:
        select.select([ended], [], [], seconds)
    finally:
        os.close(ended)
    return not alive(pid)


def relay_command(port, forward, *more):
    return " ".join([sys.executable, RELAY, str(port), str(forward), *map(str, more)])


def short_steps(*more):
    return ["--start-rate", "200", "--max-rate", "400", "--step-seconds", "0.5", "--drain-seconds", "0.3", *more]


def case_rotation():
    # A rename and re-create, and a cut in place, while the steps send:
    # each step's lines are found. A cut loses what was written
    # between the last read and the cut, as for any reader, hence the
    # allowance there.
    for mode, every, max_loss in (("rename", 700, "0"), ("truncate", 1000, "0.02")):
        path = os.path.join(work, f"{mode}.log")
        port = free_port()
        writer = start_collector(WRITER, port, path, every, mode)
        code, _, err, doc = run_probe("--target", "127.0.0.1", "--port", port, "--receive", "file:" + path,
                                      "--start-rate", "500", "--max-rate", "2000", "--step-seconds", "1",
                                      "--drain-seconds", "0.5", "--max-loss", max_loss, "--json")
        writer.kill()
        # Loss is the follower's to answer for; latency on a loaded machine
        # may fail a step of its own accord, so the verdicts are not.
        allowed = float(max_loss)
        check(code == 0 and doc and doc["steps"] and
              all(st["lost"] <= allowed * st["sent"] and st["received"] + st["lost"] >= st["sent"]
                  for st in doc["steps"]),
              f"{mode}: the follower finds every step's lines through the rotations", err)
    check(os.path.exists(os.path.join(work, "rename.log.4")), "the file was renamed away each 700 lines")


def case_refused():
    fifo = os.path.join(work, "fifo")
    os.mkfifo(fifo)
    for path, kind in (("/dev/zero", "a character device"), (fifo, "a FIFO"), (work, "a folder")):
        code, _, err, _ = run_probe("--target", "127.0.0.1", "--port", free_port(), "--receive", "file:" + path,
                                    timeout=20)
        check(code == 2 and kind in err, f"--receive file:{path} is refused as {kind}", err)
    port = free_port(socket.SOCK_STREAM)
    for flag in ("--report", "--stats-file"):
        for path, why in (("/nonexistent-folder/out", "does not exist"), ("/etc/passwd/out", "is not a folder")):
            code, _, err, _ = run_probe("--target", "127.0.0.1", "--port", port, "--transport", "tcp", "--receive",
                                        f"tcp:{port}", *short_steps(), flag, path, timeout=20)
            check(code == 2 and why in err and "step 1" not in err, f"{flag} {path} refused before the first step",
                  err)


def case_stop_signal():
    # SIGTERM while the collector starts, while a file is followed and in a
    # soak: each time the JSON and the report are written and the collector
    # the probe started is stopped.
    path = os.path.join(work, "collector.log")
    port, forward = free_port(), free_port()
    for where, when, args in (
            ("waiting for the collector", "started", ["--receive", f"udp:{forward}", "--watch-command", "sleep 600"]),
            ("following a file", "step 1:", ["--receive", "file:" + path, "--step-seconds", "1", "--watch-command",
                                             f"{sys.executable} {WRITER} {port} {path} 100000 rename"]),
            ("in a soak", "soak 2/", ["--receive", f"udp:{forward}", "--soak-rate", "200", "--soak", "60",
                                      "--watch-command", relay_command(port, forward)])):
        report = os.path.join(work, "report.html")
        probe = start_probe("--target", "127.0.0.1", "--port", port, "--drain-seconds", "0.5", "--json", "--report",
                            report, *args)
        seen = await_line(probe, when)
        probe.send_signal(signal.SIGTERM)
        out, err = probe.communicate(timeout=30)
        doc = json.loads(out.strip().splitlines()[-1])
        check(probe.returncode == 1 and "stopped by a signal" in doc["error"],
              f"SIGTERM {where} ends the probe with its result", seen + err)
        with open(report) as f:
            check("<html" in f.read(), "the report is written")
        pid = int(seen.split("as process ")[1].split()[0])
        check(ended_within(pid, 10) and "killed after" not in err, "the collector it started ends on SIGTERM", err)
        os.remove(report)


def case_group():
    # The command's first process ends at once; the relay it left in its
    # group ignores SIGTERM, so it is killed at the end.
    port, forward = free_port(), free_port()
    pid_file = os.path.join(work, "relay.pid")
    relay = relay_command(port, forward, "--pid-file", pid_file)
    code, _, err, doc = run_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}",
                                  *short_steps(), "--json", "--watch-command",
                                  f"sh -c '(trap \"\" TERM; exec {relay}) & exit 0'")
    pid = pid_from(pid_file)
    check(doc and doc["steps"] and any(s["received"] > 0 for s in doc["steps"]),
          "the relay the command left is probed", err)
    check({s["pid"] for s in doc["watch_samples"]} == {pid}, "and watched", err)
    check("killed after 5 s" in err and ended_within(pid, 5), "and killed though its first process had ended", err)


def case_probe_killed():
    port, forward = free_port(), free_port()
    probe = start_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}", "--step-seconds", "5",
                        "--watch-command", relay_command(port, forward))
    seen = await_line(probe, "started")
    pid = int(seen.split("as process ")[1].split()[0])
    probe.kill()
    probe.wait()
    check(ended_within(pid, 10), "the collector dies with a probe killed outright", seen)


def case_early_exit():
    # A collector that fails at once is reported at once, long before
    # --connect-timeout, with its exit status.
    code, _, err, _ = run_probe("--target", "127.0.0.1", "--port", free_port(), "--receive", f"udp:{free_port()}",
                                "--connect-timeout", "120", "--watch-command", "sh -c 'exit 3'", timeout=30)
    check(code == 1 and "exited with status 3" in err and "step 1" not in err,
          "a command that ends before its port is bound is reported with its status", err)


def case_detached():
    port, forward = free_port(), free_port()
    pid_file = os.path.join(work, "daemon.pid")
    code, out, err, doc = run_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}",
                                    *short_steps(), "--json", "--watch-command",
                                    relay_command(port, forward, "--detach", "--pid-file", pid_file),
                                    env=dict(os.environ, XDG_RUNTIME_DIR=work))
    pid = pid_from(pid_file)
    check(doc and doc["steps"] and any(s["received"] > 0 for s in doc["steps"]),
          "a daemon that forked twice is probed", err)
    check(doc["detached"]["pids"] == [pid] and f"process {pid} (python3) listening on UDP port {port}" in
          doc["detached"]["note"], "the result names the process found on the port", out)
    check({s["pid"] for s in doc["watch_samples"]} == {pid}, "and watches it", out)
    check(ended_within(pid, 5), "and stops it at the end", err)
    records = os.listdir(os.path.join(work, "quillon-probe"))
    check(records == [], "and removes the record of what it started", records)


def case_leftovers():
    # A command whose shell leaves a daemon (forked twice, a session of its
    # own) and a probe killed outright: --cleanup, or the next run, ends
    # the daemon, through the probe's cgroup where one can be made and the
    # list of its processes where not.
    for cgroup, by in (("off", "--cleanup"), ("on", "the next run")):
        env = dict(os.environ, XDG_RUNTIME_DIR=work, QUILLON_PROBE_CGROUP=cgroup)
        port, forward = free_port(), free_port()
        pid_file = os.path.join(work, f"daemon-{cgroup}.pid")
        daemon_pid_files.append(pid_file)
        relay = relay_command(port, forward, "--detach", "--pid-file", pid_file)
        probe = start_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}", "--step-seconds",
                            "60", "--watch-command", f"sh -c '{relay}; exec sleep 600'", env=env)
        seen = await_line(probe, "--cleanup ends it")
        probe.kill()
        probe.wait()
        record = re.search(r" in (\S+\.run) \(", seen)
        check(record and os.path.exists(pid_file), f"cgroup {cgroup}: the probe names its record", seen)
        daemon = pid_from(pid_file)
        check(alive(daemon), f"cgroup {cgroup}: the daemon outlives the killed probe", seen)
        if by == "--cleanup":
            code, _, err, _ = run_probe("--cleanup", record.group(1), env=env, timeout=30)
            check(code == 0 and "ended " in err, "--cleanup ends what is left", err)
        else:
            code, _, err, _ = run_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}",
                                        "--watch-pid", "1073741823", env=env, timeout=30)
            check("ended " in err and record.group(1) in err, "the next run ends what is left", err)
        check(ended_within(daemon, 10), f"cgroup {cgroup}: the daemon is gone, ended by {by}", seen + err)
        check(not os.path.exists(record.group(1)), "and the record with it", err)


def case_tampered():
    # Relays that deliver every message twice, or move each stamp's time
    # 10 s on: the steps are not believed as they stand.
    for more, limit in ((["--duplicate"], []), (["--duplicate"], ["--max-duplicates", "1"]),
                        (["--shift-stamps", "10"], [])):
        forward = free_port()
        relay = start_collector(RATE_RELAY, 100000, forward, *more)
        args = ["--target", "127.0.0.1", "--port", relay.port, "--receive", f"udp:{forward}", "--start-rate", "200",
                "--max-rate", "200", "--confirm", "0", "--step-seconds", "0.5", "--drain-seconds", "0.3", *limit]
        _, _, err, doc = run_probe(*args, "--json")
        step = doc["steps"][0]
        what = f"a relay {' '.join(more + limit)}"
        if limit:
            check(step["duplicates"] > 0 and step["verdict"] != "duplicates",
                  f"{what}: --max-duplicates 1 lets the duplicates through", err)
        elif more == ["--duplicate"]:
            check(step["verdict"] == "duplicates" and not step["held"] and doc["max_sustainable_mps"] == 0 and
                  "fails (duplicates " in err, f"{what}: its steps fail by duplicates", err)
        else:
            check(step["received"] > 0 and step["stamps_rewritten"] == step["received"] and
                  doc["confidence"] == "low" and "clock or stamp rewritten" in doc["confidence_reason"],
                  f"{what}: every message counted rewritten, confidence low", json.dumps(doc["steps"]))
            _, out, err, _ = run_probe(*args)
            check("Warning: " in out and "clock or stamp rewritten" in out, f"{what}: the summary warns", out)
        relay.kill()


def case_bind():
    for transport, host in (("tcp", "127.0.0.1"), ("udp", "::1")):
        port = free_port(socket.SOCK_STREAM if transport == "tcp" else socket.SOCK_DGRAM, host)
        where = f"[{host}]" if ":" in host else host
        code, _, err, doc = run_probe("--target", host, "--port", port, "--transport", transport, "--receive",
                                      f"{transport}:{where}:{port}", *short_steps(), "--json")
        check(doc and f"receiving on {transport}" in err and host in err and str(port) in err and
              any(s["received"] > 0 for s in doc["steps"]), f"--receive {transport}:{where}:PORT binds that address",
              err)


def case_soak():
    # The same relay, keeping 16 kB a message (about 17 GB an hour at 300
    # a second) and keeping nothing; the limit is generous, for the
    # start-up of a Python relay in a soak of seconds. A tenth of it is too
    # short for its p99 to be more than a busy machine's jitter, so the
    # steady one must not leak, and may still be said to degrade.
    for grow, verdicts in ((16, {"leaks"}), (0, {"holds", "degrades"})):
        port, forward = free_port(), free_port()
        code, out, err, doc = run_probe("--target", "127.0.0.1", "--port", port, "--receive", f"udp:{forward}",
                                        "--soak-rate", "300", "--soak", "4s", "--max-rss-growth", "1000",
                                        "--max-loss", "0.01", "--drain-seconds", "0.5", "--json", "--watch-command",
                                        relay_command(port, forward, "--grow", grow))
        soak = doc and doc["soak"]
        check(soak and soak["verdict"] in verdicts and code == (0 if soak["verdict"] == "holds" else 1) and
              doc["steps"] == [], f"a relay growing {grow} kB a message: {soak and soak['verdict']}, no search", err)
        slope = soak["rss_slope_mb_per_hour"]
        check((slope > 5000) if grow else (slope < 1000), f"its memory slope is {slope:.0f} MB/h", out)
        check(soak["rate"] == 300 and soak["sent"] > 0 and len(soak["p99_ms_per_minute"]) == 1 and
              soak["cpu_percent"] >= 0 and soak["reason"],
              "the soak's figures", json.dumps(soak))
    # After a search, 90% of the rate found; the stats file has each of its runs and then the soak.
    port = free_port(socket.SOCK_STREAM)
    stats = os.path.join(work, "stats.jsonl")
    code, out, err, doc = run_probe("--target", "127.0.0.1", "--port", port, "--transport", "tcp", "--receive",
                                    f"tcp:{port}", *short_steps(), "--soak", "2", "--json", "--stats-file", stats)
    check(doc["max_sustainable_mps"] > 0 and doc["soak"]["rate"] == round(0.9 * doc["max_sustainable_mps"]) and
          doc["soak"]["rss_slope_mb_per_hour"] is None and "memory not measured" in doc["soak"]["reason"],
          "a soak after the search holds 90% of its rate", err)
    with open(stats) as f:
        records = [json.loads(line) for line in f]
    runs = [r for r in records if "soak_run" in r]
    check([r["soak_run"] for r in runs] == list(range(1, 11)) and
          all(r["rate"] == doc["soak"]["rate"] and r["sent"] > 0 for r in runs)
          and records[-1].get("soak", {}).get("verdict") == doc["soak"]["verdict"],
          "the stats file has a line for each soak run and the soak's verdict last", json.dumps(records[-3:]))


try:
    globals()["case_" + sys.argv[2].replace("-", "_")]()
finally:
    for collector in started:
        collector.kill()
        collector.wait()
    for pid_file in daemon_pid_files:
        if os.path.exists(pid_file) and alive(pid_from(pid_file)):
            os.kill(pid_from(pid_file), signal.SIGKILL)
    subprocess.run(["rm", "-rf", work])

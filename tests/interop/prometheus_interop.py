#!/usr/bin/env python3
"""Debian's prometheus scrapes quillon-recv and quillon-send on loopback.

A short stamped TCP run, both programs with --metrics-listen on a free port
and --metrics-linger, so each ends only once a scrape had its last values.
A prometheus of the test's own (its config and storage in a temporary
folder, its web port on loopback), started first, scrapes them each second
on the free ports it was given for them. Its HTTP API
must then give the values the programs' JSON summaries give, and have
scraped the sender more than once while it ran. The text the endpoints
serve must parse with the Python client's parser, with the types and labels
named; the receiver's stream figures carry the run id and shard of the
stamps. Every query of the dashboard must name only series the programs
serve, and prometheus must take it.

Usage: prometheus_interop.py SEND RECV DASHBOARD
"""

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    # Exit status 77: ctest counts the test as skipped.
    print("SKIP: no prometheus_client module (Debian's python3-prometheus-client, installed by scripts/deps.sh)")
    sys.exit(77)

PROMETHEUS = shutil.which("prometheus") or "/usr/bin/prometheus"
if not os.access(PROMETHEUS, os.X_OK):
    print("SKIP: prometheus is not installed (scripts/deps.sh installs it)")
    sys.exit(77)

COUNT, RATE = 600, 200
WAIT_SECONDS = 30
LABELS = {"run_id", "shard", "transport"}
# A name in a query: what follows is no part of a name, and no label or
# function (what precedes a "(" or an "=").
METRIC_NAME = re.compile(r"\b(quillon_[a-zA-Z0-9_]*)\b")
HISTOGRAM_SUFFIXES = ("_bucket", "_sum", "_count")


class Failure(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failure(text)
    print(f"PASS: {text}")


def line_matching(process, pattern):
    """The first group of the first line on the process's standard error that
    matches; the program writes it at once, or ends."""
    lines = []
    for line in process.stderr:
        lines.append(line)
        match = re.search(pattern, line)
        if match:
            return match.group(1)
    raise Failure(f"no line matching {pattern!r} in {lines!r}")


def get(url):
    with urllib.request.urlopen(url, timeout=5) as answer:
        return answer.read().decode()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def families(where):
    return {family.name: family for family in text_string_to_metric_families(get(f"http://{where}/metrics"))}


def check_text(program, where, expected):
    """The endpoint's text through a real parser: each family's type, and every sample's labels.
    The series come once the run has started (a sender's run id is made then)."""
    deadline = time.monotonic() + WAIT_SECONDS
    found = families(where)
    while not expected.keys() <= found.keys() and time.monotonic() < deadline:
        time.sleep(0.05)
        found = families(where)
    for name, kind in expected.items():
        check(name in found and found[name].type == kind, f"{program}: {name} is a {kind}")
    unlabelled = [sample.name for family in found.values() for sample in family.samples
                  if not LABELS <= set(sample.labels)]
    check(not unlabelled, f"{program}: every series has run_id, shard and transport ({unlabelled or len(found)})")
    return found


def dashboard_queries(path):
    """Each expression of the dashboard's panels (rows' too) and variables,
    with whether prometheus itself can take it (not a variable's)."""
    with open(path) as file:
        dashboard = json.load(file)
    queries = []

    def panels(items):
        for panel in items:
            queries.extend((target["expr"], True) for target in panel.get("targets", []) if "expr" in target)
            panels(panel.get("panels", []))

    panels(dashboard["panels"])
    for variable in dashboard.get("templating", {}).get("list", []):
        if variable.get("type") == "query":
            found = variable["query"]
            queries.append((found["query"] if isinstance(found, dict) else found, False))
    return queries


def unknown_names(expression, found):
    """The series an expression names that no family found has: a
    histogram's by its _bucket, _sum and _count, a counter's by its _total."""
    known = set()
    for family in found.values():
        if family.type == "histogram":
            known.update(family.name + suffix for suffix in HISTOGRAM_SUFFIXES)
        elif family.type == "counter":
            known.add(family.name + "_total")
        else:
            known.add(family.name)
    return sorted(set(METRIC_NAME.findall(expression)) - known)


def query(api, expression):
    answer = json.loads(get(f"{api}/api/v1/query?" + urllib.parse.urlencode({"query": expression})))
    return [float(result["value"][1]) for result in answer["data"]["result"]]


def await_value(api, expression, expected):
    """Prometheus stores a scrape's samples just after the scrape answers."""
    deadline = time.monotonic() + WAIT_SECONDS
    values = []
    while time.monotonic() < deadline:
        values = query(api, expression)
        if values == [expected]:
            break
        time.sleep(0.2)
    check(values == [expected], f"prometheus: {expression} = {expected:g} (got {values})")


def await_targets(api, prometheus, count):
    """Prometheus scrapes its configured targets only seconds after it is
    ready: the run starts once it has tried them."""
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline and prometheus.poll() is None:
        try:
            targets = json.loads(get(f"{api}/api/v1/targets"))["data"]["activeTargets"]
            if len(targets) == count and all(not target["lastScrape"].startswith("0001") for target in targets):
                return
        except (OSError, ValueError, KeyError):
            pass
        time.sleep(0.1)
    raise Failure(f"prometheus did not take up its targets (exit status {prometheus.poll()})")


def main():
    send_path, recv_path, dashboard_path = sys.argv[1:4]
    work = tempfile.mkdtemp()
    started = []
    try:
        def start(args):
            process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            started.append(process)
            return process

        web = f"127.0.0.1:{free_port()}"
        api = f"http://{web}"
        # Given to prometheus before the programs start: targets it discovers
        # later it takes up only after seconds.
        recv_metrics, send_metrics = (f"127.0.0.1:{free_port()}" for _ in range(2))
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w") as file:
            file.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                       "scrape_configs:\n  - job_name: quillon\n    static_configs:\n"
                       f"      - targets: ['{recv_metrics}', '{send_metrics}']\n")
        # Its own output goes to a file: a pipe nobody reads could fill and stop it.
        with open(os.path.join(work, "prometheus.log"), "w") as log:
            prometheus = subprocess.Popen([PROMETHEUS, f"--config.file={config}", f"--storage.tsdb.path={work}/data",
                                           f"--web.listen-address={web}", "--log.level=warn"],
                                          stdout=log, stderr=subprocess.STDOUT)
        started.append(prometheus)
        await_targets(api, prometheus, 2)

        recv = start([recv_path, "--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--expect", str(COUNT),
                      "--idle", str(WAIT_SECONDS), "--json", "--metrics-listen", recv_metrics.split(":")[1],
                      "--metrics-linger", str(WAIT_SECONDS)])
        recv_port = line_matching(recv, r"listening on tcp 127\.0\.0\.1:(\d+)")
        send = start([send_path, "--target", "127.0.0.1", "--port", recv_port, "--transport", "tcp", "--stamp",
                      "--rate", str(RATE), "--count", str(COUNT), "--json", "--metrics-listen", send_metrics,
                      "--metrics-linger", str(WAIT_SECONDS)])
        line_matching(send, r"metrics on http://([^/]+)/metrics")

        # A scrape of our own: the run's series are there from its start.
        receiving = check_text("quillon-recv", recv_metrics, {"quillon_received": "counter", "quillon_duplicates": "counter",
                                                  "quillon_lost": "gauge", "quillon_open_connections": "gauge",
                                                  "quillon_latency_seconds": "histogram"})
        sent = check_text("quillon-send", send_metrics, {"quillon_sent": "counter", "quillon_failed": "counter",
                                                         "quillon_bytes": "counter", "quillon_refused": "counter",
                                                         "quillon_connections": "counter",
                                                         "quillon_send_rate": "gauge"})
        labels = next(iter(sent["quillon_sent"].samples)).labels
        check(labels["shard"] == "0/1" and labels["transport"] == "tcp", f"quillon-send: labels {labels}")
        receiving = check_text("quillon-recv", recv_metrics, {"quillon_receive_rate": "gauge"})
        found = {"quillon-send": sent, "quillon-recv": receiving}
        for program, series in found.items():
            check("quillon_achieved_rate" not in series, f"{program}: no quillon_achieved_rate")
        by_stamps = {(sample.labels["run_id"], sample.labels["shard"]) for sample in receiving["quillon_received"].samples}

        outputs = {}
        for name, process in (("quillon-send", send), ("quillon-recv", recv)):
            out, err = process.communicate(timeout=WAIT_SECONDS * 2)
            check(process.returncode == 0, f"{name} exits 0 once scraped (stderr: {err.strip()!r})")
            outputs[name] = json.loads(out.strip().splitlines()[-1])
        check(prometheus.poll() is None, "prometheus runs")
        sent, received = outputs["quillon-send"], outputs["quillon-recv"]
        check(labels["run_id"] == sent["run_id"], "quillon-send: run_id is the run's")
        check(by_stamps == {(sent["run_id"], "0")}, f"quillon-recv: received by the stamps' run and shard ({by_stamps})")
        every = {**found["quillon-send"], **found["quillon-recv"]}
        queries = dashboard_queries(dashboard_path)
        check(len(queries) >= 4, f"dashboard: {len(queries)} queries")
        for expression, promql in queries:
            check(not unknown_names(expression, every), f"dashboard: {expression} names only served series "
                                                        f"({unknown_names(expression, every) or 'all served'})")
            if not promql:
                continue
            # The dashboard's run variable, all runs.
            asked = f"{api}/api/v1/query?" + urllib.parse.urlencode({"query": expression.replace("$run_id", ".*")})
            try:
                status = json.loads(get(asked))["status"]
            except urllib.error.HTTPError as error:
                status = f"{error.code}: {error.read().decode(errors='replace')}"
            check(status == "success", f"prometheus takes {expression} ({status})")

        # A receiver's stream figures come in a series per run and shard.
        last = "sum(last_over_time({}{{instance='{}'}}[5m]))"
        for name, value in (("quillon_sent_total", sent["sent"]), ("quillon_failed_total", sent["failed"]),
                            ("quillon_bytes_total", sent["bytes"])):
            await_value(api, last.format(name, send_metrics), value)
        for name, value in (("quillon_received_total", received["received"]), ("quillon_lost", received["lost"]),
                            ("quillon_duplicates_total", received["duplicates"]),
                            ("quillon_reordered_total", received["reordered"]),
                            ("quillon_bytes_total", received["bytes"]),
                            ("quillon_connections_total", received["connections"]),
                            ("quillon_refused_total", received["refused_connections"]),
                            ("quillon_latency_seconds_count", received["latency_us"]["samples"])):
            await_value(api, last.format(name, recv_metrics), value)
        check(received["received"] == COUNT, f"quillon-recv received all {COUNT}")
        during = query(api, f"count_over_time(quillon_sent_total{{instance='{send_metrics}'}}[5m])")
        check(during and during[0] >= 2, f"prometheus scraped quillon-send while it ran ({during})")
        return 0
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        for process in started:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

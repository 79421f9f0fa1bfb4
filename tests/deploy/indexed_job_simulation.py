#!/usr/bin/env python3
"""The Kubernetes run of deploy/kubernetes, checked and played on this machine.

Renders the manifests as `kubectl apply -k` would (the kustomization's
settings, images and replacements) and checks what a cluster would hold
them to: every pod passes the "restricted" Pod Security Standard and has
resource limits beside its requests.

Then runs what the cluster would run, each container's command with $(VAR)
expanded from the settings as the kubelet does: for TRANSPORT tcp and udp,
with stand-ins for the programs that only say how they were called, so the
flags are checked (the receiver expects RATE x DURATION messages, the
senders' counts add up to it, --reconnect and --framing only over TCP);
then for real over TCP on loopback: the receiver, its readiness probe, and
for each index 0..SHARDS-1 of the Indexed Job its init container and its
sender, with JOB_COMPLETION_INDEX set as the Job sets it. Only these
settings change, so that the run is short and stays on loopback: TARGET,
PORT, TRANSPORT, RATE, DURATION, SHARDS and IDLE. The receiver listens on
127.0.0.1 only, on a free port (another if it was taken before the receiver
bound it), which the senders are given.

The receiver reports once the messages it expects arrived. Its pod's log
(both streams) must be JSON alone, so that `kubectl logs job/quillon-recv |
jq` reads it. Each pod's scrape annotations must name the port its container
exposes and its program serves metrics on. The receiver's report must
show SHARDS disjoint shards, each with its share of the messages, together
the configured rate, and every sent message received. It must also be its
container's main process: a receiver started again and sent SIGTERM (as
kubectl delete does) must report at once, long before IDLE. Last,
`quillon-recv --merge` over the pods' logs as `kubectl logs --prefix` gives
them must reconcile every shard, and not when a sender's log is left out.

Usage: indexed_job_simulation.py --bin DIR [--manifests DIR]
"""

import argparse
import json
import os
import re
import selectors
import shlex
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

try:
    import yaml
except ImportError:
    # Exit status 77: ctest counts the test as skipped.
    print(f"SKIP: {sys.executable} has no yaml module (Debian's python3-yaml, installed by scripts/deps.sh)")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATED = {"TARGET": "127.0.0.1", "TRANSPORT": "tcp", "RATE": "301", "DURATION": "2", "SHARDS": "3", "IDLE": "60"}
# A report that comes at SIGTERM comes at once; IDLE is far longer.
REPORT_SECONDS = 10
STREAMS_PER_SHARD = 1_000_000
KNOWN_KUSTOMIZATION_KEYS = {"apiVersion", "kind", "resources", "images", "configMapGenerator", "replacements"}


class Failure(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failure(text)


# ---- kustomize: the parts deploy/kubernetes uses ----

def select(document, segment):
    """One step of a kustomize field path: a key, or [key=value] in a list."""
    match = re.fullmatch(r"\[(\w+)=(.*)\]", segment)
    if not match:
        return document, segment
    key, value = match.groups()
    for index, item in enumerate(document):
        if item.get(key) == value:
            return document, index
    raise Failure(f"no list item with {key}={value}")


def set_field(document, path, value):
    parts = path.split(".")
    for segment in parts[:-1]:
        parent, key = select(document, segment)
        document = parent[key]
    parent, key = select(document, parts[-1])
    # As kustomize does: the target keeps its type.
    parent[key] = int(value) if isinstance(parent[key], int) else value


def render(folder, changed_settings):
    """The resources as `kubectl kustomize folder` gives them after the
    settings were changed in the kustomization, but with the ConfigMap's
    generated name left without its hash."""
    with open(os.path.join(folder, "kustomization.yaml")) as file:
        kustomization = yaml.safe_load(file)
    unknown = set(kustomization) - KNOWN_KUSTOMIZATION_KEYS
    check(not unknown, f"the simulation does not render kustomization keys {sorted(unknown)}")
    resources = []
    for name in kustomization["resources"]:
        with open(os.path.join(folder, name)) as file:
            resources += [document for document in yaml.safe_load_all(file) if document]
    for generator in kustomization.get("configMapGenerator", []):
        data = dict(literal.split("=", 1) for literal in generator["literals"])
        data.update({key: value for key, value in changed_settings.items() if key in data})
        resources.append({"apiVersion": "v1", "kind": "ConfigMap", "metadata": {"name": generator["name"]}, "data": data})
    for replacement in kustomization.get("replacements", []):
        source = replacement["source"]
        value = find(resources, source["kind"], source["name"])
        for segment in source["fieldPath"].split("."):
            value = value[segment]
        for target in replacement["targets"]:
            resource = find(resources, target["select"]["kind"], target["select"]["name"])
            for path in target["fieldPaths"]:
                set_field(resource, path, value)
    images = {image["name"]: f'{image.get("newName", image["name"])}:{image.get("newTag", "latest")}'
              for image in kustomization.get("images", [])}
    for resource in resources:
        for container in pod_containers(resource):
            container["image"] = images.get(container["image"], container["image"])
    return resources


def find(resources, kind, name):
    for resource in resources:
        if resource["kind"] == kind and resource["metadata"]["name"] == name:
            return resource
    raise Failure(f"no {kind} named {name} in the manifests")


def pod_containers(resource):
    spec = resource.get("spec", {}).get("template", {}).get("spec", {})
    return spec.get("initContainers", []) + spec.get("containers", [])


def expand(text, env):
    """$(VAR) as the kubelet expands it in command and args: $$ is a $, and
    an unknown $(VAR) stays as written."""
    return re.sub(r"\$\$|\$\(([A-Za-z_][A-Za-z0-9_.-]*)\)",
                  lambda m: "$" if m.group(0) == "$$" else env.get(m.group(1), m.group(0)), text)


def command_line(container, env):
    return [expand(part, env) for part in container.get("command", []) + container.get("args", [])]


def container_env(container, resources):
    env = {}
    for source in container.get("envFrom", []):
        env.update(find(resources, "ConfigMap", source["configMapRef"]["name"])["data"])
    for variable in container.get("env", []):
        env[variable["name"]] = variable["value"]
    return env


# ---- processes ----

class LineReader:
    def __init__(self, stream):
        self.fd = stream.fileno()
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.fd, selectors.EVENT_READ)
        self.buffer = b""

    def line(self, seconds, what):
        deadline = time.monotonic() + seconds
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            check(left > 0 and self.selector.select(left), f"no {what} within {seconds} s")
            chunk = os.read(self.fd, 65536)
            check(chunk, f"the receiver ended before its {what}")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\n", 1)
        return text.decode()


def run_env(settings, bin_dir, extra=None):
    env = dict(os.environ, **settings, **(extra or {}))
    env["PATH"] = bin_dir + os.pathsep + env.get("PATH", "")
    return env


# ---- what a cluster holds the manifests to ----

def pod_specs(resources):
    return [(resource["kind"], resource["metadata"]["name"], resource["spec"]["template"]["spec"])
            for resource in resources if "template" in resource.get("spec", {})]


def check_restricted(resources):
    """The "restricted" Pod Security Standard, and limits beside requests."""
    for kind, name, pod in pod_specs(resources):
        where = f"{kind} {name}"
        check(not any(pod.get(key) for key in ("hostNetwork", "hostPID", "hostIPC")), f"{where} shares the host's")
        check(all(set(volume) - {"name"} <= {"configMap", "emptyDir", "secret", "projected", "downwardAPI",
                                             "persistentVolumeClaim", "ephemeral", "csi"}
                  for volume in pod.get("volumes", [])), f"{where} has a volume type restricted pods may not use")
        pod_context = pod.get("securityContext", {})
        for container in pod.get("initContainers", []) + pod["containers"]:
            what = f"{where}, container {container['name']}"
            context = {**pod_context, **container.get("securityContext", {})}
            check(context.get("runAsNonRoot") is True and context.get("runAsUser", 1) != 0, f"{what} may run as root")
            check(context.get("allowPrivilegeEscalation") is False and not context.get("privileged"),
                  f"{what} may escalate its privileges")
            capabilities = context.get("capabilities", {})
            check("ALL" in capabilities.get("drop", []) and set(capabilities.get("add", [])) <= {"NET_BIND_SERVICE"},
                  f"{what} keeps capabilities")
            check(context.get("seccompProfile", {}).get("type") in ("RuntimeDefault", "Localhost"),
                  f"{what} has no seccomp profile")
            check(not any(port.get("hostPort") for port in container.get("ports", [])), f"{what} takes a host port")
            resources_ = container.get("resources", {})
            for amount in ("cpu", "memory"):
                check(amount in resources_.get("requests", {}) and amount in resources_.get("limits", {}),
                      f"{what} has no {amount} request and limit")


# ---- the commands, with stand-ins for the programs ----

STAND_IN = """#!/bin/sh
# How it was called, one argument a line after its name.
printf '%s\\n' "$(basename "$0")" "$@" > "$STAND_IN_FOLDER/$(basename "$0").$$"
"""


def check_metrics(resources):
    """Each pod says where Prometheus scrapes it, and its program serves there."""
    for name in ("quillon-recv", "quillon-send"):
        template = find(resources, "Job", name)["spec"]["template"]
        annotations = template["metadata"].get("annotations", {})
        container = template["spec"]["containers"][0]
        ports = {port["name"]: port for port in container.get("ports", [])}
        port = str(ports.get("metrics", {}).get("containerPort"))
        check(annotations.get("prometheus.io/scrape") == "true" and annotations.get("prometheus.io/path") == "/metrics"
              and annotations.get("prometheus.io/port") == port and ports["metrics"]["protocol"] == "TCP",
              f"{name}: the scrape annotations {annotations} do not name its metrics port {port}")
        listen = re.findall(r"--metrics-listen (\S+)", " ".join(container["command"]))
        check(listen == [f"0.0.0.0:{port}"], f"{name} serves its metrics on {listen}, not 0.0.0.0:{port}")
    print("the pods' scrape annotations, metrics ports and --metrics-listen agree")


# On one machine every program serves its metrics on a free loopback port, and
# ends without waiting for a scraper.
LOCAL_METRICS = ["--metrics-listen", "127.0.0.1:0", "--metrics-linger", "0"]


def called(folder):
    """The command lines the stand-ins were given, by program."""
    calls = {}
    for name in os.listdir(folder):
        if "." in name:
            with open(os.path.join(folder, name)) as file:
                lines = file.read().split("\n")[:-1]
            calls.setdefault(lines[0], []).append(lines[1:])
    return calls


def flag(args, name):
    return args[args.index(name) + 1] if name in args else None


def check_command_lines(manifests):
    for transport in ("tcp", "udp"):
        resources = render(manifests, dict(SIMULATED, TRANSPORT=transport))
        settings = find(resources, "ConfigMap", "quillon-settings")["data"]
        messages = int(settings["RATE"]) * int(settings["DURATION"])
        shards = int(settings["SHARDS"])
        with tempfile.TemporaryDirectory() as folder:
            for program in ("quillon-recv", "quillon-send"):
                path = os.path.join(folder, program)
                with open(path, "w") as file:
                    file.write(STAND_IN)
                os.chmod(path, stat.S_IRWXU)
            extra = {"STAND_IN_FOLDER": folder}
            receiver = find(resources, "Job", "quillon-recv")["spec"]["template"]["spec"]["containers"][0]
            run_container(receiver, resources, folder, extra)
            sender = find(resources, "Job", "quillon-send")["spec"]["template"]["spec"]["containers"][0]
            for index in range(shards):
                run_container(sender, resources, folder, dict(extra, JOB_COMPLETION_INDEX=str(index)))
            calls = called(folder)
        (recv,) = calls["quillon-recv"]
        check(flag(recv, "--listen") == transport and flag(recv, "--expect") == str(messages),
              f"the receiver was called {shlex.join(recv)}, not expecting {messages} messages over {transport}")
        sends = calls["quillon-send"]
        check(sum(int(flag(args, "--count")) for args in sends) == messages,
              f"the senders' counts do not add up to {messages}: {[flag(args, '--count') for args in sends]}")
        for args in sends:
            check(flag(args, "--shard") == f"auto/{shards}" and "--stamp" in args, f"a sender was called {args}")
            over_tcp = transport == "tcp"
            check(("--reconnect" in args) == over_tcp and (flag(args, "--framing") is not None) == over_tcp,
                  f"over {transport} a sender was called {shlex.join(args)}")
        print(f"over {transport}: quillon-recv {shlex.join(recv)}; quillon-send {shlex.join(sends[0])}")


def run_container(container, resources, bin_dir, extra, **popen):
    env = dict(container_env(container, resources), **extra)
    args = command_line(container, env)
    if popen:
        # A session of its own, so that ending it ends what it started (as the pod's end would).
        return subprocess.Popen(args, env=run_env(env, bin_dir), start_new_session=True, **popen)
    done = subprocess.run(args, env=run_env(env, bin_dir), timeout=10)
    check(done.returncode == 0, f"{container['name']} failed: {shlex.join(args)}")
    return done


# ---- the run itself ----

def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return str(probe.getsockname()[1])


def simulate(resources, bin_dir):
    settings = find(resources, "ConfigMap", "quillon-settings")["data"]
    rate, duration, shards = int(settings["RATE"]), int(settings["DURATION"]), int(settings["SHARDS"])
    receiver = find(resources, "Job", "quillon-recv")["spec"]["template"]["spec"]["containers"][0]
    job = find(resources, "Job", "quillon-send")
    job_pod = job["spec"]["template"]["spec"]
    check(job["spec"].get("completionMode") == "Indexed", "the senders' Job is not Indexed")
    check(job["spec"]["completions"] == job["spec"]["parallelism"] == shards,
          "the Job's completions and parallelism do not follow SHARDS")

    # The receiver listens on a free port of loopback; the senders are given it.
    receiver = dict(receiver, args=receiver.get("args", []) + ["--bind", "127.0.0.1"] + LOCAL_METRICS)
    recv, output, port = start_receiver(receiver, resources, bin_dir)
    senders = []
    try:
        probe = dict(receiver, command=receiver["readinessProbe"]["exec"]["command"], args=[])
        check(not run_probe(probe, resources, bin_dir, {"PORT": free_port()}),
              "the readiness probe said ready on a port nothing listens on")
        print(f"receiver on port {port['PORT']}, ready by its probe")

        for index in range(shards):
            # What the Job adds to each pod's environment.
            pod_env = dict(port, JOB_COMPLETION_INDEX=str(index))
            for init in job_pod.get("initContainers", []):
                run_container(init, resources, bin_dir, pod_env)
            # A pod's log holds both its streams.
            sender = dict(job_pod["containers"][0], args=job_pod["containers"][0].get("args", []) + LOCAL_METRICS)
            senders.append(run_container(sender, resources, bin_dir, pod_env,
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True))
        sent, logs = [], {}
        for index, sender in enumerate(senders):
            out, _ = sender.communicate(timeout=duration + 30)
            check(sender.returncode == 0, f"sender {index} exited with {sender.returncode}: {out}")
            sent.append(json.loads(out.strip().splitlines()[-1]))
            logs[f"pod/quillon-send-{index}-x{index}k2p/quillon-send"] = out.splitlines()

        report_line = output.line(REPORT_SECONDS, "report")
        report = json.loads(report_line)
        print(f"receiver report: {json.dumps(report)}")
        check(report["source"] == f"tcp 127.0.0.1:{port['PORT']}", f"the receiver listened on {report['source']}")
        check_report(report, sent, rate, duration, shards)
        logs["pod/quillon-recv-q8w4z/quillon-recv"] = pod_log(recv, output, report_line)
        check_merge(logs, bin_dir, rate * duration, shards)
    finally:
        end(senders + [recv])
    check_report_at_sigterm(receiver, resources, bin_dir)


def end(processes):
    """The pods' processes end with them."""
    for process in processes:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def start_receiver(receiver, resources, bin_dir):
    """The receiver's container started on a free port, ready by its
    readiness probe as the kubelet sees it, and checked to be the container's
    main process. Its output is its pod's log, both streams in one."""
    probe = dict(receiver, command=receiver["readinessProbe"]["exec"]["command"], args=[])
    for _ in range(3):
        port = {"PORT": free_port()}
        recv = run_container(receiver, resources, bin_dir, port, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        # The kubelet polls its probe too; the receiver ending means the port was taken meanwhile.
        while recv.poll() is None and not run_probe(probe, resources, bin_dir, port) and time.monotonic() < deadline:
            time.sleep(0.02)
        if recv.poll() is None:
            break
        end([recv])
    try:
        check(recv.poll() is None and run_probe(probe, resources, bin_dir, port), "the receiver never got ready")
        with open(f"/proc/{recv.pid}/comm") as comm:
            check(comm.read().strip() == "quillon-recv", "quillon-recv is not its container's main process")
    except Failure:
        end([recv])
        raise
    return recv, LineReader(recv.stdout), port


def run_probe(probe, resources, bin_dir, port):
    env = dict(container_env(probe, resources), **port)
    return subprocess.run(command_line(probe, env), env=run_env(env, bin_dir)).returncode == 0


def pod_log(recv, output, first_line):
    """All the receiver's pod log, once it ended; every line must be JSON, so
    that `kubectl logs job/quillon-recv | jq` reads it."""
    recv.wait(timeout=REPORT_SECONDS)
    lines = [first_line] + (output.buffer + recv.stdout.read()).decode().splitlines()
    for line in lines:
        try:
            json.loads(line)
        except ValueError:
            raise Failure(f"the receiver's log holds a line that is not JSON: {line!r}")
    return lines


def check_report_at_sigterm(receiver, resources, bin_dir):
    recv, output, _ = start_receiver(receiver, resources, bin_dir)
    try:
        # As kubectl delete ends the pod.
        recv.send_signal(signal.SIGTERM)
        report = json.loads(output.line(REPORT_SECONDS, f"report within {REPORT_SECONDS} s of SIGTERM"))
        check(report["stopped_by"] == "signal", f"the receiver stopped by {report['stopped_by']}, not SIGTERM")
        print("a receiver sent SIGTERM reported at once")
    finally:
        end([recv])


def check_report(report, sent, rate, duration, shards):
    total_sent = sum(summary["sent"] for summary in sent)
    check(total_sent == rate * duration, f"the senders sent {total_sent} messages, not {rate * duration}")
    check(report["received"] == total_sent and report["lost"] == 0 and report["duplicates"] == 0,
          f"{total_sent} sent over TCP, but {report['received']} received, {report['lost']} lost, "
          f"{report['duplicates']} duplicated")
    check(sorted(shard["shard"] for shard in report["shards"]) == list(range(shards)),
          f"shards {[shard['shard'] for shard in report['shards']]}, not 0..{shards - 1}")
    runs = {}
    for stream in report["streams"]:
        runs.setdefault(stream["run"], set()).add(stream["stream"])
    check(len(runs) == shards, f"{len(runs)} runs for {shards} senders")
    owners = {stream: run for run, streams in runs.items() for stream in streams}
    check(len(owners) == sum(len(streams) for streams in runs.values()), "two senders used the same stream id")
    check(all(len({stream // STREAMS_PER_SHARD for stream in streams}) == 1 for streams in runs.values()),
          "a sender's streams span shards")
    share = rate * duration / shards
    for shard in report["shards"]:
        check(abs(shard["received"] - share) < 1, f"shard {shard['shard']} has {shard['received']} messages, "
                                                  f"not its share of {share:.0f}")
    print(f"{shards} shards, {total_sent} messages at {rate} a second, none lost")


def check_merge(logs, bin_dir, messages, shards):
    """quillon-recv --merge over the logs as `kubectl logs --prefix` gives
    them: the receiver's Job's, then the senders' Job's in one file."""
    with tempfile.TemporaryDirectory() as folder:
        files = []
        for name, pods in (("recv.log", ["quillon-recv"]), ("send.log", ["quillon-send"])):
            files.append(os.path.join(folder, name))
            with open(files[-1], "w") as file:
                file.writelines(f"[{pod}] {line}\n" for pod, lines in logs.items() if any(p in pod for p in pods)
                                for line in lines)
        merge = [os.path.join(bin_dir, "quillon-recv"), "--merge"]
        done = subprocess.run(merge + files, capture_output=True, text=True, timeout=10)
        print(done.stdout, end="")
        check(done.returncode == 0, f"--merge exited with {done.returncode}: {done.stdout}{done.stderr}")
        done = subprocess.run(merge + files + ["--json"], capture_output=True, text=True, timeout=10)
        merged = json.loads(done.stdout)
        total = merged["total"]
        check(done.returncode == 0 and merged["reconciled"] and len(merged["shards"]) == shards
              and total["sent"] == total["received"] == messages and total["lost"] == 0
              and merged["sender_summaries"] == shards, f"--merge --json gave {done.stdout}")
        # Without one sender's log its shard's messages come from no summary.
        with open(files[1]) as file:
            kept = [line for line in file if "quillon-send-1-" not in line]
        done = subprocess.run(merge + [files[0], "-"], input="".join(kept), capture_output=True, text=True, timeout=10)
        check(done.returncode == 1 and "shard 1 does not reconcile" in done.stdout,
              f"--merge without sender 1's log exited with {done.returncode}: {done.stdout}")
    print(f"--merge reconciled {shards} shards, and not without a sender's log")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder holding quillon-send and quillon-recv")
    parser.add_argument("--manifests", default=os.path.join(HERE, "..", "..", "deploy", "kubernetes"))
    options = parser.parse_args()
    try:
        check_restricted(render(options.manifests, SIMULATED))
        check_metrics(render(options.manifests, SIMULATED))
        check_command_lines(options.manifests)
        simulate(render(options.manifests, SIMULATED), os.path.abspath(options.bin))
    except Failure as failure:
        print(f"indexed_job_simulation: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

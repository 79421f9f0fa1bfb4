#!/usr/bin/env python3
"""The Kubernetes run of deploy/kubernetes, played on this machine.

Renders the manifests as `kubectl apply -k` would (the kustomization's
settings, images and replacements), then runs what the cluster would run:
the receiver Deployment's command and arguments, and for each index
0..SHARDS-1 of the Indexed Job its init container and its sender, with
JOB_COMPLETION_INDEX set as the Job sets it and $(VAR) expanded from the
settings as the kubelet does. Only these settings change, so that the run
is short and stays on loopback: TARGET, PORT, TRANSPORT (tcp: nothing may be
lost), RATE, DURATION, SHARDS and IDLE. The receiver listens on
127.0.0.1 only, on a port it picks (PORT 0), which the senders are given.

The merged report must show SHARDS disjoint shards, each with 1/SHARDS of
the messages, together the configured rate, and every sent message received.

Usage: indexed_job_simulation.py --bin DIR [--manifests DIR]
"""

import argparse
import json
import os
import re
import selectors
import shlex
import signal
import subprocess
import sys
import time

try:
    import yaml
except ImportError:
    # Exit status 77: ctest counts the test as skipped.
    print(f"SKIP: {sys.executable} has no yaml module (Debian's python3-yaml, installed by scripts/deps.sh)")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATED = {"TARGET": "127.0.0.1", "TRANSPORT": "tcp", "RATE": "300", "DURATION": "2", "SHARDS": "3", "IDLE": "3"}
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


def missing_flags(bin_dir):
    help_text = subprocess.run([os.path.join(bin_dir, "quillon-send"), "--help"], capture_output=True, text=True).stdout
    return [flag for flag in ("--stamp", "--shard") if not re.search(rf"^\s*{flag}\b", help_text, re.M)]


def simulate(resources, bin_dir):
    settings = find(resources, "ConfigMap", "quillon-settings")["data"]
    rate, duration, shards = int(settings["RATE"]), int(settings["DURATION"]), int(settings["SHARDS"])
    receiver = find(resources, "Deployment", "quillon-recv")["spec"]["template"]["spec"]["containers"][0]
    job = find(resources, "Job", "quillon-send")
    job_pod = job["spec"]["template"]["spec"]
    check(job["spec"].get("completionMode") == "Indexed", "the senders' Job is not Indexed")
    check(job["spec"]["completions"] == job["spec"]["parallelism"] == shards,
          "the Job's completions and parallelism do not follow SHARDS")

    # The receiver picks a free port; the senders are given it.
    recv_env = dict(container_env(receiver, resources), PORT="0")
    recv_args = command_line(receiver, recv_env) + ["--bind", "127.0.0.1"]
    recv = subprocess.Popen(recv_args, env=run_env(recv_env, bin_dir), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True)
    senders = []
    try:
        output = LineReader(recv.stdout)
        # With --json the listening line goes to standard error.
        listening = LineReader(recv.stderr if "--json" in recv_args else recv.stdout).line(10, "listening line")
        match = re.fullmatch(r"listening on tcp 127\.0\.0\.1:(\d+)", listening)
        check(match, f"the receiver said {listening!r}")
        print(f"receiver: {shlex.join(recv_args)}\n  {listening}")
        missing = missing_flags(bin_dir)
        if missing:
            raise Failure(f"quillon-send has no {' and no '.join(missing)} yet; the manifests rendered and the "
                          "receiver ran from them")

        port = {"PORT": match.group(1)}
        for index in range(job["spec"]["completions"]):
            # What the Job adds to each pod's environment.
            pod_env = {"JOB_COMPLETION_INDEX": str(index)}
            for init in job_pod.get("initContainers", []):
                env = dict(container_env(init, resources), **port, **pod_env)
                done = subprocess.run(command_line(init, env), env=run_env(env, bin_dir), timeout=10)
                check(done.returncode == 0, f"init container {init['name']} of index {index} failed")
            container = job_pod["containers"][0]
            env = dict(container_env(container, resources), **port, **pod_env)
            args = command_line(container, env)
            print(f"sender {index}: {shlex.join(args)}")
            senders.append(subprocess.Popen(args, env=run_env(env, bin_dir), stdout=subprocess.PIPE, text=True))
        sent = []
        for index, sender in enumerate(senders):
            out, _ = sender.communicate(timeout=duration + 30)
            check(sender.returncode == 0, f"sender {index} exited with {sender.returncode}: {out}")
            sent.append(json.loads(out.strip().splitlines()[-1]))

        report = json.loads(output.line(int(settings["IDLE"]) + 30, "report"))
        print(f"receiver report: {json.dumps(report)}")
        check_report(report, sent, rate, duration, shards)
    finally:
        # The pods' processes end with them.
        for process in senders:
            process.kill()
            process.wait()
        os.killpg(recv.pid, signal.SIGKILL)
        recv.wait()


def check_report(report, sent, rate, duration, shards):
    total_sent = sum(summary["sent"] for summary in sent)
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
    # Paced by deadlines, a sender never sends more than its share; a slow
    # machine may leave it behind, but never by half, as a share split twice would.
    share = rate * duration / shards
    for shard in report["shards"]:
        check(share / 2 < shard["received"] <= share + 1,
              f"shard {shard['shard']} has {shard['received']} messages, not its share of {share:.0f}")
    total = sum(shard["received"] for shard in report["shards"])
    check(rate / 2 < total / duration <= rate + 1, f"{total / duration:.0f} messages a second, not {rate}")
    print(f"{shards} shards, {total} messages in {duration} s ({total / duration:.0f} a second of {rate}), "
          "none lost")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder holding quillon-send and quillon-recv")
    parser.add_argument("--manifests", default=os.path.join(HERE, "..", "..", "deploy", "kubernetes"))
    options = parser.parse_args()
    try:
        simulate(render(options.manifests, SIMULATED), os.path.abspath(options.bin))
    except Failure as failure:
        print(f"indexed_job_simulation: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

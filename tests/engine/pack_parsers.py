#!/usr/bin/env python3
"""Each template pack's records read by a parser of its format: Python's json
module for json, and CEF, LEEF, key=value, Apache combined and auth-line
parsers written here from the formats' own rules. Every record must parse,
carry the pack's fields, and a stamped one its stamp where the pack keeps it.

Usage: pack_parsers.py RENDER_PACK_RECORDS"""
import collections
import datetime
import ipaddress
import json
import re
import subprocess
import sys

COUNT = 2000
STAMP = re.compile(r"^pack-test:7:(\d+):\d+$")
failures = []


def check(condition, pack, what, record):
    if not condition:
        failures.append(f"{pack}: {what}: {record!r}")
    return condition


def key_values(text, separator):
    """CEF extensions: keys are word characters before '=', values run to
    the next key (so they may hold spaces); '\\=' is a plain '='."""
    if separator == "\t":
        return [tuple(pair.split("=", 1)) for pair in text.split("\t")]
    keys = list(re.finditer(r"(?:^|(?<= ))(\w+)=", text))
    return [(m.group(1), text[m.end(): keys[i + 1].start() - 1 if i + 1 < len(keys) else len(text)])
            for i, m in enumerate(keys)]


def cef(record):
    parts = re.split(r"(?<!\\)\|", record, maxsplit=7)
    if not check(len(parts) == 8 and parts[0] == "CEF:0", "cef", "header of 7 fields", record):
        return None, {}
    fields = dict(key_values(parts[7], " "))
    check(len(fields) >= 12, "cef", "a dozen extensions", record)
    check(0 <= int(parts[6]) <= 10, "cef", "severity", record)
    ipaddress.IPv4Address(fields["src"])
    return parts[5], fields


def leef(record):
    parts = record.split("|", 6)
    if not check(len(parts) == 7 and parts[0] == "LEEF:2.0" and parts[5] == "x09", "leef", "header", record):
        return None, {}
    pairs = key_values(parts[6], "\t")
    fields = dict(pairs)
    check(len(pairs) == len(fields) >= 9, "leef", "tab-delimited attributes", record)
    datetime.datetime.strptime(fields["devTime"], "%b %d %Y %H:%M:%S")
    return parts[4], fields


def ecs(record):
    event = json.loads(record)
    datetime.datetime.fromisoformat(event["@timestamp"].replace("Z", "+00:00"))
    category = event["event"]["category"][0]
    ipaddress.IPv4Address(event["source"]["ip"])
    stamp = event.get("quillon")
    return category, ({"quillon": stamp} if stamp is not None else {})


def firewall(record):
    pairs = [pair.split("=", 1) for pair in record.split(" ")]
    fields = dict(pairs)
    check(all(len(p) == 2 for p in pairs) and len(fields) == len(pairs), "firewall", "key=value pairs", record)
    check({"action", "proto", "src", "spt", "dst", "dpt", "rule"} <= fields.keys(), "firewall", "5-tuple", record)
    for key in ("src", "dst"):
        ipaddress.IPv4Address(fields[key])
    return fields["action"], fields


APACHE = re.compile(r'^(\S+) - (\S+) \[([^\]]+)\] "(\S+) (\S+) (HTTP/[\d.]+)" (\d{3}) (\d+) "([^"]*)" "([^"]*)"$')


def apache(record):
    match = APACHE.match(record)
    if not check(match, "apache", "combined log format", record):
        return None, {}
    ipaddress.IPv4Address(match.group(1))
    datetime.datetime.strptime(match.group(3), "%d/%b/%Y:%H:%M:%S %z")
    return match.group(7), {}


AUTH = [re.compile(p) for p in (
    r"^Accepted (publickey|password) for [\w-]+ from [\d.]+ port \d+ ssh2$",
    r"^Failed password for (invalid user )?[\w-]+ from [\d.]+ port \d+ ssh2$",
    r"^pam_unix\((sshd|sudo|login|su):(session|auth)\): .+$",
    r"^Disconnected from user [\w-]+ [\d.]+ port \d+$",
    r"^[\w-]+ : TTY=pts/\d ; PWD=/\S* ; USER=root ; COMMAND=/.+$",
)]


def auth(record):
    for index, pattern in enumerate(AUTH):
        if pattern.match(record):
            return index, {}
    check(False, "auth", "an sshd, sudo or PAM line", record)
    return None, {}


# Each pack's parser, the kind its most common template makes and that
# kind's share of the mix.
PACKS = {
    "cef": (cef, "Connection allowed", 0.50),
    "leef": (leef, "ConnectionAllowed", 0.55),
    "json": (ecs, "web", 0.60),
    "firewall": (firewall, "allow", 0.75),
    "apache": (apache, "200", 0.80),
    "auth": (auth, 2, 0.34),
}


def main():
    render = sys.argv[1]
    for pack, (parse, common, share) in PACKS.items():
        records = subprocess.run([render, pack, str(COUNT)], check=True, capture_output=True,
                                 text=True).stdout.split("\n")[:-1]
        check(len(records) == COUNT, pack, "one record a line", len(records))
        kinds = collections.Counter()
        for seq, record in enumerate(records, 1):
            try:
                kind, fields = parse(record)
            except (ValueError, KeyError, json.JSONDecodeError) as error:
                check(False, pack, f"parses ({error})", record)
                continue
            kinds[kind] += 1
            if pack in ("apache", "auth"):
                check("quillon" not in record, pack, "no stamp of its own", record)
                continue
            stamp = STAMP.match(fields.get("quillon", ""))
            if seq % 2:
                check(stamp and int(stamp.group(1)) == seq, pack, f"stamp {seq} in its place", record)
            else:
                check("quillon" not in record, pack, "no stamp when unstamped", record)
        check(abs(kinds[common] / COUNT - share) < 0.05, pack, f"{common} {share:.0%} of the mix", kinds)
        print(f"{pack}: {COUNT} records parsed, {len(kinds)} kinds")
    for failure in failures[:20]:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

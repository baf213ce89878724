"""A recorded baseline of what hosts rely on, and the comparison of a build with it.

A record is an ordered list of "KEY = VALUE" lines (lines starting with # are comments). Against
its baseline, a build's record may
- lose a key, or give a key another value: incompatible (a host built before would break), except
  where a rule below allows it;
- add a key: a compatible addition (the baseline can be updated, deliberately), except where a
  rule below forbids it.
"""
import argparse
import re
import sys

# Keys whose value may grow: the size-versioned structs, whose callers pass their own size.
GROWING = re.compile(r"^(VexilHostCallbacks|VexilConnCounters) size$")
# Keys that may not be added: a slot added to an interface the host implements would be called
# on hosts built before, whose tables lack it.
NOT_ADDABLE = re.compile(r"^vexil::HostCallback slot ")

# What to do about a verdict, in every checker's words.
INCOMPATIBLE_ADVICE = ("Undo the change, or, for a new major version, update the baseline "
                       "deliberately with scripts/abi-baseline (docs/compatibility.md).")
ADDITION_ADVICE = ("The baseline can be updated (scripts/abi-baseline) when the release that "
                   "adds them is cut.")


def parse(text):
    """{key: value} of a record's text, in its order."""
    record = {}
    for line in text.splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        key, _, value = line.partition(" = ")
        record[key.strip()] = value.strip()
    return record


def format_record(record, header):
    lines = ["# " + line for line in header.splitlines()]
    lines += [f"{key} = {value}" for key, value in record.items()]
    return "\n".join(lines) + "\n"


def compare(baseline, current):
    """(incompatible, additions): readable lines saying what changed."""
    incompatible = []
    additions = []
    for key, value in baseline.items():
        if key not in current:
            incompatible.append(f"{key}: was {value}, now gone")
        elif current[key] != value:
            change = f"{key}: was {value}, now {current[key]}"
            if (GROWING.match(key) and value.isdigit() and current[key].isdigit() and
                    int(current[key]) > int(value)):
                additions.append(change)
            else:
                incompatible.append(change)
    for key, value in current.items():
        if key in baseline:
            continue
        if NOT_ADDABLE.match(key):
            incompatible.append(f"{key}: added ({value}), on an interface the host implements")
        else:
            additions.append(f"{key}: added ({value})")
    return incompatible, additions


def arguments(*required, **defaults):
    """The command line of a checker: its own required options, its optional ones with their
    defaults (abidw="abidw" is --abidw), then --baseline and --update."""
    parser = argparse.ArgumentParser()
    for name in required:
        parser.add_argument(name, required=True)
    for name, default in defaults.items():
        parser.add_argument("--" + name, default=default)
    parser.add_argument("--baseline", required=True)
    parser.add_argument("--update", action="store_true")
    return parser.parse_args()


def check_or_update(what, current, baseline_path, header, update):
    """Compares current with the baseline file, or rewrites it (update). Returns the exit status
    and prints the verdict."""
    if update:
        with open(baseline_path, "w") as f:
            f.write(format_record(current, header))
        print(f"{what}: baseline {baseline_path} written ({len(current)} entries)")
        return 0
    with open(baseline_path) as f:
        baseline = parse(f.read())
    incompatible, additions = compare(baseline, current)
    if incompatible:
        print(f"{what}: INCOMPATIBLE with the baseline {baseline_path}:")
        for line in incompatible + additions:
            print("  " + line)
        print("  A host built against the baseline would break. " + INCOMPATIBLE_ADVICE)
        return 1
    if additions:
        print(f"{what}: compatible additions to the baseline {baseline_path}:")
        for line in additions:
            print("  " + line)
        print("  Hosts built against the baseline keep working. " + ADDITION_ADVICE)
        return 0
    print(f"{what}: as in the baseline ({len(current)} entries)")
    return 0


if __name__ == "__main__":
    sys.exit("interface_baseline.py is a module; see header_layout.py and export_table.py")

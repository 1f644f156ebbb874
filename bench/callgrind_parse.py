"""Self instruction counts of a callgrind output file, per object and per
(object, function): shared by scripts/callgrind.sh and bench/softcore_load.py."""
import re
from collections import defaultdict


def parse(path):
    """Self instructions per object and per (object, function)."""
    names = {"ob": {}, "fn": {}}
    per_obj, per_fn = defaultdict(int), defaultdict(int)
    ob = fn = None
    skip_next = False
    def name(kind, value):
        m = re.match(r"\((\d+)\)(?: (.*))?$", value)
        if not m:
            return value
        if m.group(2) is not None:
            names[kind][m.group(1)] = m.group(2)
        return names[kind].get(m.group(1), value)
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            c = line[0]
            if c.isdigit() or c in "+-*":
                if skip_next:  # the inclusive cost of the call above: not self cost
                    skip_next = False
                    continue
                parts = line.split()
                if len(parts) >= 2:
                    per_obj[ob] += int(parts[1])
                    per_fn[(ob, fn)] += int(parts[1])
                continue
            key, _, value = line.partition("=")
            if key == "ob":
                ob = name("ob", value)
            elif key == "fn":
                fn = name("fn", value)
            elif key == "cob":
                name("ob", value)
            elif key == "cfn":
                name("fn", value)
            elif key == "calls":
                skip_next = True
    return per_obj, per_fn

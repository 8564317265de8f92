#!/usr/bin/python3
"""Instructions per action from two callgrind profiles of the same peer.

    callgrind_costs.py SMALL.out N_SMALL LARGE.out N_LARGE HANDLER OUR_DIR CALLER

Prints JSON: instructions per action of the whole process and of the signal handler (the
difference of the two runs divided by the difference of their action counts, so start-up and
the readiness probe drop out); "calls", what the function CALLER that makes every method call
costs with the bus library under it; and, for every function defined under OUR_DIR that the
handler reaches, what it costs per action itself and in the library calls it makes directly.
"""
import json
import re
import sys

NAMED = re.compile(r"^\((\d+)\)(?: (.*))?$")


class Profile:
    def __init__(self, path):
        self.total = 0
        self.self_cost = {}
        self.call_cost = {}  # (caller, callee) -> inclusive cost of those calls
        self.file_of = {}
        self._read(path)

    def _read(self, path):
        names = {"fl": {}, "fn": {}}
        current_file = current_fn = callee = None
        pending_call = False
        with open(path, encoding="utf-8", errors="replace") as profile:
            for raw in profile:
                line = raw.rstrip("\n")
                if not line or line.startswith("#"):
                    continue
                key, _, value = line.partition("=")
                if key in ("fl", "fi", "fe", "cfi", "cfl", "fn", "cfn") and _:
                    kind = "fn" if key in ("fn", "cfn") else "fl"
                    name = self._name(names[kind], value)
                    if key == "fl":
                        current_file = name
                    elif key == "fn":
                        current_fn = name
                        self.file_of.setdefault(name, current_file)
                    elif key == "cfn":
                        callee = name
                    continue
                if key == "calls" and _:
                    pending_call = True
                    continue
                if line.startswith("summary:"):
                    self.total = int(line.split()[1])
                    continue
                if not (line[0].isdigit() or line[0] in "+-*"):
                    continue
                cost = int(line.split()[-1]) if len(line.split()) > 1 else 0
                if pending_call:
                    pair = (current_fn, callee)
                    self.call_cost[pair] = self.call_cost.get(pair, 0) + cost
                    pending_call = False
                else:
                    self.self_cost[current_fn] = self.self_cost.get(current_fn, 0) + cost

    @staticmethod
    def _name(table, value):
        match = NAMED.match(value)
        if not match:
            return value
        if match.group(2) is not None:
            table[match.group(1)] = match.group(2)
        return table.get(match.group(1), value)

    def inclusive_of(self, function):
        return sum(c for (_, callee), c in self.call_cost.items() if short(callee) == function)

    def attributed(self, our_dir, handler):
        """Self cost plus the cost of direct calls out of our code, for every function of ours
        that the handler reaches through our own code."""
        ours = {f for f, path in self.file_of.items() if path and our_dir in path}
        reached = {f for f in ours if short(f) == handler}
        while True:
            more = {callee for (caller, callee) in self.call_cost
                    if caller in reached and callee in ours} - reached
            if not more:
                break
            reached |= more
        costs = {f: self.self_cost.get(f, 0) for f in reached}
        for (caller, callee), cost in self.call_cost.items():
            if caller in reached and callee not in ours:
                costs[caller] += cost
        return costs


def short(function):
    return function.replace("(anonymous namespace)::", "").split("(")[0]


def main():
    small, n_small, large, n_large, handler, our_dir, caller = sys.argv[1:8]
    a, b = Profile(small), Profile(large)
    actions = int(n_large) - int(n_small)
    per = lambda x, y: round((y - x) / actions)
    costs_a, costs_b = a.attributed(our_dir, handler), b.attributed(our_dir, handler)
    ours = {short(f): per(costs_a.get(f, 0), cost) for f, cost in costs_b.items()}
    calls = ours.pop(caller, 0)
    print(json.dumps({
        "actions": actions,
        "process": per(a.total, b.total),
        "handler": per(a.inclusive_of(handler), b.inclusive_of(handler)),
        "calls": calls,
        "ours": dict(sorted(ours.items(), key=lambda item: -item[1])),
    }))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Instruction counts read from callgrind profiles written by hand."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import callgrind_costs  # noqa: E402

# main -> handler (ours) -> call (ours) -> send (library)
#                       -> scan (ours) -> sscanf (library) -> helper (library)
# plus an unreached function of ours, names compressed after first use, a subposition line,
# and a call whose cost must not count as the caller's own.
PROFILE = """# callgrind format
version: 1
positions: line
events: Ir
summary: {total}

ob=(1) /usr/lib/libglib.so
fl=(1) ???
fn=(1) g_main_dispatch
0 100
cfl=(2) /work/src/handler.cpp
cfn=(2) on_signal(int)
calls={n} 0
0 {handler}

fl=(2)
fn=(2)
10 {handler_self}
+2 5
cfn=(3) call_method(_GDBusProxy*, char const*)
calls=3 0
12 {call}
cfn=(4) (anonymous namespace)::scan(char const*)
calls=16 0
13 {scan}

fn=(3)
20 7
cfl=(1)
cfn=(5) send_sync
calls=3 0
21 {send}

fn=(4)
30 {scan_self}
cfl=(1)
cfn=(6) sscanf
calls=16 0
31 {sscanf}

fl=(3) /work/src/unused.cpp
fn=(7) never_called
1 999
"""


def profile(actions):
    call, send, scan_self, sscanf = 7 + 300 * actions, 300 * actions, 40 * actions, 160 * actions
    scan = scan_self + sscanf
    handler_self = 10 * actions
    handler = handler_self + 5 + call + scan
    return PROFILE.format(total=1000 + 2 * handler, n=actions, handler=handler,
                          handler_self=handler_self, call=call, scan=scan, send=send,
                          scan_self=scan_self, sscanf=sscanf)


class CallgrindCostsTest(unittest.TestCase):
    def write(self, text):
        f = tempfile.NamedTemporaryFile("w", suffix=".out", delete=False)
        f.write(text)
        f.close()
        self.addCleanup(os.unlink, f.name)
        return f.name

    def test_costs_per_action_come_from_the_difference_of_two_runs(self):
        small, large = self.write(profile(2)), self.write(profile(12))
        out = subprocess.run([sys.executable, os.path.join(HERE, "..", "callgrind_costs.py"),
                              small, "2", large, "12", "on_signal", "/work/src/", "call_method"],
                             capture_output=True, text=True, check=True)
        costs = json.loads(out.stdout)
        self.assertEqual(costs["actions"], 10)
        self.assertEqual(costs["handler"], 10 + 300 + 40 + 160)
        self.assertEqual(costs["process"], 2 * (10 + 300 + 40 + 160))
        self.assertEqual(costs["calls"], 300)
        # Our functions' own cost and their direct library calls; the caller of every method
        # call is reported apart, unreached code not at all, and biggest first.
        self.assertEqual(list(costs["ours"].items()), [("scan", 200), ("on_signal", 10)])

    def test_a_profile_splits_self_cost_from_the_cost_of_calls(self):
        p = callgrind_costs.Profile(self.write(profile(1)))
        self.assertEqual(p.self_cost["on_signal(int)"], 10 + 5)
        self.assertEqual(p.call_cost[("on_signal(int)", "call_method(_GDBusProxy*, char const*)")],
                         307)
        self.assertEqual(p.inclusive_of("on_signal"), 15 + 307 + 200)
        self.assertEqual(p.file_of["(anonymous namespace)::scan(char const*)"],
                         "/work/src/handler.cpp")
        costs = p.attributed("/work/src/", "on_signal")
        self.assertNotIn("never_called", {callgrind_costs.short(f) for f in costs})
        self.assertEqual(costs["(anonymous namespace)::scan(char const*)"], 200)

    def test_short_names_drop_arguments_and_anonymous_namespaces(self):
        for full, short in [("mirror_recall(int, int)", "mirror_recall"),
                            ("(anonymous namespace)::update_channel(UpdateWalk&, int)",
                             "update_channel"),
                            ("g_main_loop_run", "g_main_loop_run")]:
            with self.subTest(full=full):
                self.assertEqual(callgrind_costs.short(full), short)


if __name__ == "__main__":
    unittest.main()

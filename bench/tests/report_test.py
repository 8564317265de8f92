#!/usr/bin/python3
"""The page's goal verdicts and tables, from figures made up for the purpose."""
import copy
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import report  # noqa: E402


def latency_row(kind, channels, service_p50, floor_p50, service_p99=2000.0, floor_p99=2000.0):
    stats = lambda p50, p99: {"p50_us": p50, "p90_us": p50, "p99_us": p99, "mean_us": p50,
                              "max_us": p99}
    return {"kind": kind, "channels": channels, "reps": 1000, "required_calls": 2,
            "service_echo_calls": 0, "service": stats(service_p50, service_p99),
            "floor": stats(floor_p50, floor_p99)}


def memory(kib, heap=200):
    return {"private_dirty_kib": kib, "rss_kib": 6000, "hwm_kib": 6000, "heap_kib": heap,
            "anonymous_kib": 100, "stack_kib": 12, "files_kib": 264}


def growth(warm, checkpoint, end, signals=10000000):
    return {"channels": 4, "signals": signals, "actions": signals // 100, "warm_signals": 10000,
            "checkpoint_signals": 1000000, "burst_signals": 20000, "seconds": 2700.0,
            "checkpoint_seconds": 270.0, "peak_sampled_private_dirty_kib": end,
            "idle": memory(600), "warm": memory(warm), "checkpoint": memory(checkpoint),
            "end": memory(end), "after_burst": memory(end + 100),
            "samples": [[n, checkpoint] for n in range(50000, signals + 1, 50000)]}


def bursts(channels, once_idle):
    runs = [{"kind": kind, "burst": b, "signals": 10000, "calls": 58182, "seconds": 21.0,
             "handled": memory(23000), "once_idle": memory(once_idle)}
            for kind in ("recalls", "changes") for b in (1, 2, 3)]
    return {"channels": channels, "idle": memory(600), "runs": runs}


def size(arch, peer, needed=("libgio-2.0.so.0", "libgobject-2.0.so.0", "libglib-2.0.so.0",
                             "libc.so.6")):
    return {"arch": arch, "peer": peer, "stripped_bytes": 90000, "loaded_bytes": 80000,
            "needed": list(needed)}


def recall_row(channels, calls, p50=10000.0):
    stats = {"p50_us": p50, "p90_us": p50, "p99_us": 2 * p50, "mean_us": p50, "max_us": 3 * p50}
    return {"channels": channels, "reps": 500, "required_calls": 2 * (channels - 1),
            "calls_per_recall": {"service": {"min": calls, "max": calls},
                                 "floor": {"min": calls, "max": calls}},
            "service": dict(stats), "floor": dict(stats)}


def rate(per_second, calls):
    return {"recalls": 100, "seconds": 10.0, "per_second": per_second, "calls_per_recall": calls}


GOOD = {
    "latency": [latency_row(kind, k, 1000.0 * k, 1000.0 * k) for kind in report.KINDS
                for k in (2, 16)],
    "recalls": [recall_row(k, 2 * (k - 1)) for k in (16, 64, 72)],
    "throughput": [{"channels": 4, "service": rate(100.0, 6), "floor": rate(100.0, 6)}],
    "memory": {"idle": [{"channels": 4, "service": memory(580), "floor": memory(580)},
                        {"channels": 16, "service": memory(780), "floor": memory(800)}],
               "growth": growth(1000, 1040, 1040),
               "growth_compare": growth(900, 1200, 1200, signals=1000000)},
    "bursts": {"size": 10000, "bursts": 3, "pause_ms": 500,
               "channels": [bursts(4, 1200), bursts(16, 1624)],
               "compare": {"channels": [bursts(4, 30000)]}},
    "commands": {"service": "env G_SLICE=always-malloc build/ptz-preset-sync",
                 "floor": "env G_SLICE=always-malloc build/bench-floor",
                 "compare": "build/ptz-preset-sync"},
    "startup": {"channels": 16, "runs": 30,
                "service": {"min_ms": 60, "p50_ms": 70, "p90_ms": 80, "max_ms": 90},
                "floor": {"min_ms": 60, "p50_ms": 70, "p90_ms": 80, "max_ms": 90}},
}


SIZES = [size(arch, peer) for arch in report.ARCHES for peer in ("service", "floor")]
GOALS = 10


def verdicts(results, costs=(), sizes=SIZES):
    r = report.Report(results, list(costs), "bench/run.sh", sizes)
    pages = [r.latency(), r.recall_scale(), r.throughput(), r.memory(), r.bursts(), r.binary_sizes(),
             r.startup(), r.instructions(), r.findings()]
    return [met for _, _, met in r.goals], r, "\n".join(pages)


class ReportTest(unittest.TestCase):
    def test_figures_within_every_goal_are_all_met(self):
        met, r, page = verdicts(GOOD)
        self.assertEqual(met, [True] * GOALS)
        self.assertIn("+40 KiB", page)
        self.assertEqual(r.goals[7][1], "worst +1,024 KiB (recalls, burst 1, 16 channels)")
        self.assertEqual(r.goals[2][1], "16 channels 30 for 30, 64 channels 126 for 126, "
                                        "72 channels 142 for 142")
        # The comparison runs are shown but judge nothing.
        self.assertIn("without the unit's environment (`build/ptz-preset-sync`)", page)
        self.assertIn("+40 KiB (+300 KiB without the unit's environment)", r.goals[5][1])

    def test_each_goal_fails_on_its_own_figure(self):
        cases = [
            (0, lambda r: r["latency"].append(latency_row("remove", 8, 1111.0, 1000.0))),
            (1, lambda r: r["latency"].append(latency_row("recall", 8, 1000.0, 1000.0,
                                                          3100.0, 2000.0))),
            (0, lambda r: r["recalls"][2]["service"].update(p50_us=11100.0)),
            (2, lambda r: r["recalls"][1]["calls_per_recall"]["service"].update(max=127)),
            (3, lambda r: r["throughput"][0]["service"].update(per_second=89.0)),
            (4, lambda r: r["memory"]["idle"][0]["service"].update(private_dirty_kib=581)),
            (4, lambda r: r["memory"]["idle"][1]["service"].update(private_dirty_kib=801)),
            (5, lambda r: r["memory"]["growth"]["checkpoint"].update(private_dirty_kib=1065)),
            (6, lambda r: r["memory"]["growth"]["end"].update(private_dirty_kib=1041)),
            (7, lambda r: r["bursts"]["channels"][0]["runs"][5]["once_idle"].update(
                private_dirty_kib=1625)),
            (9, lambda r: r["startup"]["service"].update(p50_ms=84.1)),
        ]
        for goal, spoil in cases:
            with self.subTest(goal=goal):
                results = copy.deepcopy(GOOD)
                spoil(results)
                met, _, _ = verdicts(results)
                self.assertEqual(met, [i != goal for i in range(GOALS)])

    def test_a_library_beyond_glib_and_libc_on_any_architecture_fails_its_goal(self):
        sizes = copy.deepcopy(SIZES)
        sizes[3]["needed"].append("libstdc++.so.6")  # the floor on arm64: not the service
        met, _, _ = verdicts(GOOD, sizes=sizes)
        self.assertEqual(met[8], True)
        sizes[2]["needed"].append("libstdc++.so.6")
        met, r, page = verdicts(GOOD, sizes=sizes)
        self.assertEqual(met[8], False)
        self.assertIn("arm64: libstdc++.so.6", r.goals[8][1])
        self.assertIn("| armhf | service | 90,000 | 80,000 |", page)

    def test_the_worst_latency_row_is_named(self):
        results = copy.deepcopy(GOOD)
        results["latency"].append(latency_row("update-moved", 8, 1080.0, 1000.0))
        _, r, _ = verdicts(results)
        self.assertIn("1.080 (update-moved, 8 channels)", r.goals[0][1])
        results["recalls"][2]["service"]["p50_us"] = 10900.0
        _, r, page = verdicts(results)
        self.assertIn("1.090 (recall, 72 channels)", r.goals[0][1])
        self.assertIn("| 72 | 142 | 142 | 142 | 10.90 | 10.00 | 1.090 |", page)

    def test_instruction_counts_of_the_service_alone_still_make_a_page(self):
        costs = [{"peer": "service", "kind": "recall", "channels": 2,
                  "costs": {"actions": 10, "process": 600000, "handler": 220000,
                            "calls": 200000, "ours": {"mirror_recall": 14000,
                                                      "decode_preset_state": 6000}}}]
        _, _, page = verdicts(GOOD, costs)
        self.assertIn("| recall | 2 | 2 | 20,000 | 100,000 | – | – | – | – |", page)
        self.assertIn("`mirror_recall` 14,000 (70 %)", page)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""Writes docs/BENCHMARKS.md and its plot from one run's figures.

    report.py --results results.json --callgrind callgrind.jsonl --docs DIR --command TEXT
"""
import argparse
import datetime
import json
import os
import platform
import subprocess
import tempfile

KINDS = ["recall", "create-by-name", "create-by-number", "update-moved", "remove"]
P50_GOAL = 1.10
P99_GOAL = 1.5
THROUGHPUT_GOAL = 0.9
GROWTH_GOAL_KIB = 64
BURST_GOAL_KIB = 1024
STARTUP_GOAL = 1.2
# What the service may need: GLib's three libraries and the C library.
NEEDED_GOAL = {"libgio-2.0.so.0", "libgobject-2.0.so.0", "libglib-2.0.so.0", "libc.so.6"}
ARCHES = ["amd64", "arm64", "armhf"]


def run(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, check=False)
        return (out.stdout or out.stderr).strip().splitlines()[0]
    except (OSError, IndexError):
        return "unknown"


def machine(load):
    cpu = "unknown"
    memory = 0
    with open("/proc/cpuinfo", encoding="utf-8") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo", encoding="utf-8") as info:
        for line in info:
            if line.startswith("MemTotal:"):
                memory = int(line.split()[1]) // (1024 * 1024)
    system = "Linux"
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release", encoding="utf-8") as release:
            for line in release:
                if line.startswith("PRETTY_NAME="):
                    system = line.split("=", 1)[1].strip().strip('"')
    commit = run(["git", "rev-parse", "--short", "HEAD"])
    if run(["git", "status", "--porcelain", "--untracked-files=no"]) != "unknown":
        commit += " with uncommitted changes"
    return [
        ("Processor", f"{cpu}, {os.cpu_count()} cores"),
        ("Memory", f"{memory} GiB"),
        ("System", f"{system}, kernel {platform.release()}"),
        ("GLib", run(["pkg-config", "--modversion", "glib-2.0"])),
        ("Bus", run(["dbus-daemon", "--version"])),
        ("Compiler", run(["g++", "--version"]) + ", the project's default build (-O2 -g)"),
        ("Valgrind", run(["valgrind", "--version"])),
        ("Source", commit),
        ("Load average (1, 5, 15 min)", load or "unknown"),
    ]


def ratio(a, b):
    return a / b if b else float("inf")


def yes(met):
    return "yes" if met else "**no**"


def ms(us):
    return f"{us / 1000:.2f}"


def kib(value):
    return f"{value:,} KiB"


def signed_kib(value):
    return f"{value:+,} KiB"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


class Report:
    def __init__(self, results, costs, command, sizes=()):
        self.r = results
        self.costs = costs
        self.sizes = list(sizes)
        self.command = command
        self.goals = []

    def latency(self):
        rows = []
        worst50 = worst99 = (0, None)
        for row in sorted(self.r["latency"], key=lambda x: (KINDS.index(x["kind"]), x["channels"])):
            s, f = row["service"], row["floor"]
            r50, r99 = ratio(s["p50_us"], f["p50_us"]), ratio(s["p99_us"], f["p99_us"])
            rows.append([row["kind"], row["channels"], row["required_calls"],
                         row["service_echo_calls"], ms(s["p50_us"]), ms(f["p50_us"]),
                         f"{r50:.3f}", ms(s["p99_us"]), ms(f["p99_us"]), f"{r99:.2f}"])
        # The recalls at high channel counts are held to the same goals.
        scale = [dict(row, kind="recall") for row in self.r.get("recalls", [])]
        for row in self.r["latency"] + scale:
            s, f = row["service"], row["floor"]
            r50, r99 = ratio(s["p50_us"], f["p50_us"]), ratio(s["p99_us"], f["p99_us"])
            worst50 = max(worst50, (r50, row), key=lambda w: w[0])
            worst99 = max(worst99, (r99, row), key=lambda w: w[0])
        where = lambda w: f"{w[1]['kind']}, {w[1]['channels']} channels"
        self.goals.append(("p50 latency at most 1.10 × the floor's, every kind and channel count",
                           f"worst {worst50[0]:.3f} ({where(worst50)})", worst50[0] <= P50_GOAL))
        self.goals.append(("p99 latency at most 1.5 × the floor's p99",
                           f"worst {worst99[0]:.2f} ({where(worst99)})", worst99[0] <= P99_GOAL))
        reps = self.r["latency"][0]["reps"]
        return "\n".join([
            "## Latency",
            "",
            f"Time from the emission of the user's signal to the arrival of the last call the "
            f"design requires, {reps:,} repetitions per row after warm-up, service and floor "
            f"taking turns. *Calls* is the number of calls the action requires, each one "
            f"checked in order; *echo calls* is what the service then calls while it handles "
            f"the echoes of its own changes (also counted and checked, but after the time is "
            f"taken). Times in ms. The service gives freed memory back to the system "
            f"(`malloc_trim`) once its loop goes idle after every 256 signals; these runs "
            f"handle many times that, so the trims run between their repetitions and their "
            f"cost, and that of the pages they give back and the allocator then takes again, "
            f"is in these times.",
            "",
            "![Latency against channel count](bench-latency.svg)",
            "",
            table(["action", "channels", "calls", "echo calls", "service p50", "floor p50",
                   "p50 ratio", "service p99", "floor p99", "p99 ratio"], rows),
        ])

    def recall_scale(self):
        rows_in = self.r.get("recalls")
        if not rows_in:
            return ""
        rows = []
        counts = []
        for row in rows_in:
            s, f = row["service"], row["floor"]
            calls = row["calls_per_recall"]
            span = lambda c: str(c["min"]) if c["min"] == c["max"] else f"{c['min']}–{c['max']}"
            counts.append((row["channels"], calls["service"], row["required_calls"]))
            rows.append([row["channels"], span(calls["service"]), span(calls["floor"]),
                         row["required_calls"], ms(s["p50_us"]), ms(f["p50_us"]),
                         f"{ratio(s['p50_us'], f['p50_us']):.3f}", ms(s["p99_us"]),
                         ms(f["p99_us"]), f"{ratio(s['p99_us'], f['p99_us']):.2f}"])
        self.goals.append((
            "A recall costs 2(K-1) calls at every channel count measured",
            ", ".join(f"{k} channels {span(c)} for {n}" for k, c, n in counts),
            all(c["min"] == c["max"] == n for _, c, n in counts)))
        return "\n".join([
            "## Recalls at high channel counts",
            "",
            f"Recalls alone at {', '.join(str(r['channels']) for r in rows_in)} channels, "
            f"{rows_in[0]['reps']:,} repetitions per row after warm-up, service and floor taking "
            f"turns as above; 72 is the most channels the system bus's 512 match rules per "
            f"connection leave the service (7 per channel and 2). *Calls per recall* is every "
            f"call that arrived for one recall, its echoes handled, fewest to most: the 2(K-1) "
            f"a recall requires (GetPtzPresetState on each other channel, GotoPresetNumber to "
            f"each one not at the preset), each checked in order, and any after them, of "
            f"which none is owed. The floor makes the same 2(K-1) calls. Times in ms, from the "
            f"emission to the last required call; the p50 and p99 of these rows count in the "
            f"latency goals.",
            "",
            table(["channels", "calls per recall, service", "calls per recall, floor", "2(K-1)",
                   "service p50", "floor p50", "p50 ratio", "service p99", "floor p99",
                   "p99 ratio"], rows),
        ])

    def throughput(self):
        rows = []
        worst = None
        for row in self.r["throughput"]:
            s, f = row["service"], row["floor"]
            r = ratio(s["per_second"], f["per_second"])
            worst = r if worst is None else min(worst, r)
            rows.append([row["channels"], s["calls_per_recall"], f"{s['per_second']:.1f}",
                         f"{f['per_second']:.1f}", f"{r:.3f}", f"{s['seconds']:.1f} s"])
        text = ", ".join(f"{row[0]} channels {row[4]}" for row in rows)
        self.goals.append(("Throughput at least 0.9 × the floor's rate for the same calls", text,
                           worst is not None and worst >= THROUGHPUT_GOAL))
        return "\n".join([
            "## Throughput",
            "",
            "Recalls on channels 1 and 2 by turns, each emitted as soon as the one before has "
            "settled, in slices by turns between service and floor. Both make the same calls "
            "per recall: the 2(K-1) a recall requires, since the service's recall records owe "
            "every echo of its gotos and its echoes cost no call; the ratio is the service's "
            "rate against the floor's.",
            "",
            table(["channels", "calls per recall", "service recalls/s", "floor recalls/s",
                   "ratio", "service time"], rows),
        ])

    def memory(self):
        m = self.r["memory"]
        idle_rows = []
        idle_diffs = []
        for row in m["idle"]:
            s, f = row["service"], row["floor"]
            diff = s["private_dirty_kib"] - f["private_dirty_kib"]
            idle_diffs.append((row["channels"], diff))
            idle_rows.append([row["channels"], kib(s["private_dirty_kib"]),
                              kib(f["private_dirty_kib"]), signed_kib(diff), kib(s["heap_kib"]),
                              kib(f["heap_kib"]), kib(s["anonymous_kib"]),
                              kib(f["anonymous_kib"]), kib(s["rss_kib"]), kib(f["rss_kib"])])
        self.goals.append(("Idle private dirty at most the floor's, at every channel count",
                           ", ".join(f"{k} channels {signed_kib(d)}" for k, d in idle_diffs),
                           all(d <= 0 for _, d in idle_diffs)))
        g = m["growth"]
        pd = lambda point: g[point]["private_dirty_kib"]
        growth = pd("checkpoint") - pd("warm")
        further = pd("end") - pd("checkpoint")
        t = m.get("growth_compare")
        t_growth = t["checkpoint"]["private_dirty_kib"] - t["warm"]["private_dirty_kib"] \
            if t else None
        self.goals.append((f"Growth at most 64 KiB over {g['checkpoint_signals']:,} signals "
                           f"after the first {g['warm_signals']:,}",
                           signed_kib(growth) + (f" ({signed_kib(t_growth)} without the unit's "
                                                 f"environment)" if t else ""),
                           growth <= GROWTH_GOAL_KIB))
        self.goals.append((f"No further growth from {g['checkpoint_signals']:,} to "
                           f"{g['signals']:,} signals",
                           signed_kib(further), further <= 0))
        points = [("idle, after start-up", "", g["idle"]),
                  ("warmed up", f"{g['warm_signals']:,}", g["warm"]),
                  ("checkpoint", f"{g['checkpoint_signals']:,}", g["checkpoint"]),
                  ("end", f"{g['signals']:,}", g["end"]),
                  (f"after a burst of {g['burst_signals']:,} dropped signals, once idle", "",
                   g["after_burst"])]
        growth_rows = [[name, count, kib(p["private_dirty_kib"]), kib(p["heap_kib"]),
                        kib(p["anonymous_kib"]), kib(p["files_kib"]), kib(p["stack_kib"]),
                        kib(p["hwm_kib"])] for name, count, p in points]
        text = [
            "## Memory",
            "",
            "Private dirty memory from `/proc/PID/smaps_rollup`, split by mapping from "
            "`/proc/PID/smaps`: *heap* is the allocator's main heap (the service allows the "
            "allocator one arena, so the bus library's worker thread allocates there too), "
            "*other anonymous* unnamed mappings (other arenas, thread stacks, large blocks), "
            "*files* the written pages of the binary and its libraries. The floor is built as "
            "the service is (no exceptions, no RTTI, linked as C): the same connection, "
            "proxies and subscriptions and nothing else. Both run, here and in every other "
            f"stage, with the environment the unit gives the service: "
            f"`{self.command_of('service')}`.",
            "",
            "### Idle",
            "",
            table(["channels", "service", "floor", "difference", "service heap", "floor heap",
                   "service other anonymous", "floor other anonymous", "service RSS",
                   "floor RSS"], idle_rows),
            "",
            f"### Over {g['signals']:,} signals ({g['channels']} channels)",
            "",
            f"Rounds of 100 signals: 1 user action (recall, create by name, update with a move, "
            f"create by number, remove, by turns, {g['actions']:,} actions in all) with its "
            f"echoes, and the rest signals the service takes in and drops without a call "
            f"(speeds, states other than a recall, unknown change kinds, preset 0, payloads of "
            f"the wrong type). Each round ends when the action's calls have arrived, so every "
            f"signal before it has been handled. The warmed-up point, the checkpoint and the "
            f"end are read at rest: 256 more dropped signals and a recall, then a pause in which "
            f"the service's loop idles and gives back what they and the rounds before freed "
            f"(read between two of its trims, as the samples below are, memory swings by some "
            f"tens of KiB). Growth from the warmed-up point to "
            f"{g['checkpoint_signals']:,} signals: **{signed_kib(growth)}**; from there to "
            f"{g['signals']:,}: **{signed_kib(further)}**. The rounds took "
            f"{g['checkpoint_seconds']:.0f} s to the checkpoint and {g['seconds']:.0f} s in all.",
            "",
            table(["point", "signals", "private dirty", "heap", "other anonymous", "files",
                   "stack", "VmHWM (RSS peak)"], growth_rows),
            "",
            f"Private dirty sampled along the way (KiB): {self.samples(g)}.",
        ]
        if t:
            t_rows = [[name, kib(a["private_dirty_kib"]), kib(b["private_dirty_kib"])]
                      for name, a, b in (("idle", g["idle"], t["idle"]),
                                         ("warmed up", g["warm"], t["warm"]),
                                         (f"{t['checkpoint_signals']:,} signals",
                                          g["checkpoint"], t["checkpoint"]))]
            t_rows.append(["growth from warmed up", signed_kib(growth), signed_kib(t_growth)])
            text += [
                "",
                f"The same rounds over {t['signals']:,} signals with the service started "
                f"without the unit's environment (`{self.command_of('compare')}`):",
                "",
                table(["point", "with the unit's environment", "without"], t_rows),
            ]
        return "\n".join(text)

    def command_of(self, peer):
        return self.r.get("commands", {}).get(peer, "")

    @staticmethod
    def samples(run, most=20):
        points = run["samples"]
        step = max(1, -(-len(points) // most))
        shown = points[::step] + ([points[-1]] if (len(points) - 1) % step else [])
        return ", ".join(f"{n // 1000:,}k: {v:,}" for n, v in shown)

    def bursts(self):
        b = self.r.get("bursts")
        if not b:
            return ""
        rows = []
        worst = None
        for run in b["channels"]:
            idle = run["idle"]["private_dirty_kib"]
            for r in run["runs"]:
                h, o = r["handled"], r["once_idle"]
                over = o["private_dirty_kib"] - idle
                if worst is None or over > worst[0]:
                    worst = (over, f"{r['kind']}, burst {r['burst']}, {run['channels']} channels")
                rows.append([run["channels"], r["kind"], r["burst"], f"{r['signals']:,}",
                             f"{r['calls']:,}", f"{r['seconds']:.1f}", kib(idle),
                             kib(h["private_dirty_kib"]), kib(o["private_dirty_kib"]),
                             signed_kib(over), kib(o["heap_kib"]), kib(o["anonymous_kib"]),
                             kib(h["hwm_kib"])])
        if worst is not None:
            self.goals.append(("Once idle after every burst, private dirty within 1,024 KiB "
                               "of idle", f"worst {signed_kib(worst[0])} ({worst[1]})",
                               worst[0] <= BURST_GOAL_KIB))
        text = [
            "## After bursts",
            "",
            f"{b['bursts']} burst{'s' if b['bursts'] != 1 else ''} of {b['size']:,} recalls, then "
            f"{b['bursts']} of {b['size']:,} configuration changes, against one service per "
            f"channel count, each burst's "
            f"signals queued as fast as the bus takes them, with no round trip between them. "
            f"The camera's echoes go nowhere, so what each signal finds is fixed by the "
            f"pattern, and every call the burst costs is checked in order (a few signals are "
            f"added where needed so that the last one makes calls). Recalls come from channels 1 "
            f"and 2 by turns, each of another of {40} presets: every other channel is asked for "
            f"its state and sent to the preset. A recall puts what its own channel still owed in "
            f"doubt, and an echo in doubt may still come, so the records keep owing and every "
            f"33rd recall finds the echo buffer full, empties it and is dropped. "
            f"Changes are creations (by number, and renamed) "
            f"each followed by the removal of the same preset; every 33rd pair finds the "
            f"buffers full and is dropped. *Handled* is read as the last call arrives; *once "
            f"idle* {b['pause_ms']} ms later, by when the service's low-priority `malloc_trim` "
            f"has run. Seconds from the first signal to the last call.",
            "",
            table(["channels", "burst of", "#", "signals", "calls", "seconds", "idle before",
                   "handled", "once idle", "once idle − idle", "heap once idle",
                   "other anonymous once idle", "VmHWM"], rows),
        ]
        c = b.get("compare")
        if c:
            crows = []
            for run in c["channels"]:
                idle = run["idle"]["private_dirty_kib"]
                for r in run["runs"]:
                    o = r["once_idle"]
                    crows.append([run["channels"], r["kind"], f"{r['signals']:,}", kib(idle),
                                  kib(r["handled"]["private_dirty_kib"]),
                                  kib(o["private_dirty_kib"]),
                                  signed_kib(o["private_dirty_kib"] - idle),
                                  kib(o["heap_kib"])])
            text += [
                "",
                f"The first burst of each kind again, with the service started without the "
                f"unit's environment (`{self.command_of('compare')}`):",
                "",
                table(["channels", "burst of", "signals", "idle before", "handled", "once idle",
                       "once idle − idle", "heap once idle"], crows),
            ]
        return "\n".join(text)

    def binary_sizes(self):
        if not self.sizes:
            return ""
        by = {(s["arch"], s["peer"]): s for s in self.sizes}
        rows = []
        extra = []
        for arch in [a for a in ARCHES if (a, "service") in by]:
            for peer in ("service", "floor"):
                s = by.get((arch, peer))
                if not s:
                    continue
                rows.append([arch, peer, f"{s['stripped_bytes']:,}", f"{s['loaded_bytes']:,}",
                             ", ".join(s["needed"])])
            beyond = set(by[(arch, "service")]["needed"]) - NEEDED_GOAL
            if beyond:
                extra.append(f"{arch}: {', '.join(sorted(beyond))}")
        self.goals.append(("The service needs only libgio, libgobject, libglib and libc, on "
                           "every architecture built",
                           "; ".join(extra) if extra else
                           ", ".join(a for a in ARCHES if (a, "service") in by) + ": nothing else",
                           not extra))
        return "\n".join([
            "## Size and libraries",
            "",
            "Each binary stripped; *loaded* is text + data + bss as `size` reads them (aarch64 "
            "pads its segments in the file); *needs* is the NEEDED entries of the dynamic "
            "section. The ARM builds are cross-builds of the same sources with Debian's cross "
            "compilers.",
            "",
            table(["arch", "binary", "stripped bytes", "loaded bytes", "needs"], rows),
        ])

    def startup(self):
        s = self.r["startup"]
        a, b = s["service"], s["floor"]
        r = ratio(a["p50_ms"], b["p50_ms"])
        self.goals.append((f"Start-up at most 1.2 × the floor at {s['channels']} channels",
                           f"{r:.3f} ({a['p50_ms']:.1f} ms against {b['p50_ms']:.1f} ms)",
                           r <= STARTUP_GOAL))
        rows = [[name, f"{x['min_ms']:.1f}", f"{x['p50_ms']:.1f}", f"{x['p90_ms']:.1f}",
                 f"{x['max_ms']:.1f}"] for name, x in (("service", a), ("minimal client", b))]
        return "\n".join([
            "## Start-up",
            "",
            f"From the spawn (fork and exec) to the moment the bus receives the AddMatch of the "
            f"last subscription (PresetSpeed of channel {s['channels']}), seen by a bus "
            f"monitor; {s['runs']} runs each, by turns. The minimal client connects, reads the "
            f"channel count through a proxy of the coordinator, creates the same "
            f"{2 * s['channels']} proxies with G_DBUS_PROXY_FLAGS_NONE and makes the same "
            f"{3 * s['channels']} subscriptions. Ratio of the medians: **{r:.3f}**.",
            "",
            table(["", "min ms", "p50 ms", "p90 ms", "max ms"], rows),
        ])

    def calls_per_action(self, kind, channels):
        for r in self.r["latency"]:
            if r["kind"] == kind and r["channels"] == channels:
                return r["required_calls"] + r["service_echo_calls"]
        return 0

    def instructions(self):
        by = {(c["peer"], c["kind"], c["channels"]): c["costs"] for c in self.costs}
        rows = []
        for kind in ("recall", "update-moved"):
            for channels in sorted({c for (_, k, c) in by if k == kind}):
                cells = [kind, channels]
                own = {}
                for peer in ("service", "floor"):
                    c = by.get((peer, kind, channels))
                    n = self.calls_per_action(kind, channels)
                    if not c or not n:
                        cells += ["–"] * 3
                        continue
                    own[peer] = c["handler"] - c["calls"]
                    cells += [n, f"{own[peer]:,}", f"{c['calls'] // n:,}"]
                cells.append(f"{own['service'] - own['floor']:+,}" if len(own) == 2 else "–")
                rows.append(cells)
        tops = []
        for (peer, kind, channels), c in sorted(by.items()):
            if peer != "service":
                continue
            own = c["handler"] - c["calls"]
            named = "; ".join(f"`{name}` {cost:,} ({100 * cost / max(own, 1):.0f} %)"
                              for name, cost in list(c["ours"].items())[:3])
            tops.append(f"- {kind}, {channels} channels ({own:,} in all): {named}.")
        return "\n".join([
            "## Instructions per action",
            "",
            "From `valgrind --tool=callgrind`, in the main thread inside the signal handler: "
            "each peer runs twice, with a small and a large number of actions (every call "
            "checked as above, echoes included), and the difference of the two profiles divided "
            "by the difference of the counts is the cost of one action, with start-up and the "
            "readiness probe gone. *Own work* is the handler without the method calls: decoding, "
            "the echo test, building the arguments, reading the replies and listings, deciding. "
            "*In the bus, per call* is what one synchronous call costs the main thread inside "
            "the bus library (building, sending, waiting, receiving); it depends on how the "
            "threads were scheduled under valgrind and moves by tens of percent from run to run, "
            "while the own work repeats to within a few instructions.",
            "",
            table(["action", "channels", "service calls", "service own work",
                   "service in the bus, per call", "floor calls", "floor own work",
                   "floor in the bus, per call", "own work, service − floor"], rows),
            "",
            "The three largest costs of our own code besides the calls, per action: each "
            "function's own instructions and those of the library calls it makes directly, as a "
            "share of the service's own work.",
            "",
            "\n".join(tops),
        ])

    def findings(self):
        """What the figures say about where the time and the memory go."""
        lat = {(r["kind"], r["channels"]): r for r in self.r["latency"]}
        top = max(r["channels"] for r in self.r["latency"])
        per_call = []
        for kind in KINDS:
            r = lat.get((kind, top))
            if r:
                extra = r["service"]["p50_us"] - r["floor"]["p50_us"]
                per_call.append(f"{kind} {extra / r['required_calls']:+.0f} µs")
        out = ["## Where the time and memory go", ""]
        out.append(
            f"- **Latency.** Every action is a chain of synchronous calls, and the floor makes "
            f"the same chain, so what the service adds is its own work between the calls: "
            f"decoding the signal, the echo test, reading each listing and deciding. At {top} "
            f"channels the difference of the medians, spread over the required calls, is "
            f"{', '.join(per_call)} per call, against a round trip of several hundred µs: the "
            f"calls are the time, and the order in which service and floor happen to meet the "
            f"machine's other work moves the medians more than our code does.")
        listed = ", ".join(f"{r['kind']} {r['required_calls'] + r['service_echo_calls']}"
                           for r in self.r["latency"] if r["channels"] == top)
        scale = self.r.get("recalls", [])
        measured = ""
        if scale:
            spans = [(r["channels"], r["calls_per_recall"]["service"]) for r in scale]
            measured = "; measured alone, a recall cost " + ", ".join(
                f"{c['min']}{'' if c['min'] == c['max'] else '–' + str(c['max'])} calls at "
                f"{k} channels" for k, c in spans)
        out.append(
            f"- **Echoes cost no call.** Each echo record owes the echoes its calls cause, "
            f"channel by channel: a configuration change those of its renames, updates, saves "
            f"and removals (a creation by number one record for its saves and its renames), a "
            f"recall one echo from each channel it sent to the preset. Every echo is taken off "
            f"its record, so at {top} channels an action costs the calls it requires and no "
            f"more: {listed}{measured}.")
        if scale:
            per_call = ", ".join(
                f"{r['channels']} channels "
                f"{(r['service']['p50_us'] - r['floor']['p50_us']) / r['required_calls']:+.0f} µs"
                f" ({ms(r['service']['p50_us'])} ms against {ms(r['floor']['p50_us'])} ms)"
                for r in scale)
            out.append(
                f"- **Recalls at high channel counts.** The difference of the medians, spread "
                f"over the 2(K-1) calls, is {per_call} per call.")
        thr = self.r.get("throughput", [])
        if thr:
            text = "; ".join(
                f"{r['channels']} channels: service {r['service']['per_second']:.0f}/s, floor "
                f"{r['floor']['per_second']:.0f}/s "
                f"({r['service']['per_second'] / r['floor']['per_second']:.3f} of it)"
                for r in thr)
            out.append(
                f"- **Throughput.** {text}. Both make the same 2(K-1) calls per recall, so "
                f"what separates them is the service's own work between the calls: decoding "
                f"the state, the echo test and its record.")
        by = {(c["peer"], c["kind"], c["channels"]): c["costs"] for c in self.costs}
        for kind in ("recall", "update-moved"):
            for channels in sorted({c for (p, k, c) in by if k == kind and p == "service"}):
                sc, fc = by.get(("service", kind, channels)), by.get(("floor", kind, channels))
                if not (sc and fc):
                    continue
                own = sc["handler"] - sc["calls"]
                floor_own = fc["handler"] - fc["calls"]
                n = self.calls_per_action(kind, channels)
                out.append(
                    f"- **Instructions, {kind}, {channels} channels.** Our own work comes to "
                    f"{own:,} instructions per action ({own // max(n, 1):,} per call made), the "
                    f"floor's to {floor_own:,}; one call costs the main thread about "
                    f"{sc['calls'] // max(n, 1):,} inside the bus library, so our own work is "
                    f"{100 * own / max(sc['handler'], 1):.0f} % of the handler's instructions, "
                    f"and the process spends far more in the bus library's worker thread "
                    f"({sc['process']:,} instructions per action in all).")
        idle = ", ".join(
            f"{r['channels']} channels {signed_kib(r['service']['private_dirty_kib'] - r['floor']['private_dirty_kib'])}"
            for r in self.r["memory"]["idle"])
        out.append(
            f"- **Idle memory.** The service's private dirty memory against the floor's: "
            f"{idle}. What it holds beyond the floor is small: the three change echo buffers "
            f"(32 records of 208 bytes each), the recall echo buffer and the per-channel "
            f"tables, about 20 KiB in all; proxies, subscriptions and the bus library's tables "
            f"are the same in both, and the rest is which pages the allocator happened to "
            f"touch (the service allows one allocator arena, the floor the default).")
        m = self.r["memory"]
        g, t = m["growth"], m.get("growth_compare")
        grow = g["checkpoint"]["private_dirty_kib"] - g["warm"]["private_dirty_kib"]
        further = g["end"]["private_dirty_kib"] - g["checkpoint"]["private_dirty_kib"]
        text = (f"- **Memory growth.** {signed_kib(grow)} over {g['checkpoint_signals']:,} "
                f"signals after warm-up, {signed_kib(further)} more to {g['signals']:,}, "
                f"{signed_kib(g['end']['heap_kib'] - g['warm']['heap_kib'])} of it all in the "
                f"heap")
        if t:
            t_grow = t["checkpoint"]["private_dirty_kib"] - t["warm"]["private_dirty_kib"]
            text += (f"; {signed_kib(t_grow)} over {t['checkpoint_signals']:,} without the "
                     f"unit's environment")
        out.append(text + ".")
        b = self.r.get("bursts")
        if b:
            over = []
            for run in b["channels"]:
                idle_kib = run["idle"]["private_dirty_kib"]
                for r in run["runs"]:
                    over.append((r["once_idle"]["private_dirty_kib"] - idle_kib,
                                 r["once_idle"]["heap_kib"] - run["idle"]["heap_kib"],
                                 r["handled"]["private_dirty_kib"] - idle_kib, r, run))
            high = max(over, key=lambda x: x[0])
            text = (f"- **After bursts.** A burst's signals wait in the service's queue until "
                    f"handled, each a message, its body and its dispatch: at the last call of "
                    f"a burst the service is up to {signed_kib(max(x[2] for x in over))} over "
                    f"idle. Once idle it kept up to {signed_kib(high[0])} ({high[3]['kind']}, "
                    f"{high[4]['channels']} channels), {signed_kib(high[1])} of it in the heap")
            c = b.get("compare")
            if c:
                c_over = max(r["once_idle"]["private_dirty_kib"] - run["idle"]["private_dirty_kib"]
                             for run in c["channels"] for r in run["runs"])
                text += f"; without the unit's environment it kept up to {signed_kib(c_over)}"
                if c_over > BURST_GOAL_KIB >= high[0]:
                    text += (", which is what GLib's slice allocator (before GLib 2.76) and the "
                             "allocator's per-thread cache keep when the unit does not turn "
                             "them off: blocks `malloc_trim` cannot give back")
            out.append(text + ".")
        return "\n".join(out)

    def goals_table(self):
        return table(["goal", "figure", "met"],
                     [[name, figure, yes(met)] for name, figure, met in self.goals])


def write_plot(results, docs):
    rows = {}
    for row in results["latency"]:
        rows.setdefault(row["kind"], []).append(row)
    with tempfile.NamedTemporaryFile("w", suffix=".dat", delete=False) as data:
        for kind in KINDS:
            for row in sorted(rows.get(kind, []), key=lambda x: x["channels"]):
                s, f = row["service"], row["floor"]
                data.write(f"{row['channels']} {s['p50_us'] / 1000} {f['p50_us'] / 1000} "
                           f"{s['p99_us'] / 1000} {f['p99_us'] / 1000} "
                           f"{ratio(s['p50_us'], f['p50_us'])} {ratio(s['p99_us'], f['p99_us'])}\n")
            data.write("\n\n")
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(docs, "bench-latency.svg")
    subprocess.run(["gnuplot", "-e", f"datafile='{data.name}'; outfile='{out}'",
                    os.path.join(here, "plot.gp")], check=True)
    os.unlink(data.name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--callgrind", required=True)
    parser.add_argument("--docs", required=True)
    parser.add_argument("--command", required=True)
    parser.add_argument("--sizes", default="")
    parser.add_argument("--load", default="")
    args = parser.parse_args()
    with open(args.results, encoding="utf-8") as f:
        results = json.load(f)
    with open(args.callgrind, encoding="utf-8") as f:
        costs = [json.loads(line) for line in f if line.strip()]
    sizes = []
    if args.sizes:
        with open(args.sizes, encoding="utf-8") as f:
            sizes = [json.loads(line) for line in f if line.strip()]
    report = Report(results, costs, args.command, sizes)
    sections = [report.latency(), report.recall_scale(), report.throughput(), report.memory(), report.bursts(),
                report.binary_sizes(), report.startup(), report.instructions(),
                report.findings()]
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "report_notes.md"),
              encoding="utf-8") as f:
        notes = f.read().strip()
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    text = "\n\n".join([
        "# Benchmarks",
        f"Every figure below comes from one run of `{args.command}` on {now}; rerun it to "
        f"refresh this page and its plot (the full run takes about 47 minutes on 2 idle cores; "
        f"`bench/run.sh --smoke` is the short run CI makes, which fails on a wrong call count).",
        "## Goals",
        report.goals_table(),
        "## Machine",
        table(["", ""], machine(args.load)),
        notes,
        *[section for section in sections if section],
    ]) + "\n"
    os.makedirs(args.docs, exist_ok=True)
    with open(os.path.join(args.docs, "BENCHMARKS.md"), "w", encoding="utf-8") as f:
        f.write(text)
    write_plot(results, args.docs)


if __name__ == "__main__":
    main()

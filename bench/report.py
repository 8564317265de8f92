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
IDLE_GOAL_KIB = 256
GROWTH_GOAL_KIB = 64
STARTUP_GOAL = 1.2


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
    def __init__(self, results, costs, command):
        self.r = results
        self.costs = costs
        self.command = command
        self.goals = []

    def latency(self):
        rows = []
        worst50 = worst99 = (0, None)
        for row in sorted(self.r["latency"], key=lambda x: (KINDS.index(x["kind"]), x["channels"])):
            s, f = row["service"], row["floor"]
            r50, r99 = ratio(s["p50_us"], f["p50_us"]), ratio(s["p99_us"], f["p99_us"])
            worst50 = max(worst50, (r50, row), key=lambda w: w[0])
            worst99 = max(worst99, (r99, row), key=lambda w: w[0])
            rows.append([row["kind"], row["channels"], row["required_calls"],
                         row["service_echo_calls"], ms(s["p50_us"]), ms(f["p50_us"]),
                         f"{r50:.3f}", ms(s["p99_us"]), ms(f["p99_us"]), f"{r99:.2f}"])
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
            f"taken). Times in ms.",
            "",
            "![Latency against channel count](bench-latency.svg)",
            "",
            table(["action", "channels", "calls", "echo calls", "service p50", "floor p50",
                   "p50 ratio", "service p99", "floor p99", "p99 ratio"], rows),
        ])

    def throughput(self):
        rows = []
        worst = None
        for row in self.r["throughput"]:
            s, f, q = row["service"], row["floor"], row["floor_required"]
            r = ratio(s["per_second"], f["per_second"])
            worst = r if worst is None else min(worst, r)
            rows.append([row["channels"], s["calls_per_recall"], f"{s['per_second']:.1f}",
                         f"{f['per_second']:.1f}", f"{r:.3f}", q["calls_per_recall"],
                         f"{q['per_second']:.1f}", f"{ratio(s['per_second'], q['per_second']):.3f}",
                         f"{s['seconds']:.1f} s"])
        text = ", ".join(f"{row[0]} channels {row[4]}" for row in rows)
        self.goals.append(("Throughput at least 0.9 × the floor's rate for the same calls", text,
                           worst is not None and worst >= THROUGHPUT_GOAL))
        return "\n".join([
            "## Throughput",
            "",
            "Recalls on channels 1 and 2 by turns, each emitted as soon as the one before has "
            "settled, in slices by turns between the three peers. *Floor, same calls* answers "
            "each echo after the first with the state queries the service makes for it, so it "
            "makes exactly the service's calls; *floor, required calls* makes only the calls a "
            "recall requires.",
            "",
            table(["channels", "calls per recall", "service recalls/s", "floor, same calls",
                   "ratio", "required calls", "floor, required calls", "ratio",
                   "service time"], rows),
        ])

    def memory(self):
        m = self.r["memory"]
        idle_rows = []
        for row in m["idle"]:
            s, f = row["service"], row["floor"]
            diff = s["private_dirty_kib"] - f["private_dirty_kib"]
            idle_rows.append([row["channels"], kib(s["private_dirty_kib"]),
                              kib(f["private_dirty_kib"]), signed_kib(diff), kib(s["heap_kib"]),
                              kib(f["heap_kib"]), kib(s["rss_kib"]), kib(f["rss_kib"])])
            if row["channels"] == max(r["channels"] for r in m["idle"]):
                self.goals.append((f"Idle private dirty at most the minimal client's + 256 KiB "
                                   f"at {row['channels']} channels", signed_kib(diff),
                                   diff <= IDLE_GOAL_KIB))
        g = m["growth"]
        growth = g["end"]["private_dirty_kib"] - g["warm"]["private_dirty_kib"]
        t = m.get("growth_without_thread_cache")
        t_growth = t["end"]["private_dirty_kib"] - t["warm"]["private_dirty_kib"] if t else None
        self.goals.append((f"No growth beyond 64 KiB over {g['signals']:,} signals after the "
                           f"first {g['warm_signals']:,}",
                           signed_kib(growth) + (f" ({signed_kib(t_growth)} with the allocator's "
                                                 f"per-thread cache off)" if t else ""),
                           growth <= GROWTH_GOAL_KIB))
        points = [("idle, after start-up", "", g["idle"]),
                  ("warmed up", f"{g['warm_signals']:,}", g["warm"]),
                  ("end", f"{g['signals']:,}", g["end"]),
                  (f"after a burst of {g['burst_signals']:,}", "", g["after_burst"])]
        growth_rows = [[name, count, kib(p["private_dirty_kib"]), kib(p["heap_kib"]),
                        kib(p["anonymous_kib"]), kib(p["files_kib"]), kib(p["stack_kib"]),
                        kib(p["hwm_kib"])] for name, count, p in points]
        samples = lambda run: ", ".join(f"{n // 1000}k: {v}" for n, v in run["samples"])
        high = g["after_burst"]["private_dirty_kib"] - g["idle"]["private_dirty_kib"]
        run_high = g["peak_sampled_private_dirty_kib"] - g["idle"]["private_dirty_kib"]
        heap = g["after_burst"]["heap_kib"] - g["idle"]["heap_kib"]
        anon = g["after_burst"]["anonymous_kib"] - g["idle"]["anonymous_kib"]
        text = [
            "## Memory",
            "",
            "Private dirty memory from `/proc/PID/smaps_rollup`, split by mapping from "
            "`/proc/PID/smaps`: *heap* is the main thread's allocator heap, *other anonymous* "
            "the arenas and stacks of other threads (the bus library's worker thread reads "
            "every message), *files* the written pages of the binary and its libraries. The "
            "minimal client is the floor client: the same connection, proxies and "
            "subscriptions and nothing else.",
            "",
            "### Idle",
            "",
            table(["channels", "service", "minimal client", "difference", "service heap",
                   "client heap", "service RSS", "client RSS"], idle_rows),
            "",
            f"### Over {g['signals']:,} signals ({g['channels']} channels)",
            "",
            f"Rounds of 100 signals: 1 user action (recall, create by name, update with a move, "
            f"create by number, remove, by turns, {g['actions']:,} actions in all) with its "
            f"echoes, and the rest signals the service takes in and drops without a call "
            f"(speeds, states other than a recall, unknown change kinds, preset 0, payloads of "
            f"the wrong type). Each round ends when the action's calls have arrived, so every "
            f"signal before it has been handled. Growth from the warmed-up point to the end: "
            f"**{signed_kib(growth)}**.",
            "",
            table(["point", "signals", "private dirty", "heap", "other anonymous", "files",
                   "stack", "VmHWM (RSS peak)"], growth_rows),
            "",
            f"Private dirty sampled every 50,000 signals (KiB): {samples(g)}.",
            "",
            f"High-water mark over idle: {signed_kib(run_high)} during the rounds (which queue "
            f"at most 100 signals at a time), {signed_kib(high)} after a burst of "
            f"{g['burst_signals']:,} signals sent without a pause ({signed_kib(heap)} in the "
            f"main heap, {signed_kib(anon)} in other anonymous mappings). The burst's signals "
            f"are read by the bus library's worker thread, which allocates each message in its "
            f"own allocator arena and queues it for the main loop faster than the main loop "
            f"drops them; once handled they are freed, but the arena keeps its pages for the "
            f"next burst. That is the queue's peak, not a leak.",
        ]
        if t:
            t_rows = [[name, kib(a["private_dirty_kib"]), kib(b["private_dirty_kib"])]
                      for name, a, b in (("idle", g["idle"], t["idle"]),
                                         ("warmed up", g["warm"], t["warm"]),
                                         ("end", g["end"], t["end"]),
                                         ("after the burst", g["after_burst"], t["after_burst"]))]
            t_rows.append(["growth from warmed up to end", signed_kib(growth),
                           signed_kib(t_growth)])
            text += [
                "",
                "### Where the growth comes from",
                "",
                "Looked into apart from this run: under valgrind's massif the service's live "
                "heap stays flat (about 220 KB) over 150,000 signals of these rounds, and "
                "memcheck finds nothing lost, and no more still reachable after 80,000 signals "
                "than after 20,000, so nothing is leaked; a thread calling `malloc_trim(0)` "
                "every 200 ms does not stop the growth either. It stops when the C library "
                "allocator's per-thread cache is off, which fits how the bus library uses "
                "memory: its worker thread allocates every incoming message and the main thread "
                "frees it, so the main thread's cache fills with chunks of the worker's arena "
                "while the worker takes fresh ones, and cached chunks count as in use, which "
                "no trim returns. The same rounds in this run, with the cache off by "
                "`GLIBC_TUNABLES=glibc.malloc.tcache_count=0` in the service's environment:",
                "",
                table(["point", "as built", "per-thread cache off"], t_rows),
                "",
                f"Samples with the cache off (KiB): {samples(t)}.",
            ]
        return "\n".join(text)

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

    def calls_per_action(self, peer, kind, channels):
        for r in self.r["latency"]:
            if r["kind"] == kind and r["channels"] == channels:
                echo = r["service_echo_calls"] if peer == "service" or kind == "recall" else 0
                return r["required_calls"] + echo
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
                    n = self.calls_per_action(peer, kind, channels)
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
        echo_rows = [(r["kind"], r["required_calls"], r["service_echo_calls"])
                     for r in self.r["latency"] if r["channels"] == top]
        if any(e for _, _, e in echo_rows):
            listed = ", ".join(f"{k} {c + e} calls for {c} required" for k, c, e in echo_rows)
            out.append(
                f"- **Echoes cost calls after the action.** A configuration change leaves one "
                f"echo record per kind its calls echo in, owing every one of those echoes (a "
                f"creation by number owes its renames in a record among the updates), so every "
                f"echo of a creation, update or removal is recognised and costs nothing. A "
                f"recall keeps one record, which its first echo takes: with 3 or more channels "
                f"its later echoes pass the filter as recalls of their own channels, and each "
                f"asks every other channel for its state and finds it at the preset. At {top} "
                f"channels an action costs {listed}. These "
                f"calls come after the last required call, so they do not lengthen the latency "
                f"above, but they hold the main loop, and an action that arrives meanwhile "
                f"waits for them.")
        thr = self.r.get("throughput", [])
        if thr:
            text = "; ".join(
                f"{r['channels']} channels: service {r['service']['per_second']:.0f}/s, floor "
                f"with the same calls {r['floor']['per_second']:.0f}/s, floor with the required "
                f"calls only {r['floor_required']['per_second']:.0f}/s "
                f"({r['floor_required']['per_second'] / r['service']['per_second']:.1f} × the "
                f"service)" for r in thr)
            out.append(
                f"- **Throughput.** {text}. What separates the service from the floor with the "
                f"required calls only is "
                f"the recall echoes above, which the recall echo filter of the design gives "
                f"(one record per recall, matched against the oldest record only). A recall "
                f"record that owed one echo per channel sent to the preset, as a configuration "
                f"change's record does, would remove them; that is a change to the design, not "
                f"to how our code carries it out.")
        by = {(c["peer"], c["kind"], c["channels"]): c["costs"] for c in self.costs}
        for kind in ("recall", "update-moved"):
            for channels in sorted({c for (p, k, c) in by if k == kind and p == "service"}):
                sc, fc = by.get(("service", kind, channels)), by.get(("floor", kind, channels))
                if not (sc and fc):
                    continue
                own = sc["handler"] - sc["calls"]
                floor_own = fc["handler"] - fc["calls"]
                n = self.calls_per_action("service", kind, channels)
                out.append(
                    f"- **Instructions, {kind}, {channels} channels.** Our own work comes to "
                    f"{own:,} instructions per action ({own // max(n, 1):,} per call made), the "
                    f"floor's to {floor_own:,}; one call costs the main thread about "
                    f"{sc['calls'] // max(n, 1):,} inside the bus library, so our own work is "
                    f"{100 * own / max(sc['handler'], 1):.0f} % of the handler's instructions, "
                    f"and the process spends far more in the bus library's worker thread "
                    f"({sc['process']:,} instructions per action in all).")
        idle = max(self.r["memory"]["idle"], key=lambda r: r["channels"])
        diff = idle['service']['private_dirty_kib'] - idle['floor']['private_dirty_kib']
        out.append(
            f"- **Idle memory.** At {idle['channels']} channels the service's private dirty "
            f"memory differs from the minimal client's by {signed_kib(diff)}. What it holds "
            f"beyond the client is small: the three change echo buffers (32 records of 208 "
            f"bytes each), the recall echo buffer and the per-channel tables, about 20 KiB in "
            f"all; proxies, subscriptions and the bus library's tables are the same in both, "
            f"and the rest is which pages the allocator happened to touch.")
        m = self.r["memory"]
        if "growth_without_thread_cache" in m:
            g, t = m["growth"], m["growth_without_thread_cache"]
            grow = g["end"]["private_dirty_kib"] - g["warm"]["private_dirty_kib"]
            t_grow = t["end"]["private_dirty_kib"] - t["warm"]["private_dirty_kib"]
            out.append(
                f"- **Memory growth.** {signed_kib(grow)} over {g['signals']:,} signals as "
                f"built, {signed_kib(t_grow)} with the allocator's per-thread cache off; no "
                f"leak (see above). The fix is to start the service with "
                f"`GLIBC_TUNABLES=glibc.malloc.tcache_count=0` in its environment (the unit "
                f"file); this run does not measure what that does to the times.")
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
    parser.add_argument("--load", default="")
    args = parser.parse_args()
    with open(args.results, encoding="utf-8") as f:
        results = json.load(f)
    with open(args.callgrind, encoding="utf-8") as f:
        costs = [json.loads(line) for line in f if line.strip()]
    report = Report(results, costs, args.command)
    sections = [report.latency(), report.throughput(), report.memory(), report.startup(),
                report.instructions(), report.findings()]
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "report_notes.md"),
              encoding="utf-8") as f:
        notes = f.read().strip()
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    text = "\n\n".join([
        "# Benchmarks",
        f"Every figure below comes from one run of `{args.command}` on {now}; rerun it to "
        f"refresh this page and its plot (the full run takes about 20 minutes on 2 cores; "
        f"`bench/run.sh --smoke` is the short run CI makes, which fails on a wrong call count).",
        "## Goals",
        report.goals_table(),
        "## Machine",
        table(["", ""], machine(args.load)),
        notes,
        *sections,
    ]) + "\n"
    os.makedirs(args.docs, exist_ok=True)
    with open(os.path.join(args.docs, "BENCHMARKS.md"), "w", encoding="utf-8") as f:
        f.write(text)
    write_plot(results, args.docs)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Turns one Google Benchmark JSON run of wexal_bench into the tables of
medians (MB/s and the ratio to ICU on the same corpus), checks the targets,
and draws a bar chart.

    report.py RESULTS.json OUT_DIR [--readme bench/README.md]

Writes OUT_DIR/results.md and OUT_DIR/results.png and prints the tables.
With --readme, the tables replace the part of that file between the
"<!-- results -->" and "<!-- /results -->" lines.
"""
import json
import platform
import re
import sys

CORPORA = ["ascii", "french", "cjk", "emoji", "invalid", "names"]
DIRECTIONS = [
    ("u8to16", "UTF-8 to UTF-16", ["transcode_into", "stackstring", "reference", "icu", "iconv", "widen_limit", "memcpy_limit"]),
    ("u16to8", "UTF-16 to UTF-8", ["transcode_into", "stackstring", "reference", "icu", "iconv", "narrow_limit", "memcpy_limit"]),
]
# Each kernel forced (rows only for those the processor has), and the ratios
# to ICU the best of them should reach.
KERNELS = ["kernel_portable", "kernel_sse2", "kernel_ssse3", "kernel_avx2", "kernel_avx512",
           "simdutf_best", "simdutf_avx2", "simdutf_replace"]
for _key, _title, _rows in DIRECTIONS:
    _rows.extend(KERNELS)
KERNEL_TARGETS = {"u8to16": {"ascii": 8.6, "french": 4.2, "cjk": 1.85, "emoji": 3.1},
                  "u16to8": {"ascii": 8.1, "french": 4.7, "cjk": 2.7, "emoji": 3.8}}
SIZES = ["1024", "65536", "1048576"]


def load_medians(path):
    with open(path) as f:
        data = json.load(f)
    medians = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        # Without repetitions there are no aggregates: take the single run.
        if b.get("run_type") == "aggregate" or name not in medians:
            medians[name] = b
    return data.get("context", {}), medians


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.machine()


def mbps(entry):
    return entry["bytes_per_second"] / 1e6 if entry and "bytes_per_second" in entry else None


def ns(entry):
    if not entry:
        return None
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry.get("time_unit", "ns")]
    return entry["cpu_time"] * scale


def fmt_rate(v):
    return "-" if v is None else ("%.0f" % v if v < 100000 else "%.3g" % v)


def build_string_report(medians, out, checks, targets):
    """Counted transcode beside transcode_into; widen / narrow against a string
    of the result's size plus transcode_into; lossless against default."""
    out("### Counted conversion and strings (MB/s of input; ratio in brackets)")
    out("")
    out("| row | " + " | ".join(CORPORA) + " |")
    out("|---|" + "---|" * len(CORPORA))
    rows = []
    for key, convert in (("u8to16", "widen"), ("u16to8", "narrow")):
        rows.append(("%s transcode (/ transcode_into)" % key, "%s/%%s/transcode" % key, "%s/%%s/transcode_into" % key, 0.95))
        base = "strings/%s/%%s/" % key
        rows.append(("%s alloc + transcode_into" % key, base + "alloc_transcode_into", None, None))
        rows.append(("%s %s (/ alloc + transcode_into)" % (key, convert), base + convert, base + "alloc_transcode_into", 0.9))
        rows.append(("%s %s in 64 KiB pieces (/ transcode_into)" % (key, convert + "er"), base + convert + "er",
                     "%s/%%s/transcode_into" % key, 0.9))
        rows.append(("%s %s lossless (/ default)" % (key, convert), base + convert + "_lossless", base + convert, 0.7))
    for label, name, against, need in rows:
        cells = []
        for corpus in CORPORA:
            v = mbps(medians.get(name % corpus))
            w = mbps(medians.get(against % corpus)) if against else None
            cells.append(fmt_rate(v) if v is None or not w else "%s (%.2fx)" % (fmt_rate(v), v / w))
            # Lossless on text with unpaired surrogates does more work by design.
            if v is not None and w and not (need == 0.7 and "lossless" in name and corpus == "invalid"):
                # widen / narrow one pass, and text in pieces: the engine's targets.
                where = targets if need == 0.9 and not (corpus == "names" and "pieces" in label) else checks
                where.append(("%s on %s >= %gx" % (label, corpus, need), v / w >= need, "%.2fx" % (v / w)))
        out("| %s | %s |" % (label, " | ".join(cells)))
    out("")


def engine_targets(context, medians, checks, targets):
    """The engine against the rival (simdutf, which cannot replace by itself),
    ICU and the plain loop. With --wexal_kernel=avx2 (context wexal_kernel)
    the library runs its AVX2 kernel as the best, and the rival's AVX2 kernel
    stands for its best."""
    forced = context.get("wexal_kernel")
    rival = "simdutf_avx2" if forced == "avx2" else "simdutf_best"

    def rate(key, corpus, row):
        return mbps(medians.get("%s/%s/%s" % (key, corpus, row)))
    for key, title, _ in DIRECTIONS:
        for corpus in ["ascii", "french", "cjk", "emoji", "names"]:
            ours, best = rate(key, corpus, "transcode_into"), rate(key, corpus, rival)
            if ours and best:
                targets.append(("%s %s: transcode_into / %s >= 0.8" % (title, corpus, rival), ours / best >= 0.8,
                                "%.2fx" % (ours / best)))
        for corpus in ["ascii", "french", "cjk", "emoji", "names"]:
            ours, theirs = rate(key, corpus, "kernel_avx2"), rate(key, corpus, "simdutf_avx2")
            if ours and theirs:
                targets.append(("%s %s: kernel_avx2 / simdutf_avx2 >= 1" % (title, corpus), ours / theirs >= 1,
                                "%.2fx" % (ours / theirs)))
        ours, replacing, icu = (rate(key, "invalid", r) for r in ("transcode_into", "simdutf_replace", "icu"))
        if ours and replacing:
            targets.append(("%s invalid: transcode_into / simdutf replacing (%s) >= 2" % (title, "its best"),
                            ours / replacing >= 2, "%.2fx" % (ours / replacing)))
        if ours and icu:
            targets.append(("%s invalid: transcode_into / ICU >= 3" % title, ours / icu >= 3, "%.2fx" % (ours / icu)))
        ours, plain = rate(key, "names", "transcode_into"), rate(key, "names", "reference")
        if ours and plain:
            checks.append(("%s names: transcode_into / plain loop >= 1" % title, ours / plain >= 1,
                           "%.2fx" % (ours / plain)))
    for ours, plain, best in (("transcode_into", "reference", "simdutf_to_utf16"),
                              ("transcode_into_utf8", "reference_utf8", "simdutf_to_utf8")):
        mine, theirs, loop = (ns(medians.get("call/convert40/" + r)) for r in (ours, best, plain))
        if mine and theirs:
            targets.append(("call/convert40/%s at most 1.5x the time of %s" % (ours, best), mine <= 1.5 * theirs,
                            "%.1f ns against %.1f ns (%.2fx)" % (mine, theirs, mine / theirs)))
        if mine and loop:
            targets.append(("call/convert40/%s no slower than the plain loop" % ours, mine <= loop,
                            "%.1f ns against %.1f ns" % (mine, loop)))


def build_report(context, medians):
    lines = []
    out = lines.append
    checks = []
    targets = []

    for key, title, rows in DIRECTIONS:
        out("### %s (MB/s of input; ratio to ICU)" % title)
        out("")
        out("| row | " + " | ".join(CORPORA) + " |")
        out("|---|" + "---|" * len(CORPORA))
        for row in rows:
            cells = []
            for corpus in CORPORA:
                v = mbps(medians.get("%s/%s/%s" % (key, corpus, row)))
                icu = mbps(medians.get("%s/%s/icu" % (key, corpus)))
                if v is None:
                    cells.append("-")
                elif icu:
                    cells.append("%s (%.2fx)" % (fmt_rate(v), v / icu))
                else:
                    cells.append(fmt_rate(v))
            out("| %s | %s |" % (row, " | ".join(cells)))
        out("")
        for corpus in CORPORA:
            v = mbps(medians.get("%s/%s/transcode_into" % (key, corpus)))
            icu = mbps(medians.get("%s/%s/icu" % (key, corpus)))
            if v is None or not icu:
                continue
            need = {"ascii": 10.0, "french": 2.0, "names": 2.0}.get(corpus, 1.3)
            checks.append(("%s %s: transcode_into / ICU >= %g" % (title, corpus, need), v / icu >= need, "%.2fx" % (v / icu)))
            best = max([mbps(medians.get("%s/%s/%s" % (key, corpus, k))) or 0 for k in KERNELS
                        if k.startswith("kernel_")])
            if corpus in KERNEL_TARGETS[key] and best:
                need = KERNEL_TARGETS[key][corpus]
                checks.append(("%s %s: best kernel / ICU >= %g" % (title, corpus, need), best / icu >= need,
                               "%.2fx" % (best / icu)))

    out("### transcode_into by input size (MB/s)")
    out("")
    out("| direction / corpus | 1 KiB | 64 KiB | 1 MiB | max/min |")
    out("|---|---|---|---|---|")
    for key, title, _ in DIRECTIONS:
        for corpus in CORPORA:
            values = [mbps(medians.get("size/%s/%s/%s" % (key, corpus, size))) for size in SIZES]
            if any(v is None for v in values):
                continue
            spread = max(values) / min(values)
            out("| %s %s | %s |  %.2f |" % (key, corpus, " | ".join(fmt_rate(v) for v in values), spread))
    out("")

    out("### Console buffers against the in-memory console (MB/s of input)")
    out("")
    out("| buffer | " + " | ".join(CORPORA) + " |")
    out("|---|" + "---|" * len(CORPORA))
    for kind, label in (("out", "output, 4 KiB writes (UTF-8 in)"), ("out_old_loop", "output, per-character loop"),
                        ("in", "input, 1024-unit reads (UTF-16 in)"), ("in_old_loop", "input, per-character loop")):
        cells = [fmt_rate(mbps(medians.get("console/%s/%s" % (kind, corpus)))) for corpus in CORPORA]
        out("| %s | %s |" % (label, " | ".join(cells)))
    out("")
    console_ascii = mbps(medians.get("console/out/ascii"))
    if console_ascii is not None:
        checks.append(("console output of ASCII >= 2000 MB/s", console_ascii >= 2000, "%.0f MB/s" % console_ascii))
    for kind, key in (("out", "u8to16"), ("in", "u16to8")):
        for corpus in CORPORA:
            console = mbps(medians.get("console/%s/%s" % (kind, corpus)))
            whole = mbps(medians.get("%s/%s/transcode_into" % (key, corpus)))
            if console is None or whole is None or (kind, corpus) == ("out", "ascii"):
                continue
            (targets if kind == "out" else checks).append(
                ("console %s of %s >= 0.8x %s transcode_into" % (kind, corpus, key), console >= 0.8 * whole,
                 "%.2fx" % (console / whole)))

    out("### Calls (ns per call, CPU time; heap allocations per call)")
    out("")
    out("| call | ns | allocations |")
    out("|---|---|---|")
    call_names = sorted(n for n in medians if n.startswith("call/"))
    for name in call_names:
        e = medians[name]
        allocs = e.get("allocs")
        out("| %s | %.1f | %s |" % (name[len("call/"):], ns(e), "-" if allocs is None else "%.2f" % allocs))
    out("")
    for name in call_names:
        allocs = medians[name].get("allocs")
        if "/library" in name or "stackstring" in name:
            checks.append(("%s allocates nothing" % name, allocs is not None and allocs < 0.01, "%.2f" % (allocs or 0)))
    for row, icu_row in (("wide_stackstring", "icu_to_utf16"), ("narrow_stackstring", "icu_to_utf8")):
        mine = ns(medians.get("call/convert40/" + row))
        theirs = ns(medians.get("call/convert40/" + icu_row))
        if mine and theirs:
            checks.append(("call/convert40/%s at least twice as fast as ICU" % row, theirs / mine >= 2,
                           "%.2fx" % (theirs / mine)))
    convert = ns(medians.get("call/convert40/wide_stackstring"))
    platform_call = ns(medians.get("call/fopen/libc_missing_file"))
    if convert is not None and platform_call is not None:
        checks.append(("converting a 40-byte name costs less than the C library's own fopen",
                       convert < platform_call, "%.0f ns against %.0f ns" % (convert, platform_call)))

    build_string_report(medians, out, checks, targets)
    engine_targets(context, medians, checks, targets)

    out("### Targets%s" % (" (the library's best kernel forced to %s)" % context["wexal_kernel"]
                           if context.get("wexal_kernel") else ""))
    out("")
    for label, ok, value in targets:
        out("- %s %s: %s" % ("met" if ok else "NOT MET", label, value))
    out("")
    out("### Earlier checks")
    out("")
    for label, ok, value in checks:
        out("- %s %s: %s" % ("met" if ok else "not met", label, value))
    out("")
    out("Run: %s; %s; %s CPUs at %s MHz; load average at the start: %s." %
        (context.get("date", "?"), cpu_model(), context.get("num_cpus", "?"), context.get("mhz_per_cpu", "?"),
         ", ".join("%.2f" % x for x in context.get("load_avg", []))))
    return "\n".join(lines) + "\n"


def draw_chart(medians, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("python3-matplotlib is missing: no chart drawn", file=sys.stderr)
        return
    fig, axes = plt.subplots(2, 1, figsize=(13, 9))
    for ax, (key, title, rows) in zip(axes, DIRECTIONS):
        width = 0.8 / len(rows)
        for i, row in enumerate(rows):
            values = [mbps(medians.get("%s/%s/%s" % (key, corpus, row))) or 0 for corpus in CORPORA]
            ax.bar([x + i * width for x in range(len(CORPORA))], values, width, label=row)
        ax.set_yscale("log")
        ax.set_ylabel("MB/s of input (log)")
        ax.set_title(title)
        ax.set_xticks([x + 0.4 - width / 2 for x in range(len(CORPORA))])
        ax.set_xticklabels(CORPORA)
        ax.legend(fontsize=8, ncol=4)
        ax.grid(axis="y", which="both", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    context, medians = load_medians(argv[1])
    report = build_report(context, medians)
    with open(argv[2] + "/results.md", "w") as f:
        f.write(report)
    draw_chart(medians, argv[2] + "/results.png")
    print(report)
    if "--readme" in argv:
        readme = argv[argv.index("--readme") + 1]
        with open(readme) as f:
            text = f.read()
        text = re.sub(r"(<!-- results -->\n).*(<!-- /results -->)", lambda m: m.group(1) + report + m.group(2),
                      text, flags=re.S)
        with open(readme, "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

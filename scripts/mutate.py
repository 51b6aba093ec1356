#!/usr/bin/env python3
"""Mutation testing for the library's tests.

Picks source lines of the command layer (src/api), the port layer (src/usb), device events
(src/events), the Linux platform (src/platform/linux, the hidraw backend aside: see VM_ONLY) and
the simulated bus (src/platform/sim) with a seeded generator, applies one textual mutation at a
time, rebuilds the test program in a build directory of its own, runs the tests labelled
`mutation` (the GoogleTest suites; not the installed package, the C host or the VM suites, which
need other builds or minutes each) and restores the file. Prints one line per mutant, `killed`,
`survived`, `equivalent` (a survivor listed in scripts/mutate-equivalent.txt, reviewed as one that
nothing can tell from the original) or `no-compile`, with file:line and the mutation, then the
score, with and without the reviewed equivalents. The same seed and count on the same sources give
the same mutants, so two runs (before and after a change to the tests) can be compared line by
line.

Slow: one build and one test run per mutant. Not part of the test command; run it by hand, e.g.
    nice -n 19 python3 scripts/mutate.py --seed 4 --count 250 --build-dir build/mutate
With --asan the build runs under AddressSanitizer (about twice as slow), which also catches the
mutants that only leak, free twice or read freed memory; keep a separate --build-dir for it.

It edits the sources in place and puts each file back whatever happens; a copy of the file being
mutated is kept in the build directory and put back on the next start should the script be killed.
--root points it at another copy of the tree (git archive, or a worktree), so that the working tree
can change while it runs. --by-test names, for each mutant, the tests that catch it.
"""

import argparse
import concurrent.futures
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

SOURCE_DIRS = ("src/api", "src/usb", "src/events", "src/platform/linux", "src/platform/sim")
# The hidraw backend runs only in the test VM's suites (minutes a run, on a kernel's HID devices):
# the suites run on each mutant never reach it, so its mutants would all survive unseen.
VM_ONLY = ("src/platform/linux/hidraw.h", "src/platform/linux/hid_services_linux.cpp",
           "src/platform/linux/hid_transfers.cpp", "src/platform/linux/hid_plug_events.cpp",
           "src/platform/linux/usb_string.cpp", "src/platform/linux/usb_string.h")
SOURCE_SUFFIXES = (".cpp", ".h")

COMPARISONS = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > "}
LOGICAL = {" && ": " || ", " || ": " && "}
INTEGER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uU]?[lL]{0,2}[uU]?)(?![\w.])")
RETURN_VALUE = re.compile(r"^(\s*)return\s+(.+);\s*$")
STATEMENT = re.compile(r"^(\s*)([A-Za-z_:][\w:.\->\[\]*&]*\s*(\(.*\)|[-+*/|&]?=.*|\+\+|--)\s*);\s*$")


def mask_literals_and_comments(line, in_block_comment):
    """Blanks out string and character literals and comments, so that mutations only see code.
    Returns the masked line and whether a block comment is still open at its end."""
    out = []
    i = 0
    while i < len(line):
        if in_block_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (len(line) - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_block_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        if line.startswith("/*", i):
            in_block_comment = True
            continue
        if c in "\"'":
            j = i + 1
            while j < len(line) and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, len(line))
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else " " * (j - i))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out), in_block_comment


def mutations_of_line(masked, previous_code):
    """Every mutation of one line: (description, function from the original line to the mutant)."""
    found = []

    def replace_at(start, end, text):
        return lambda line: line[:start] + text + line[end:]

    for table in (COMPARISONS, LOGICAL):
        for old, new in table.items():
            for match in re.finditer(re.escape(old), masked):
                found.append((f"'{old.strip()}' -> '{new.strip()}'", replace_at(match.start(), match.end(), new)))
    for match in INTEGER.finditer(masked):
        digits, suffix = match.group(1), match.group(2)
        value = int(digits, 0)
        for shifted in (value + 1, value - 1):
            if shifted < 0:
                continue
            text = (hex(shifted) if digits[:2].lower() == "0x" else str(shifted)) + suffix
            found.append((f"{digits}{suffix} -> {text}", replace_at(match.start(), match.end(), text)))
    for old, new in (("true", "false"), ("false", "true")):
        for match in re.finditer(rf"\b{old}\b", masked):
            found.append((f"{old} -> {new}", replace_at(match.start(), match.end(), new)))

    # Statements and returned values only when the line is a whole statement: the previous code
    # line ended one, so that dropping this one cannot change what an unbraced `if` governs.
    whole = previous_code.rstrip().endswith((";", "{", "}", ":")) or previous_code.strip() == ""
    returned = RETURN_VALUE.match(masked)
    if whole and returned and returned.group(2).strip() not in ("{}", "0", "nullptr", "false"):
        indent = returned.group(1)
        found.append(("drop the returned value", lambda line, indent=indent: f"{indent}return {{}};\n"))
    elif whole and STATEMENT.match(masked) and masked.count("(") == masked.count(")"):
        found.append(("drop the statement", lambda line: "\n"))
    return found


def mutable_lines(root):
    """(path, line number, [mutations]) for each line of the sources with at least one mutation."""
    lines = []
    for directory in SOURCE_DIRS:
        for path in sorted((root / directory).iterdir()):
            if path.suffix not in SOURCE_SUFFIXES or path.relative_to(root).as_posix() in VM_ONLY:
                continue
            in_block = False
            previous_code = ""
            for number, line in enumerate(path.read_text().splitlines(keepends=True), start=1):
                masked, in_block = mask_literals_and_comments(line.rstrip("\n"), in_block)
                if not masked.strip():
                    continue
                if masked.lstrip().startswith("#") or re.match(r"\s*(static_assert|using|namespace|template)\b", masked):
                    previous_code = masked
                    continue
                found = mutations_of_line(masked, previous_code)
                if found:
                    lines.append((path.relative_to(root).as_posix(), number, found))
                previous_code = masked
    return lines


def reviewed_equivalents(root):
    """{(path, stripped line, mutation)} from scripts/mutate-equivalent.txt."""
    listed = set()
    path = root / "scripts" / "mutate-equivalent.txt"
    for line in path.read_text().splitlines() if path.exists() else []:
        fields = [field.strip() for field in line.split(" | ")]
        if not line.startswith("#") and len(fields) == 4:
            listed.add(tuple(fields[:3]))
    return listed


def choose_mutants(root, seed, count):
    """Chooses `count` distinct lines, then one mutation on each, with a generator seeded by `seed`."""
    rng = random.Random(seed)
    lines = mutable_lines(root)
    chosen = rng.sample(lines, min(count, len(lines)))
    return [(path, number, *rng.choice(found)) for path, number, found in chosen]


def run(command, cwd, timeout=None):
    """True when the command succeeds within timeout seconds. It runs in a process group of its own,
    killed whole on a time-out or an interruption: ctest's own limit does not cover tests that set
    theirs, and a hung test would outlive a killed ctest."""
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=timeout) == 0
    except subprocess.TimeoutExpired:
        return False
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def failing_tests(binary, names, timeout):
    """The tests among names that fail or time out, each run in a process of its own, two at once."""
    def fails(name):
        return not run([str(binary), f"--gtest_filter={name}"], binary.parent, timeout)

    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        return [name for name, failed in zip(names, pool.map(fails, names)) if failed]


def test_names(binary):
    listing = subprocess.run([str(binary), "--gtest_list_tests"], stdout=subprocess.PIPE, text=True,
                             check=True).stdout
    names, suite = [], ""
    for line in listing.splitlines():
        if not line.startswith(" "):
            suite = line.split("#")[0].strip()
        else:
            names.append(suite + line.split("#")[0].strip())
    return names


class Restorer:
    """Keeps the original of the file being mutated, in memory and on disk, and puts it back."""

    def __init__(self, root, build):
        self.root = root
        self.backup = build / "mutate-original"
        self.name = build / "mutate-original.path"
        self.path = None
        self.text = None
        if self.backup.exists() and self.name.exists():  # left by a killed run
            (root / self.name.read_text()).write_text(self.backup.read_text())
            print(f"restored {self.name.read_text()} from an interrupted run", flush=True)
        self.clear()

    def save(self, relative):
        self.path = self.root / relative
        self.text = self.path.read_text()
        self.backup.write_text(self.text)
        self.name.write_text(relative)

    def restore(self):
        if self.path is not None:
            self.path.write_text(self.text)
            self.path = None
        self.clear()

    def clear(self):
        for leftover in (self.backup, self.name):
            if leftover.exists():
                leftover.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=250)
    parser.add_argument("--build-dir", default="build/mutate")
    parser.add_argument("--root", default=str(Path(__file__).resolve().parent.parent),
                        help="the source tree to mutate (default: this script's)")
    parser.add_argument("--timeout", type=int, default=60, help="seconds one test may take (ctest's default)")
    parser.add_argument("--run-timeout", type=int, default=180,
                        help="seconds the whole test run may take; longer counts as a failure")
    parser.add_argument("--only", default="", help="comma-separated mutant numbers to run (from --list)")
    parser.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    parser.add_argument("--asan", action="store_true",
                        help="build with AddressSanitizer, so that a mutant that only leaks or frees twice is caught")
    parser.add_argument("--by-test", action="store_true",
                        help="run every test of each mutant, each with --timeout, and name the ones that fail")
    args = parser.parse_args()

    root = Path(args.root).resolve()
    build = Path(args.build_dir)
    build = build if build.is_absolute() else root / build
    build.mkdir(parents=True, exist_ok=True)
    restorer = Restorer(root, build)

    mutants = choose_mutants(root, args.seed, args.count)
    wanted = {int(n) for n in args.only.split(",") if n.strip()}
    if args.list:
        for number, (path, line, description, _) in enumerate(mutants, start=1):
            print(f"#{number} {path}:{line} {description}")
        return 0

    def stop(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)

    flags = "-O0 -fsanitize=address -fno-omit-frame-pointer" if args.asan else "-O0"
    configure = ["cmake", "-S", str(root), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                 f"-DCMAKE_CXX_FLAGS={flags}", f"-DCMAKE_C_FLAGS={flags}", "-DKV4_WERROR=OFF",
                 "-DKV4_BENCHMARKS=OFF"]
    build_tests = ["cmake", "--build", str(build), "--target", "kv4usbcp_tests"]
    test = ["ctest", "--test-dir", str(build), "-L", "mutation", "-j2", "--stop-on-failure", "--timeout",
            str(args.timeout)]
    if not (run(configure, root) and run(build_tests, root)):
        print("the unmutated tree does not build", file=sys.stderr)
        return 2
    binary = build / "tests" / "kv4usbcp_tests"
    names = test_names(binary) if args.by_test else []
    started = time.time()
    if failing_tests(binary, names, args.timeout) if args.by_test else not run(test, root, args.run_timeout):
        print("the tests fail on the unmutated tree", file=sys.stderr)
        return 2

    print(f"seed {args.seed}, {len(mutants)} mutants of {root}; the unmutated tests take "
          f"{time.time() - started:.0f} s", flush=True)
    tally = {"killed": 0, "survived": 0, "equivalent": 0, "no-compile": 0}
    equivalents = reviewed_equivalents(root)
    started = time.time()
    try:
        for number, (path, line, description, mutate) in enumerate(mutants, start=1):
            if wanted and number not in wanted:
                continue
            restorer.save(path)
            lines = restorer.text.splitlines(keepends=True)
            original = lines[line - 1].strip()
            lines[line - 1] = mutate(lines[line - 1])
            (root / path).write_text("".join(lines))
            failed = []
            if not run(build_tests, root):
                outcome = "no-compile"
            elif args.by_test:
                failed = failing_tests(binary, names, args.timeout)
                outcome = "killed" if failed else "survived"
            elif run(test, root, args.run_timeout):
                outcome = "survived"
            else:
                outcome = "killed"
            if outcome == "survived" and (path, original, description) in equivalents:
                outcome = "equivalent"
            restorer.restore()
            tally[outcome] += 1
            by = f"  by {' '.join(failed)}" if failed else ""
            print(f"{outcome:<10} #{number} {path}:{line} {description}{by}", flush=True)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
    finally:
        restorer.restore()
        run(build_tests, root)  # leave the build matching the sources

    compiled = tally["killed"] + tally["survived"] + tally["equivalent"]
    score = 100.0 * tally["killed"] / compiled if compiled else 0.0
    judged = compiled - tally["equivalent"]
    without = 100.0 * tally["killed"] / judged if judged else 0.0
    print(f"score: {tally['killed']} killed, {tally['survived']} survived, {tally['equivalent']} reviewed "
          f"equivalent, {tally['no-compile']} no-compile; {score:.1f}% of the compiled mutants killed, "
          f"{without:.1f}% of those not reviewed equivalent ({time.time() - started:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Standing mutation check of the fast tests.

Each mutant in mutants.txt is one small, realistic fault in the station's code. The script copies
the tree (tracked and untracked, not ignored) to a scratch folder, builds the fast tests there
once, and then, one mutant at a time, plants the fault in the copy, rebuilds, runs the fast tests
until one fails, and takes the fault out again. The working tree is never touched.

    bench/mutation/mutate.py [--scratch DIR] [--only ID[,ID...]] [--jobs N] [--no-slow]

Prints one line per mutant (killed by which test, survived, equivalent, stillborn when the mutant
does not compile, or stale when its text is no longer in the code) and the kill ratios of the
non-equivalent mutants that compiled: by the fast tests, and with the slow tests (end-to-end over
pseudo-terminals) run against the fast tests' survivors; each for the mutants written from the code
alone by someone who had not read its tests ("origin: independent ...") apart from the rest.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent


@dataclass
class Mutant:
    ident: str
    what: str
    file: str = ""
    find: str = ""
    replace: str = ""
    tests: list = field(default_factory=list)
    equivalent: str = ""
    origin: str = "authors"

    @property
    def independent(self):
        return self.origin.startswith("independent")


def unescape(text):
    """\\n is a line break, \\\\ a backslash."""
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m[1], m[1]), text)


def read_list(path):
    """Blocks of `key: value` lines; a block starts with `[id] what`."""
    tiers, mutants, current = {"fast": [], "slow": []}, [], None
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        if line.startswith("["):
            ident, _, what = line[1:].partition("]")
            current = Mutant(ident.strip(), what.strip())
            mutants.append(current)
            continue
        key, sep, value = line.partition(":")
        if not sep:
            sys.exit(f"{path}:{number}: expected `key: value`")
        key, value = key.strip(), value[1:] if value.startswith(" ") else value
        if current is None:
            if key not in tiers:
                sys.exit(f"{path}:{number}: `{key}` before the first mutant")
            tiers[key] = value.split()
        elif key in ("file", "find", "replace", "equivalent", "origin"):
            setattr(current, key, unescape(value) if key in ("find", "replace") else value)
        elif key == "tests":
            current.tests = value.split()
        else:
            sys.exit(f"{path}:{number}: unknown key `{key}`")
    return tiers["fast"], tiers["slow"], mutants


def run(cmd, cwd, timeout, env=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace")
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired:
        return -1, "timed out"


def copy_tree(scratch):
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, stdout=subprocess.PIPE).stdout.split(b"\0")
    # The build lives inside the copy, as in a checkout, so ccache finds what the tree compiled.
    src = scratch / "tree"
    wanted = {Path(os.fsdecode(name)) for name in files if name}
    for old in list(src.rglob("*")) if src.is_dir() else []:
        rel = old.relative_to(src)
        if rel.parts[0] != "build" and old.is_file() and rel not in wanted:
            old.unlink()  # a file gone from the tree goes from the copy
    for name in filter(None, files):
        rel = Path(os.fsdecode(name))
        if not (ROOT / rel).is_file():
            continue
        (src / rel).parent.mkdir(parents=True, exist_ok=True)
        # A changed file gets the time of the copy, so that the build sees it newer than what it
        # compiled before, also where an interrupted run left a mutant in the copy.
        if not (src / rel).is_file() or (src / rel).read_bytes() != (ROOT / rel).read_bytes():
            shutil.copy(ROOT / rel, src / rel)
    return src


class Bench:
    def __init__(self, scratch, fast, slow, jobs):
        self.src = copy_tree(scratch)
        self.build = self.src / "build"
        self.jobs = jobs
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", CCACHE_BASEDIR=str(self.src),
                        QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
        if os.geteuid() == 0:  # Chromium will not start its sandbox as root (as the web tests run)
            self.env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
        code, out = run(["cmake", "-S", self.src, "-B", self.build, "-DCMAKE_BUILD_TYPE=Release",
                         # The end-to-end tests need the plant simulator: tools are built too.
                         "-DRTU_STATION_TOOLS=ON", *launcher], ROOT, 600, self.env)
        if code != 0:
            sys.exit("configure failed:\n" + out)
        self.targets = self.known_targets(fast)
        self.slow = self.known_targets(slow)
        # What the slow tests start: the simulator and the program (a mutant may be in either).
        self.peers = self.known_targets(["plant-sim", "rtu-station"]) if self.slow else []

    def known_targets(self, wanted):
        code, out = run(["cmake", "--build", self.build, "--target", "help"], ROOT, 120)
        names = {line.split()[1] for line in out.splitlines() if line.startswith("... ")}
        missing = [t for t in wanted if t not in names]
        if missing:
            print(f"tests not in this build (left out): {' '.join(missing)}")
        return [t for t in wanted if t in names]

    def compile(self, targets=None):
        return run(["cmake", "--build", self.build, "-j", str(self.jobs), "--target",
                    *(targets or self.targets)], ROOT, 1800, self.env)

    def test(self, order):
        """The first fast test that fails, or None."""
        for name in order:
            exe = next(self.build.rglob(name), None)
            if exe is None:
                continue
            code, _ = run([str(exe)], exe.parent, 300, self.env)
            if code != 0:
                return name
        return None


def ratio_line(label, mutants, verdicts, killed_by):
    counted = [m for m in mutants if verdicts[m.ident] in ("killed", "survived")]
    killed = [m for m in counted if verdicts[m.ident] == "killed" and killed_by[m.ident] in killed_by["tiers"]]
    ratio = 100.0 * len(killed) / len(counted) if counted else 0.0
    return f"{label}: {len(killed)}/{len(counted)} = {ratio:.1f} %"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scratch", default="/tmp/rtu-station-mutation")
    parser.add_argument("--only", default="")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--list", default=str(HERE / "mutants.txt"))
    parser.add_argument("--no-slow", action="store_true",
                        help="do not run the slow tests against the fast tests' survivors")
    args = parser.parse_args()

    fast, slow, mutants = read_list(Path(args.list))
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m.ident in wanted]
    scratch = Path(args.scratch)
    scratch.mkdir(parents=True, exist_ok=True)
    bench = Bench(scratch, fast, [] if args.no_slow else slow, args.jobs)

    code, out = bench.compile(bench.targets + bench.slow + bench.peers)
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + out[-4000:])
    if failing := bench.test(bench.targets + bench.slow):
        sys.exit(f"the unmutated tree fails {failing}: mend that first")

    tally = {"killed": 0, "survived": 0, "equivalent": 0, "stillborn": 0, "stale": 0}
    verdicts, tier_of = {}, {}
    survivors = []
    started = time.monotonic()
    for m in mutants:
        path = bench.src / m.file
        text = path.read_text() if path.is_file() else ""
        hits = text.count(m.find) if m.find else 0
        tier = ""
        if hits != 1:
            verdict = "stale"
            detail = f"{'not found' if hits == 0 else f'{hits} places'} in {m.file}: update the list"
        else:
            path.write_text(text.replace(m.find, m.replace))
            try:
                # The likely killers are built and run first, the other fast tests only when they
                # pass, the slow ones only for a survivor of all the fast ones.
                first = [t for t in m.tests if t in bench.targets]
                rest = [t for t in bench.targets if t not in first]
                killer, code = None, 0
                for name, group in (("fast", first), ("fast", rest), ("slow", bench.slow)):
                    if not group or killer:
                        continue
                    code, out = bench.compile(group + (bench.peers if name == "slow" else []))
                    if code != 0:
                        break
                    killer = bench.test(group)
                    tier = name
                if code != 0:
                    verdict, detail = "stillborn", "does not compile"
                elif killer:
                    verdict, detail = "killed", f"by {killer}" + (" (slow)" if tier == "slow" else "")
                elif m.equivalent:
                    verdict, detail = "equivalent", m.equivalent
                else:
                    verdict, detail = "survived", "no test failed"
                    survivors.append(m)
            finally:
                path.write_text(text)
        tally[verdict] += 1
        verdicts[m.ident], tier_of[m.ident] = verdict, tier
        origin = "independent" if m.independent else "authors"
        print(f"{verdict:10} {m.ident:28} [{origin}] {m.what} — {detail}", flush=True)

    print()
    print(", ".join(f"{n} {k}" for k, n in tally.items()) +
          f" ({time.monotonic() - started:.0f} s)")
    groups = (("independently written", [m for m in mutants if m.independent]),
              ("written by the code's authors", [m for m in mutants if not m.independent]),
              ("all", mutants))
    for label, group in groups:
        if not group:
            continue
        for tiers, how in ((("fast",), "fast tests"), (("fast", "slow"), "with the slow tests")):
            killed_by = dict(tier_of, tiers=tiers)
            print("kill ratio, " + ratio_line(f"{label}, {how}", group, verdicts, killed_by))
    for m in survivors:
        print(f"survivor: {m.ident}: {m.what}")
    bench.compile()  # leave the scratch build matching the unmutated copy
    return 0 if tally["stale"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

"""What bench/compare and bench/whole-build share: finding or building the
programs, timing one child with its peak memory, and describing the machine.

Standard library only, so the scripts run wherever python3 does."""

import os
import platform
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "bench")
BENCH_BIN = os.path.join(BENCH, "node_modules", ".bin")
RELEASE_BIN = os.path.join(ROOT, "build", "release", "bin")


def say(text=""):
    print(text, flush=True)


def build_release(targets):
    """Builds the release preset's TARGETS (two jobs: the machine is shared)."""
    missing = [t for t in targets if not os.access(os.path.join(RELEASE_BIN, t), os.X_OK)]
    if not missing:
        return
    say("building " + " ".join(missing) + " (release preset)")
    subprocess.run(["cmake", "--preset", "release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "release", "-j2", "--target", *missing], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)


def ensure_bench_packages():
    """The other minifiers and the style-sheet packages, as bench/package-lock.json pins them."""
    lock = os.path.join(BENCH, "package-lock.json")
    installed = os.path.join(BENCH, "node_modules", ".package-lock.json")
    if os.path.exists(installed) and os.path.getmtime(installed) >= os.path.getmtime(lock):
        return
    say("installing bench/package-lock.json (npm ci --prefix bench)")
    # Without --legacy-peer-deps npm 11 refuses its own lock file: Bulma's
    # optional peer sass-embedded names platform packages that the lock
    # cannot list. No peer is needed to read the packages' style sheets.
    subprocess.run(["npm", "ci", "--prefix", BENCH, "--no-audit", "--no-fund", "--loglevel=error",
                    "--legacy-peer-deps"], check=True)


def run_child(argv, stdout_path, stdin_path=None, env=None, timeout=None):
    """Runs ARGV once with standard output into STDOUT_PATH; returns
    (wall seconds, peak RSS in bytes, exit status, standard error text).
    Peak RSS is the child's own (wait4's rusage), not the largest
    descendant's: each tool here does its work in the process started.
    A child still running after TIMEOUT seconds is killed (status -9)."""
    with open(stdout_path, "wb") as out, open(stdout_path + ".err", "wb") as err:
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        try:
            start = time.perf_counter()
            child = subprocess.Popen(argv, stdin=stdin, stdout=out, stderr=err, env=env)
            timer = threading.Timer(timeout, child.kill) if timeout else None
            if timer:
                timer.start()
            _, status, usage = os.wait4(child.pid, 0)
            wall = time.perf_counter() - start
            if timer:
                timer.cancel()
        finally:
            if stdin_path:
                stdin.close()
    child.returncode = os.waitstatus_to_exitcode(status)
    with open(stdout_path + ".err", "rb") as err:
        error_text = err.read().decode("utf-8", "replace")
    return wall, usage.ru_maxrss * 1024, child.returncode, error_text


def median(values):
    return statistics.median(values)


def command_output(argv):
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=60)
        return (done.stdout or done.stderr).strip()
    except (OSError, subprocess.TimeoutExpired):
        return "unavailable"


def machine_lines():
    """A few lines that say what the numbers were measured on and how busy it was."""
    lscpu = command_output(["lscpu"])
    model = next((l.split(":", 1)[1].strip() for l in lscpu.splitlines() if l.startswith("Model name")), "?")
    memory = "?"
    with open("/proc/meminfo") as info:
        for line in info:
            if line.startswith("MemTotal"):
                memory = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
    os_name = platform.platform()
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release") as release:
            for line in release:
                if line.startswith("PRETTY_NAME="):
                    os_name = line.split("=", 1)[1].strip().strip('"') + ", kernel " + platform.release()
    compiler = command_output(["c++", "--version"]).splitlines()[0]
    return [
        "cpu: %s, %d logical CPUs" % (model, os.cpu_count() or 0),
        "memory: " + memory,
        "os: " + os_name,
        "compiler: " + compiler,
        "python: " + sys.version.split()[0] + ", node: " + command_output(["node", "--version"]),
        "load: " + command_output(["uptime"]),
    ]


def mb(size):
    return size / 1e6


def which(name, extra_dirs=()):
    for directory in extra_dirs:
        candidate = os.path.join(directory, name)
        if os.access(candidate, os.X_OK):
            return candidate
    return shutil.which(name)

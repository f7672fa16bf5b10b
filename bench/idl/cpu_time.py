#!/usr/bin/env python3
"""CPU time (user + system) of whole commands, median of N runs, with the precision of
getrusage: what `quibrel-tlb idl` costs as a process (start, load, write), which the
in-process benchmark leaves partly out.

    bench/idl/cpu_time.py [-n 10] -- build/src/quibrel-tlb idl ../shared/typelibs/files/mshtml.tlb --output /tmp/x.idl

Several commands separated by "--" run in turn, so that a changing load treats them alike.
Standard output of each command is discarded.
"""
import os
import statistics
import sys


def run(cmd):
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        try:
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        sys.exit(f"{' '.join(cmd)}: failed ({status})")
    return usage.ru_utime, usage.ru_stime


def main(argv):
    runs = 10
    if len(argv) >= 2 and argv[0] == "-n":
        runs = int(argv[1])
        argv = argv[2:]
    commands, current = [], []
    for word in argv:
        if word == "--":
            if current:
                commands.append(current)
            current = []
        else:
            current.append(word)
    if current:
        commands.append(current)
    if not commands:
        sys.exit(__doc__)
    times = [[] for _ in commands]
    for _ in range(runs):
        for i, cmd in enumerate(commands):
            times[i].append(run(cmd))
    for cmd, t in zip(commands, times):
        total = sorted(u + s for u, s in t)
        print(f"median {statistics.median(total) * 1000:.1f} ms CPU "
              f"(user {statistics.median(u for u, _ in t) * 1000:.1f}, system {statistics.median(s for _, s in t) * 1000:.1f}; "
              f"min {total[0] * 1000:.1f}, max {total[-1] * 1000:.1f}; {runs} runs)  {' '.join(cmd)}")


if __name__ == "__main__":
    main(sys.argv[1:])

#!/usr/bin/env python3
"""Checks the README's tours: its C and Python code blocks are examples/tour.c
and examples/tour.py word for word, and both programs, run against a
simulated board, print the positions the board reports at the end.

    check_tours.py TOUR_BINARY   (PYTHONPATH, VOXA_LIBRARY and VOXA_SIM_LIBRARY set)
"""

import os
import re
import subprocess
import sys

import voxa

HERE = os.path.dirname(os.path.abspath(__file__))


def readme_block(readme, heading, language):
    """The first code block of the language after the heading."""
    start = readme.index(heading)
    m = re.compile(r"```" + language + r"\n(.*?)```", re.S).search(readme, start)
    return m.group(1) if m else None


def run(command, want):
    with voxa.SimBoard() as sim:
        out = subprocess.run(command + ["127.0.0.1", str(sim.port)], capture_output=True, text=True, timeout=60)
    print(f"$ {os.path.basename(command[-1])}: exit {out.returncode}\n{out.stdout}{out.stderr}", end="")
    if out.returncode != 0 or want not in out.stdout:
        return f"{command[-1]} did not print {want!r}"
    return None


def main():
    failures = []
    with open(os.path.join(HERE, "..", "README.md"), encoding="utf-8") as f:
        readme = f.read()
    for heading, language, name in (("### C", "c", "tour.c"), ("### Python", "python", "tour.py")):
        with open(os.path.join(HERE, name), encoding="utf-8") as f:
            if readme_block(readme, heading, language) != f.read():
                failures.append(f"the README's {language} tour differs from examples/{name}")
    failures.append(run([sys.argv[1]], "at 1000, 2000\n"))
    failures.append(run([sys.executable, os.path.join(HERE, "tour.py")], "complete at 1000 2000\n"))
    failures = [f for f in failures if f]
    for f in failures:
        print("check_tours:", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Builds exit_after_callback.cs with mcs, runs it under mono against the
library and the simulated board, and checks that the process ends within
1 s of leaving Main. Arguments: the build folder for the program, then the
folders of libvoxa.so and libvoxa_sim.so."""
import os
import subprocess
import sys
import time

out, lib_dir, sim_dir = sys.argv[1:4]
here = os.path.dirname(os.path.abspath(__file__))
exe = os.path.join(out, "exit_after_callback.exe")
os.makedirs(out, exist_ok=True)
subprocess.run(["mcs", "-out:" + exe, os.path.join(here, "exit_after_callback.cs")], check=True)
env = dict(os.environ, LD_LIBRARY_PATH=lib_dir + os.pathsep + sim_dir)
p = subprocess.Popen(["mono", exe], stdout=subprocess.PIPE, text=True, env=env)
line = p.stdout.readline()
left = time.monotonic()
try:
    rc = p.wait(timeout=20)
except subprocess.TimeoutExpired:
    p.kill()
    sys.exit("the process did not end within 20 s of leaving Main")
took = time.monotonic() - left
print(f"{line.strip()!r}; exit code {rc}; ended {took:.3f} s after leaving Main")
if "leaving Main" not in line or rc != 0:
    sys.exit("the program did not get its handler call")
if took > 1.0:
    sys.exit(f"the process took {took:.3f} s to end (aim: 1 s)")

"""Every export in the public headers carries a comment: on its own line,
or above a group of exports that follow each other without a blank line."""
import glob
import os
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
missing = []
for path in sorted(glob.glob(os.path.join(root, "include", "voxa", "*.h"))):
    lines = open(path, encoding="utf-8").read().split("\n")
    for n, line in enumerate(lines):
        if not line.startswith("VOXA_API"):
            continue
        decl, j = line, n
        while ";" not in decl:  # a declaration over several lines
            j += 1
            decl += lines[j]
        if "/*" in decl:
            continue
        k = n - 1  # up over the group and its continuation lines
        while k >= 0 and (lines[k].startswith("VOXA_API") or
                          (lines[k].startswith("  ") and not lines[k].lstrip().startswith(("*", "/*")))):
            k -= 1
        if k < 0 or not lines[k].rstrip().endswith("*/"):
            missing.append("%s:%d: %s" % (os.path.basename(path), n + 1, line.strip()))
for m in missing:
    print("no comment:", m)
sys.exit(1 if missing else 0)

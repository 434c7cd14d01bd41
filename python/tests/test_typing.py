"""The package's types and documentation: mypy --strict passes, and every
public method says what it does."""

import inspect
import os
import shutil
import subprocess
import sys
import unittest

import voxa

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _mypy():
    """The command that runs mypy, or None when it is not installed."""
    try:
        import mypy  # noqa: F401
        return [sys.executable, "-m", "mypy"]
    except ImportError:
        path = shutil.which("mypy")
        return [path] if path else None


class TypingTest(unittest.TestCase):
    def test_the_package_passes_mypy_strict(self):
        command = _mypy()
        if command is None:
            self.skipTest("mypy is not installed (Debian: apt-get install mypy)")
        # Without the sanitizers' preloads of a sanitizer build: mypy is not under test.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        out = subprocess.run(command + ["--strict", "--no-incremental", "--cache-dir", os.devnull, "voxa"],
                             cwd=PACKAGE_DIR, env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)

    def test_every_public_method_has_a_docstring(self):
        missing = []
        # Board's methods live in the classes it is made of, too.
        classes = {c for cls in (voxa.Board, voxa.SimBoard, voxa.Recording, voxa.WaitResult)
                   for c in cls.__mro__ if c.__module__.startswith("voxa")}
        for cls in sorted(classes, key=lambda c: c.__name__):
            for name, member in vars(cls).items():
                if name.startswith("_"):
                    continue
                function = member.fget if isinstance(member, property) else getattr(member, "__func__", member)
                if callable(function) and not inspect.getdoc(function):
                    missing.append(f"{cls.__name__}.{name}")
        self.assertEqual(missing, [])


if __name__ == "__main__":
    unittest.main()

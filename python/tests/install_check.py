"""A fresh `pip install ./python` into a virtual environment imports the
package and drives a simulated board, with no environment variable naming a
library and from another directory: the wheel carries libvoxa and the
simulated board. Its own test (python_pip_install): creating the
environment takes a few seconds.

The wheel takes the libraries of the build VOXA_BUILD_DIR names, else those
VOXA_LIBRARY and VOXA_SIM_LIBRARY name, else ../build (as pip install would)."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SCRIPT = """
import os, sys, voxa
assert voxa.__file__.startswith(sys.prefix), voxa.__file__
assert not any(k.startswith("VOXA_") for k in os.environ), sorted(os.environ)
assert voxa.voxa_library()._name.startswith(sys.prefix), voxa.voxa_library()._name
assert voxa.sim_library()._name.startswith(sys.prefix), voxa.sim_library()._name
assert os.path.exists(os.path.join(os.path.dirname(voxa.__file__), "py.typed"))
with voxa.SimBoard() as sim, sim.open() as board:
    board.set_velocity(drive=8000, acc=50, dec=50)
    board.line({0: 300, 1: -200}, cmd_id=1)
    assert board.wait_motion(1, timeout=5)
    print(voxa.__version__, board.cur_pos(0), board.cur_pos(1))
"""


def _venv_available():
    try:
        import ensurepip  # noqa: F401
        import venv  # noqa: F401
    except ImportError:
        return False
    return True


class PipInstallTest(unittest.TestCase):
    @unittest.skipUnless(_venv_available(), "venv with ensurepip is not installed (Debian: python3-venv)")
    def test_a_fresh_install_imports_and_drives_a_simulated_board(self):
        build_env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
        # The package, once installed, finds its libraries by itself.
        env = {k: v for k, v in build_env.items() if not k.startswith("VOXA_")}
        with tempfile.TemporaryDirectory() as d:
            venv = os.path.join(d, "venv")
            subprocess.run([sys.executable, "-m", "venv", venv], check=True, env=env)
            python = os.path.join(venv, "bin", "python")
            # A wheel first (pip wheel), then that wheel installed. --no-index:
            # the package needs nothing from a package index.
            subprocess.run([python, "-m", "pip", "wheel", "--no-index", "--no-build-isolation", "--quiet",
                            "-w", d, PACKAGE_DIR], check=True, env=build_env, cwd=d)
            wheels = [f for f in os.listdir(d) if f.endswith(".whl")]
            self.assertEqual(len(wheels), 1, wheels)
            self.assertNotIn("-any.whl", wheels[0], "the wheel carries the libraries")
            subprocess.run([python, "-m", "pip", "install", "--no-index", "--quiet", os.path.join(d, wheels[0])],
                           check=True, env=env, cwd=d)
            run = os.path.join(d, "elsewhere")
            os.mkdir(run)
            out = subprocess.run([python, "-c", SCRIPT], env=env, cwd=run, capture_output=True,
                                 text=True, timeout=60)
            self.assertEqual(out.returncode, 0, out.stderr)
        with open(os.path.join(PACKAGE_DIR, "voxa", "__init__.py")) as f:
            version = re.search(r'^__version__ = "(.+)"', f.read(), re.M).group(1)
        self.assertEqual(out.stdout.split(), [version, "300", "-200"])


if __name__ == "__main__":
    unittest.main()

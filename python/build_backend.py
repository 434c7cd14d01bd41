"""Builds the voxa package's wheel and source archive with the standard
library only, so that `pip install ./python` needs no package index.

The wheel holds voxa/ as it is, the metadata that pyproject.toml declares,
and the two shared libraries the package loads, libvoxa.so.1 and
libvoxa_sim.so, inside voxa/: an installed package needs no environment
variable. The libraries are taken, in this order, from
  - the files VOXA_LIBRARY and VOXA_SIM_LIBRARY name (both set);
  - the CMake build directory VOXA_BUILD_DIR names;
  - the checkout's build directory (../build) when it holds both;
  - a build made here: CMake (from the system) configures the checkout in a
    temporary directory and builds the two targets, then it is removed.
Without a checkout (a source archive) and without a build the wheel is pure
Python, and the package looks for the libraries as voxa/_lib.py says.
"""

import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_NAME = "voxa"
_PURE_TAG = "py3-none-any"
_CHECKOUT = os.path.dirname(_HERE)
# The names the libraries get inside the package (voxa/_lib.py looks for them).
_LIBRARY, _SIM_LIBRARY = "libvoxa.so.1", "libvoxa_sim.so"


def _say(text):
    print(f"voxa build_backend: {text}", file=sys.stderr, flush=True)


def _in_build(build_dir):
    """(libvoxa, libvoxa_sim) in a CMake build directory, or None."""
    lib = next((os.path.join(build_dir, n) for n in ("libvoxa.so.1", "libvoxa.so")
                if os.path.isfile(os.path.join(build_dir, n))), None)
    sim = os.path.join(build_dir, "tools", "sim", "libvoxa_sim.so")
    return (lib, sim) if lib and os.path.isfile(sim) else None


def _cmake_build(work):
    """Builds the library and the simulated board from the checkout in work."""
    cmake = shutil.which("cmake")
    if cmake is None:
        raise RuntimeError("no build of libvoxa was found and cmake is not installed: install cmake, or set "
                           "VOXA_BUILD_DIR to a CMake build directory of the checkout")
    _say(f"building libvoxa and the simulated board with CMake in {work}")
    subprocess.run([cmake, "-S", _CHECKOUT, "-B", work, "-DCMAKE_BUILD_TYPE=Release", "-DVOXA_BUILD_TESTS=OFF",
                    "-DVOXA_BUILD_BENCH=OFF"], check=True, stdout=sys.stderr)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(min(4, os.cpu_count() or 1))
    subprocess.run([cmake, "--build", work, "-j", jobs, "--target", "voxa", "voxa_sim_shared"], check=True,
                   stdout=sys.stderr)
    found = _in_build(work)
    if found is None:
        raise RuntimeError(f"the CMake build in {work} made no libvoxa.so and tools/sim/libvoxa_sim.so")
    return found


def _libraries():
    """[(name in the package, bytes)] of the two libraries; [] for a pure wheel."""
    if os.name == "nt":
        return []
    lib, sim = os.environ.get("VOXA_LIBRARY"), os.environ.get("VOXA_SIM_LIBRARY")
    work = None
    if lib and sim:
        found = (lib, sim)
    elif os.environ.get("VOXA_BUILD_DIR"):
        build_dir = os.environ["VOXA_BUILD_DIR"]
        found = _in_build(build_dir)
        if found is None:
            raise RuntimeError(f"VOXA_BUILD_DIR={build_dir} holds no libvoxa.so and tools/sim/libvoxa_sim.so")
    else:
        found = _in_build(os.path.join(_CHECKOUT, "build"))
        if found is None:
            if not os.path.isfile(os.path.join(_CHECKOUT, "CMakeLists.txt")):
                _say("no checkout and no build: the wheel holds no library (set VOXA_LIBRARY at run time)")
                return []
            work = tempfile.mkdtemp(prefix="voxa-build-")
    try:
        if work is not None:
            found = _cmake_build(work)
        out = []
        for name, path in zip((_LIBRARY, _SIM_LIBRARY), found):
            _say(f"{_NAME}/{name} <- {os.path.realpath(path)}")
            with open(path, "rb") as f:
                out.append((f"{_NAME}/{name}", f.read()))
        return out
    finally:
        if work is not None:
            shutil.rmtree(work, ignore_errors=True)


def _platform_tag():
    return "py3-none-" + re.sub(r"[^A-Za-z0-9]", "_", sysconfig.get_platform())


def _project():
    """name, version, description and requires-python."""
    with open(os.path.join(_HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    project = text.split("[project]", 1)[1]

    def field(key):
        m = re.search(r'^%s\s*=\s*"([^"]*)"' % re.escape(key), project, re.M)
        return m.group(1) if m else ""

    with open(os.path.join(_HERE, _NAME, "__init__.py"), encoding="utf-8") as f:
        version = re.search(r'^__version__\s*=\s*"([^"]+)"', f.read(), re.M).group(1)
    return {"name": field("name"), "version": version, "summary": field("description"),
            "requires_python": field("requires-python")}


def _metadata(p):
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}", f"Summary: {p['summary']}"]
    if p["requires_python"]:
        lines.append(f"Requires-Python: {p['requires_python']}")
    lines.append("Classifier: Typing :: Typed")
    readme = os.path.join(_HERE, "README.md")
    if os.path.exists(readme):
        with open(readme, encoding="utf-8") as f:
            lines += ["Description-Content-Type: text/markdown", "", f.read()]
    return "\n".join(lines) + "\n"


def _package_files():
    """(path in the archive, path on disk) of the package, sorted."""
    out = []
    for root, dirs, files in os.walk(os.path.join(_HERE, _NAME)):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            # The libraries go in from the build, never a stray copy.
            if name.endswith((".pyc", ".pyo", ".so", ".dll")) or ".so." in name:
                continue
            disk = os.path.join(root, name)
            out.append((os.path.relpath(disk, _HERE).replace(os.sep, "/"), disk))
    return out


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _wheel(wheel_directory, entries, tag=_PURE_TAG):
    """Writes the wheel of (archive path, bytes) entries plus the metadata."""
    p = _project()
    pure = tag == _PURE_TAG
    dist_info = f"{p['name']}-{p['version']}.dist-info"
    entries = list(entries) + [
        (f"{dist_info}/METADATA", _metadata(p).encode()),
        (f"{dist_info}/WHEEL", f"Wheel-Version: 1.0\nGenerator: voxa build_backend\nRoot-Is-Purelib: {str(pure).lower()}\n"
                               f"Tag: {tag}\n".encode()),
        (f"{dist_info}/top_level.txt", f"{_NAME}\n".encode()),
    ]
    record = [_record_line(path, data) for path, data in entries] + [f"{dist_info}/RECORD,,"]
    entries.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode()))
    filename = f"{p['name']}-{p['version']}-{tag}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in entries:
            info = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.endswith(".so") or ".so." in path else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return filename


# ---- the build backend interface (PEP 517, PEP 660)

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    entries = []
    for path, disk in _package_files():
        with open(disk, "rb") as f:
            entries.append((path, f.read()))
    libraries = _libraries()
    return _wheel(wheel_directory, entries + libraries, _platform_tag() if libraries else _PURE_TAG)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """A wheel that puts this directory on the path: edits take effect at once."""
    return _wheel(wheel_directory, [(f"__editable__.{_NAME}.pth", (_HERE + "\n").encode())])


def build_sdist(sdist_directory, config_settings=None):
    p = _project()
    base = f"{p['name']}-{p['version']}"
    filename = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        files = [("pyproject.toml", os.path.join(_HERE, "pyproject.toml")),
                 ("build_backend.py", os.path.join(_HERE, "build_backend.py")),
                 ("README.md", os.path.join(_HERE, "README.md"))] + _package_files()
        for path, disk in files:
            tar.add(disk, arcname=f"{base}/{path}", recursive=False)
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata(p).encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return filename

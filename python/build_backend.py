"""Builds the voxa package's wheel and source archive with the standard
library only, so that `pip install ./python` needs no package index.

The package is pure Python: the wheel holds voxa/ as it is, plus the
metadata that pyproject.toml declares.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_NAME = "voxa"
_TAG = "py3-none-any"


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
            if name.endswith((".pyc", ".pyo")):
                continue
            disk = os.path.join(root, name)
            out.append((os.path.relpath(disk, _HERE).replace(os.sep, "/"), disk))
    return out


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _wheel(wheel_directory, entries):
    """Writes the wheel of (archive path, bytes) entries plus the metadata."""
    p = _project()
    dist_info = f"{p['name']}-{p['version']}.dist-info"
    entries = list(entries) + [
        (f"{dist_info}/METADATA", _metadata(p).encode()),
        (f"{dist_info}/WHEEL", f"Wheel-Version: 1.0\nGenerator: voxa build_backend\nRoot-Is-Purelib: true\n"
                               f"Tag: {_TAG}\n".encode()),
        (f"{dist_info}/top_level.txt", f"{_NAME}\n".encode()),
    ]
    record = [_record_line(path, data) for path, data in entries] + [f"{dist_info}/RECORD,,"]
    entries.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode()))
    filename = f"{p['name']}-{p['version']}-{_TAG}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in entries:
            info = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
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
    return _wheel(wheel_directory, entries)


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

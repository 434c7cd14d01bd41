#!/usr/bin/env python3
"""Checks what the packages cpack wrote hold, and prints each one's files
and size. Arguments: build folders; each one's packages/ folder holds the
Windows zips (SDK and debug data) or the Linux .tar.gz and .deb.

  check_packages.py build-windows-x64 build-windows-x86 build
"""
import fnmatch
import io
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

HEADERS = ["include/voxa/%s.h" % h for h in
           ("voxa", "voxa_config", "voxa_io", "voxa_motion", "voxa_queue", "voxa_state", "voxa_system", "voxa_tools")]
CMAKE_PACKAGE = ["lib/cmake/voxa/voxaConfig.cmake", "lib/cmake/voxa/voxaConfigVersion.cmake",
                 "lib/cmake/voxa/voxaTargets.cmake", "lib/cmake/voxa/voxaTargets-*.cmake", "lib/pkgconfig/voxa.pc"]
WINDOWS_SDK = (["README-windows.txt", "bin/voxa.dll", "bin/voxactl.exe", "bin/voxa-sim.exe",
                "lib/voxa.lib", "lib/voxa.def", "lib/libvoxa.dll.a", "doc/README.md", "doc/guide.md",
                "doc/threads.md", "doc/architecture.md", "doc/*.png"] + HEADERS + CMAKE_PACKAGE)
WINDOWS_DEBUG = ["bin/voxa.dll.debug", "bin/voxactl.exe.debug", "bin/voxa-sim.exe.debug"]
LINUX = (["lib/libvoxa.so", "lib/libvoxa.so.1", "lib/libvoxa.so.1.*", "lib/libvoxa_sim.so", "bin/voxactl",
          "bin/voxa-sim", "include/voxa/sim_c.h", "share/man/man1/voxactl.1", "share/man/man1/voxa-sim.1",
          "share/doc/voxa/README.md", "share/doc/voxa/guide.md", "share/doc/voxa/threads.md", "share/doc/voxa/architecture.md",
          "share/doc/voxa/*.png", "lib/python3/dist-packages/voxa/*"] + HEADERS + CMAKE_PACKAGE)
STRIPPED = {"bin/voxa.dll", "bin/voxactl.exe", "bin/voxa-sim.exe", "lib/libvoxa.so.1.*", "bin/voxactl", "bin/voxa-sim",
            "lib/libvoxa_sim.so"}

failures = []


def fail(package, text):
    failures.append("%s: %s" % (os.path.basename(package), text))


def compare(package, names, expected):
    """Every file matches one pattern, and every pattern one file at least."""
    for name in names:
        if not any(fnmatch.fnmatchcase(name, p) for p in expected):
            fail(package, "holds %s, which it should not" % name)
    for p in expected:
        if not any(fnmatch.fnmatchcase(n, p) for n in names):
            fail(package, "lacks %s" % p)


def has_debug_data(data, objdump):
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        out = subprocess.run([objdump, "-h", f.name], capture_output=True, text=True, check=True).stdout
    return ".debug_" in out


def check_stripped(package, files, objdump):
    for name, data in files.items():
        if any(fnmatch.fnmatchcase(name, p) for p in STRIPPED):
            if data is not None and has_debug_data(data, objdump):
                fail(package, "%s carries debug data" % name)


def report(package, files):
    print("%s  %d bytes, %d files" % (os.path.basename(package), os.path.getsize(package), len(files)))
    for name in sorted(files):
        size = "link" if files[name] is None else str(len(files[name]))
        print("    %-55s %9s" % (name, size))


def read_zip(package):
    top = os.path.basename(package)[:-len(".zip")].removesuffix("-debug") + "/"
    files = {}
    with zipfile.ZipFile(package) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            if not info.filename.startswith(top):
                fail(package, "%s is outside the folder %s" % (info.filename, top))
                continue
            files[info.filename[len(top):]] = z.read(info)
    return files


def read_tar(fileobj, strip_prefix):
    files = {}
    with tarfile.open(fileobj=fileobj) as t:
        for m in t.getmembers():
            if m.isdir():
                continue
            name = m.name.removeprefix("./")
            if not name.startswith(strip_prefix):
                continue
            name = name[len(strip_prefix):]
            files[name] = None if m.issym() else t.extractfile(m).read()
    return files


def check_folder(folder):
    out = os.path.join(folder, "packages")
    found = sorted(os.listdir(out)) if os.path.isdir(out) else []
    packages = [os.path.join(out, p) for p in found if p.endswith((".zip", ".tar.gz", ".deb"))]
    if not packages:
        failures.append("%s: no packages" % out)
    for package in packages:
        base = os.path.basename(package)
        if base.endswith(".zip"):
            files = read_zip(package)
            compare(package, files, WINDOWS_DEBUG if base.endswith("-debug.zip") else WINDOWS_SDK)
            check_stripped(package, files, "x86_64-w64-mingw32-objdump")
            if "-win-x86" in base and "bin/voxa.dll" in files and b"PE\0\0\x4c\x01" not in files["bin/voxa.dll"][:1024]:
                fail(package, "bin/voxa.dll is not a 32-bit x86 DLL")
        elif base.endswith(".tar.gz"):
            with open(package, "rb") as f:
                files = read_tar(f, base[:-len(".tar.gz")] + "/")
            compare(package, files, LINUX)
            check_stripped(package, files, "objdump")
        else:
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", package], capture_output=True, check=True).stdout
            files = read_tar(io.BytesIO(data), "usr/")
            compare(package, files, LINUX)
            check_stripped(package, files, "objdump")
            info = subprocess.run(["dpkg-deb", "--field", package, "Package", "Version", "Depends"],
                                  capture_output=True, text=True, check=True).stdout
            print(info.strip())
        report(package, files)


def main():
    for folder in sys.argv[1:]:
        check_folder(folder)
    for line in failures:
        print("FAILED: " + line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""The import table names only Windows 2000 functions of DLLs taken from the system directory."""

import subprocess

from conftest import ROOT, SETUP_EXE

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll", "ole32.dll",
               "oleaut32.dll", "msvcrt.dll"}


def imports(exe):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], capture_output=True,
                          text=True, check=True).stdout
    found, dll = set(), None
    for line in dump.splitlines():
        fields = line.split("\t")
        if "DLL Name:" in line:
            dll = line.split("DLL Name:")[1].strip().lower()
        elif dll and len(fields) == 3 and fields[1].strip() and fields[2].split():
            found.add((dll, fields[2].split()[-1]))
        elif not line.strip():
            dll = None
    return found


def test_every_import_is_on_the_windows_2000_allow_list():
    allowed = set()
    for line in (ROOT / "tests" / "system" / "win2000_imports.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            dll, function = line.split()
            allowed.add((dll, function))
    found = imports(SETUP_EXE)
    assert found, "no imports read"
    assert {dll for dll, _ in found} <= SYSTEM_DLLS
    assert sorted(found - allowed) == []


def test_newer_entry_points_are_not_imported():
    names = {function for _, function in imports(SETUP_EXE)}
    for late in ("IsWow64Process", "GetSystemWow64DirectoryA", "SetDefaultDllDirectories",
                 "SetDllDirectoryA", "FDICreate"):
        assert late not in names

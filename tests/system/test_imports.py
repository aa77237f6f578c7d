"""The import table names only Windows 2000 functions of DLLs taken from the system directory.
The 64-bit setup keeps to the same list, plus what its runtime needs on every 64-bit Windows."""

import subprocess

import pytest

from conftest import FLAVOURS, ROOT

OBJDUMP = {32: "i686-w64-mingw32-objdump", 64: "x86_64-w64-mingw32-objdump"}
ALLOW_LISTS = {32: ["win2000_imports.txt"], 64: ["win2000_imports.txt", "x64_runtime_imports.txt"]}

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll", "ole32.dll",
               "oleaut32.dll", "msvcrt.dll"}


def imports(bits):
    exe = FLAVOURS[bits].setup_exe
    dump = subprocess.run([OBJDUMP[bits], "-p", str(exe)], capture_output=True,
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


@pytest.mark.parametrize("bits", [32, 64])
def test_every_import_is_on_the_windows_2000_allow_list(bits):
    allowed = set()
    for name in ALLOW_LISTS[bits]:
        for line in (ROOT / "tests" / "system" / name).read_text().splitlines():
            if line and not line.startswith("#"):
                dll, function = line.split()
                allowed.add((dll, function))
    found = imports(bits)
    assert found, "no imports read"
    assert {dll for dll, _ in found} <= SYSTEM_DLLS
    assert sorted(found - allowed) == []


@pytest.mark.parametrize("bits", [32, 64])
def test_newer_entry_points_are_not_imported(bits):
    names = {function for _, function in imports(bits)}
    for late in ("IsWow64Process", "GetSystemWow64DirectoryA", "SetDefaultDllDirectories",
                 "SetDllDirectoryA", "FDICreate"):
        assert late not in names

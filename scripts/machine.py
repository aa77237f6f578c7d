"""Whether this machine can execute 32-bit x86 code, asked once by running a tiny 32-bit program.

Some kernels refuse 32-bit ELF files ("Exec format error"); there neither 32-bit Wine nor any
32-bit Windows program can start, so the 32-bit setup cannot run. Run as a script, it prints the
answer in one line and exits 0 (can) or 1 (cannot).
"""

import os
import struct
import subprocess
import sys
import tempfile

WINE32_LOADER = "/usr/lib/wine/wine"
PROBE_EXIT_CODE = 42
PROBE_SECONDS = 10
# Set to make this machine answer "cannot", to try the other kind of machine's path here.
SIMULATE_VARIABLE = "SETUP_SIMULATE_NO_32BIT"
CANNOT = "this machine cannot execute 32-bit x86 code"


def tiny_elf32():
    """A static i386 ELF that exits with PROBE_EXIT_CODE: mov eax,1; mov ebx,42; int 0x80."""
    code = bytes([0xB8, 1, 0, 0, 0, 0xBB, PROBE_EXIT_CODE, 0, 0, 0, 0xCD, 0x80])
    base, header_size, program_header_size = 0x08048000, 52, 32
    size = header_size + program_header_size + len(code)
    header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8) + struct.pack(
        "<HHIIIIIHHHHHH", 2, 3, 1, base + header_size + program_header_size, header_size, 0, 0,
        header_size, program_header_size, 1, 0, 0, 0)
    program_header = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
    return header + program_header + code


def can_run_32bit():
    """(True, "") or (False, the reason in words)."""
    if os.environ.get(SIMULATE_VARIABLE):
        return False, f"{CANNOT} (simulated by {SIMULATE_VARIABLE})"
    with tempfile.TemporaryDirectory() as folder:
        probe = os.path.join(folder, "probe32")
        with open(probe, "wb") as f:
            f.write(tiny_elf32())
        os.chmod(probe, 0o755)
        try:
            code = subprocess.run([probe], timeout=PROBE_SECONDS).returncode
        except (OSError, subprocess.TimeoutExpired):
            code = None
    if code != PROBE_EXIT_CODE:
        return False, CANNOT
    if not os.access(WINE32_LOADER, os.X_OK):
        return False, "32-bit Wine is not installed"
    return True, ""


if __name__ == "__main__":
    able, reason = can_run_32bit()
    print("this machine can execute 32-bit x86 code" if able else reason)
    sys.exit(0 if able else 1)

"""Benchmark of the setup's payload layout (see run.sh). Median of RUNS runs each, warm server."""

import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
from conftest import CAN_RUN_32BIT, CANNOT_RUN_32BIT_REASON, FLAVOURS, PeakMemory, Prefix  # noqa: E402,E501

RUNS = int(os.environ.get("BENCH_RUNS", "5"))
MIB = 1024 * 1024
CABINET_HALF = 18 * MIB  # each cabinet: this much compressible text and as much random data
BIOS_SIZE = 64 * MIB
HAND_OVER_LIMIT = 30
# The batch's interpreter may live a moment after it deleted itself, holding the one-task lock.
LOCK_SETTLE_SECONDS = 0.5
PLAIN = ["profile.xml", "schema.xml", "bootdevices.xml", "ksmbios_data.htm", "!Readme.txt",
         "uninst.exe", "StopHWIX.exe"]


def plain_source(name):
    """Where a plain file lies in the work folder: the kit's files in kit\\, the task's beside it."""
    return name if name in ("profile.xml", "schema.xml", "bootdevices.xml") else "kit\\" + name


def content(seed):
    """Half text that compresses well (records of a log), half random bytes."""
    rng = random.Random(seed)
    text = bytearray()
    record = 0
    while len(text) < CABINET_HALF:
        text += b"record %08d sensor %02d value %06d status OK\r\n" % (
            record, rng.randrange(16), rng.randrange(1000))
        record += 1
    return bytes(text[:CABINET_HALF]) + rng.randbytes(CABINET_HALF)


def make_cabinet(out, files):
    stage = out.parent / (out.stem + "_stage")
    shutil.rmtree(stage, ignore_errors=True)
    stage.mkdir()
    for stored, data in files.items():
        (stage / stored).write_bytes(data)
    subprocess.run(["gcab", "-c", "-z", "-n", str(out), *files], cwd=stage, check=True)
    return stage


class Variant:
    """The flavour measured, the prefix it runs in and the cabinets it unpacks there."""

    def __init__(self, bits):
        self.flavour = FLAVOURS[bits]
        self.bits = bits
        self.arch = "win64" if bits == 64 else "win32"
        self.layer_cab = "QMB64.cab" if bits == 64 else "QMB.cab"
        self.client_cab = "runvex64.cab" if bits == 64 else "Runvex.cab"
        self.cabinets = (self.layer_cab, self.client_cab, "QTMStandaloneSvc.cab")


def choose_variant():
    """The 32-bit setup where this machine runs it, else the 64-bit one (or BENCH_FLAVOUR)."""
    wanted = os.environ.get("BENCH_FLAVOUR")
    if wanted:
        print(f"measuring the {wanted}-bit setup (BENCH_FLAVOUR={wanted})")
        return Variant(int(wanted))
    if CAN_RUN_32BIT:
        print("measuring the 32-bit setup (setup.exe): this machine runs 32-bit code")
        return Variant(32)
    print(f"measuring the 64-bit setup (setup64.exe): {CANNOT_RUN_32BIT_REASON}")
    return Variant(64)


def make_package(variant, prefix, work):
    """The large package, built with setup-pack from the template and a kit of big cabinets."""
    kit_in, bits = variant.flavour.kit, variant.bits
    kit = work / "kit"
    kit.mkdir(parents=True)
    layer = {"setup.exe": (kit_in / f"layer_setup{bits}.exe").read_bytes(),
             "hwixsvc.exe": (kit_in / f"hwixsvc{bits}.exe").read_bytes(), "layer.bin": content(1)}
    client = {f"ZunaClientModule{bits}.exe": (kit_in / f"ZunaClientModule{bits}.exe").read_bytes(),
              "client.bin": content(2)}
    service = {"QTMStandaloneSvc.exe ": (kit_in / "QTMStandaloneSvc.exe").read_bytes(),
               "service.bin": content(3)}
    stages = {variant.layer_cab: make_cabinet(kit / variant.layer_cab, layer),
              variant.client_cab: make_cabinet(kit / variant.client_cab, client),
              "QTMStandaloneSvc.cab": make_cabinet(kit / "QTMStandaloneSvc.cab", service)}
    for name in ("QMB.cab", "QMB64.cab", "Runvex.cab", "runvex64.cab", "uninst.exe",
                 "StopHWIX.exe"):
        if not (kit / name).exists():
            shutil.copy(kit_in / name, kit / name)
    for name in ("ksmbios_data.htm", "!Readme.txt", "profile.xml", "schema.xml",
                 "bootdevices.xml"):
        shutil.copy(ROOT / "kit" / "data" / name, kit / name if name[0] in "k!" else work / name)
    (work / "bios.bin").write_bytes(random.Random(4).randbytes(BIOS_SIZE))
    shutil.copy(variant.flavour.setup_exe, work / "template.exe")
    proc = prefix.wine(str(variant.flavour.pack_exe), "build", "--template", "template.exe",
                       "--profile", "profile.xml", "--bios", "bios.bin", "--kit", "kit",
                       "--out", "big.exe", cwd=work)
    assert proc.returncode == 0, "setup-pack failed"
    return stages


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def timed(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


def measure_setup(prefix, exe, run_dir):
    times, peaks = [], []
    for _ in range(RUNS):
        fresh(run_dir)
        shutil.copy(exe, run_dir / exe.name)
        with PeakMemory(exe.name) as memory:
            times.append(timed(lambda: prefix.wine(str(run_dir / exe.name), "-x", cwd=run_dir)))
        peaks.append(memory.peak)
    return statistics.median(times), statistics.median(peaks)


def measure_platform_tools(variant, prefix, work, run_dir):
    """Baseline A: extrac32 for each cabinet and a copy of the plain files, one cmd under Wine."""
    w_run, w_work = prefix.win_path(run_dir), prefix.win_path(work)
    layer, client, service = variant.cabinets
    lines = ["@echo off", f'mkdir "{w_run}\\hwixqmb"',
             f'extrac32 /Y /E /L "{w_run}\\hwixqmb" "{w_work}\\kit\\{layer}"',
             f'extrac32 /Y /E /L "{w_run}" "{w_work}\\kit\\{client}"',
             f'extrac32 /Y /E /L "{w_run}" "{w_work}\\kit\\{service}"',
             f'copy /Y "{w_work}\\bios.bin" "{w_run}\\Flash.hdr" >nul']
    lines += [f'copy /Y "{w_work}\\{plain_source(n)}" "{w_run}" >nul' for n in PLAIN]
    (work / "baseline.bat").write_bytes("\r\n".join(lines).encode() + b"\r\n")
    times = []
    for _ in range(RUNS):
        fresh(run_dir)
        times.append(timed(lambda: prefix.wine("cmd", "/c", f"{w_work}\\baseline.bat", cwd=work)))
    assert (run_dir / "hwixqmb" / "layer.bin").stat().st_size == 2 * CABINET_HALF
    return statistics.median(times)


def measure_native_tools(variant, work, run_dir):
    """Baseline B: cabextract and cp, natively."""
    def run():
        (run_dir / "hwixqmb").mkdir()
        for cab, dest in zip(variant.cabinets, (run_dir / "hwixqmb", run_dir, run_dir)):
            subprocess.run(["cabextract", "-q", "-d", str(dest), str(work / "kit" / cab)],
                           check=True)
        subprocess.run(["cp", str(work / "bios.bin"), str(run_dir / "Flash.hdr")], check=True)
        subprocess.run(["cp", *[str(work / plain_source(n).replace("\\", "/")) for n in PLAIN],
                        str(run_dir)], check=True)

    times = []
    for _ in range(RUNS):
        fresh(run_dir)
        times.append(timed(run))
    return statistics.median(times)


def measure_hand_over(setup, prefix, run_dir):
    """A normal run with cleanup: from the setup's start to its exit, and from its exit to a
    folder holding nothing but the setup."""
    exits, hand_overs = [], []
    for _ in range(RUNS):
        fresh(run_dir)
        shutil.copy(setup, run_dir)
        started = time.perf_counter()
        proc = prefix.wine(str(run_dir / setup.name), cwd=run_dir)
        exited = time.perf_counter()
        assert proc.returncode == 0, f"the setup ended with {proc.returncode}"
        while [p.name for p in run_dir.iterdir()] != [setup.name]:
            assert time.perf_counter() - exited < HAND_OVER_LIMIT, "the folder was not cleaned"
            time.sleep(0.002)
        exits.append(exited - started)
        hand_overs.append(time.perf_counter() - exited)
        time.sleep(LOCK_SETTLE_SECONDS)
    return statistics.median(exits), statistics.median(hand_overs)


def main():
    variant = choose_variant()
    setup = variant.flavour.setup_exe
    prefix = Prefix(variant.arch)
    work = prefix.drive_c / "bench"
    fresh(work)
    print(f"building the large package in {work} ...", flush=True)
    make_package(variant, prefix, work)
    big = work / "big.exe"
    run_dir = prefix.drive_c / "bench_run"
    prefix.wine(str(setup), "-x", cwd=fresh(run_dir))  # warm up the server
    large_time, large_peak = measure_setup(prefix, big, run_dir)
    assert (run_dir / "Flash.hdr").stat().st_size == BIOS_SIZE
    tiny_time, tiny_peak = measure_setup(prefix, setup, run_dir)
    platform_time = measure_platform_tools(variant, prefix, work, run_dir)
    native_time = measure_native_tools(variant, work, run_dir)
    exit_time, hand_over = measure_hand_over(setup, prefix, run_dir)
    cab_sizes = ", ".join(f"{c} {(work / 'kit' / c).stat().st_size / MIB:.1f} MiB"
                          for c in variant.cabinets)
    print(f"large package: {big.stat().st_size / MIB:.1f} MiB ({cab_sizes}, BIOS image 64 MiB)")
    print(f"median of {RUNS} runs each, {setup.name} in a {variant.arch} prefix:")
    label = f"{setup.name} -x"
    print(f"  {label + ', large package':<33} {large_time:7.3f} s   peak private memory "
          f"{large_peak / MIB:6.1f} MiB")
    print(f"  {label + ', tiny package':<33} {tiny_time:7.3f} s   peak private memory "
          f"{tiny_peak / MIB:6.1f} MiB")
    print(f"  A: extrac32 + copy under Wine     {platform_time:7.3f} s")
    print(f"  B: cabextract + cp, native        {native_time:7.3f} s")
    print(f"  setup/A = {large_time / platform_time:.2f}   setup/B = {large_time / native_time:.2f}"
          f"   private memory growth tiny -> large = {(large_peak - tiny_peak) / MIB:.1f} MiB")
    print(f"  normal run with cleanup: setup start -> exit {exit_time:.3f} s, "
          f"exit -> clean folder {hand_over:.3f} s")
    shutil.rmtree(run_dir, ignore_errors=True)
    prefix.stop()


if __name__ == "__main__":
    main()

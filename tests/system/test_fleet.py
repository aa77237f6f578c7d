"""What a fleet meets: two runs at once, full disks, links planted by others, secrets among the
arguments, cabinets from other makers."""

import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

from cabinet import Entry, write_cabinet
from conftest import (TIME_FACTOR, WINE_LOADERS, Run, leaves_restart_mark, patch_entry, small_drive,
                      wait_for_batch)
from test_deployment import comparable, query_record, read_trace
from test_driver import expected_log
from test_hostile import WESTERN
from test_install import PAYLOAD, names

BUSY = "WinMain: Another BIOS task package is running, exit code 1618: retry later."
FAILED = "fn_CreateInstallationFiles: Could not create all files."
INCOMPLETE = "fn_Install: Payload incomplete, nothing started."
NO_BATCH = "fn_Install: Cleanup batch not written, nothing started."
SERVICE_CABINET = 117
BIOS_IMAGE = 110
PAGE = 4096


class Background:
    """A run started through the launcher, not waited for. With `wait_for_lock` false the
    launcher ends with the setup, not with the run's last process."""

    def __init__(self, target, command_line, cwd, wait_for_lock=True, env=None):
        self.target = target
        self.log = Path(cwd).parent / (Path(cwd).name + ".background.stderr")
        env = dict(target.env, **(env or {}))
        env.update(LAUNCH_COMMAND_LINE=command_line, WINEDEBUG="-all,warn+debugstr")
        if not wait_for_lock:
            env.update(LAUNCH_NO_LOCK_WAIT="1")
        self.out = tempfile.TemporaryFile()
        with open(self.log, "wb") as err:
            self.proc = subprocess.Popen(
                target.command(WINE_LOADERS[target.arch], str(target.tools / "launch.exe")),
                cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=self.out, stderr=err)

    def running(self):
        return self.proc.poll() is None

    def wait_for(self, text, seconds=30):
        deadline = time.monotonic() + seconds * TIME_FACTOR
        while text not in self.log.read_text(errors="replace"):
            assert self.running() and time.monotonic() < deadline, f"never said {text!r}"
            time.sleep(0.05)

    def finish(self, seconds=120, keep_restart_mark=False):
        """The run's result; a run that left the restart mark is followed by the prefix's
        restart, as in Target.run."""
        self.proc.wait(timeout=seconds * TIME_FACTOR)
        self.out.seek(0)
        m = re.search(rb"^exit code (\d+)\r?$", self.out.read(), re.M)
        run = Run(int(m.group(1)) if m else self.proc.returncode,
                  self.log.read_text(errors="replace"))
        if not keep_restart_mark and leaves_restart_mark(run):
            self.target.prefix.restart()
        return run


def assert_turned_away(run, folder_names_before, folder):
    assert run.exit_code == 1618
    assert run.all_messages == [BUSY]
    assert names(folder) == folder_names_before


def test_a_second_run_while_a_task_waits_for_its_restart(native, make_workdir):
    """Run A's client works and will ask for a restart; runs in its folder and in another
    package's folder are turned away, and A's payload stays whole for after the restart."""
    native.remove_service()
    first = make_workdir(native)
    other = make_workdir(native, suffix="_other")
    a = Background(native, f"setup.exe -l --stay={int(6000 * TIME_FACTOR)} --reboot", first)
    a.wait_for(native.client_module)
    # Only well within the client's stay: a run that got the lock after A would clean A's folder.
    sampling_ends = time.monotonic() + 3 * TIME_FACTOR
    turned_away = 0
    while time.monotonic() < sampling_ends:
        before = names(first)
        same_folder = native.run("setup.exe -l", first)
        other_package = native.run("setup.exe -x -l", other)
        if not a.running():
            break
        assert_turned_away(other_package, ["setup.exe"], other)
        assert same_folder.exit_code == 1618 and same_folder.all_messages == [BUSY]
        assert names(first) == before
        turned_away += 1
    assert turned_away >= 2
    result = a.finish()
    assert result.exit_code == 0
    assert "Is shutdown" in result.messages
    assert (first / "setup.log").read_bytes() == expected_log(0)
    assert set(PAYLOAD) | {"delzrph.bat", native.client_module + ".exe"} <= set(names(first))


def test_runs_started_through_a_whole_run_wait_for_its_batch(native, make_workdir):
    """Sampled from the layout to the end of the cleanup batch: every run started while the
    first one lives is turned away, and the first run's cleanup is whole."""
    native.remove_service()
    first = make_workdir(native)
    other = make_workdir(native, suffix="_other")
    a = Background(native, "setup.exe -l", first)
    a.wait_for("fn_CheckOS")  # said once the lock is held
    turned_away = 0
    while a.running():
        run = native.run("setup.exe -x", other)
        if not a.running():
            break
        assert_turned_away(run, ["setup.exe"], other)
        turned_away += 1
    assert turned_away >= 1
    result = a.finish()
    assert result.exit_code == 0
    # The lock is held until the batch is done: the folder is clean when the run has ended.
    assert names(first) == ["setup.exe", "setup.log"]
    assert native.run("setup.exe -x", other).exit_code == 0


def free_bytes(folder):
    stat = os.statvfs(folder)
    return stat.f_bavail * stat.f_frsize


def run_on_drive(target, exe, options, folder):
    """Started by its full path on drive C:, so that only the payload meets the full drive (and
    its debug output is kept beside it)."""
    return target.run(f"{target.win_path(exe)} {options}".strip(), folder,
                      log=exe.parent / "small-drive.stderr")


def test_image_too_big_for_the_disk(native, make_workdir):
    exe_folder = make_workdir(native)
    exe = exe_folder / "setup.exe"
    patch_entry(native, exe, BIOS_IMAGE, b"\xa5" * 16_000_000, exe_folder)
    patch_entry(native, exe, 119, b"trace-log=yes\r\n", exe_folder)
    with small_drive(native, "8m") as folder:
        run = run_on_drive(native, exe, "", folder)
        assert run.exit_code == 3
        assert "fn_CreateFileFromResource: WriteFile failed" in run.messages
        assert run.messages[-2:] == [INCOMPLETE, "fn_Cleanup"]
        assert not run.child_messages(native.client_module)
        assert names(folder) == ["setup.trace.log"]
        # Whole records only, the debug texts among them in order, however far it got.
        # (Wine shows only the start of a long debug text.)
        texts = [text for _, text in read_trace(folder / "setup.trace.log")
                 if not text.startswith("* ")]
        assert texts and len(texts) <= len(run.messages)
        for traced, shown in zip(texts, run.messages):
            assert traced.startswith(comparable(shown)[:250]), (traced, shown)
        (folder / "setup.trace.log").unlink()

        extracted = run_on_drive(native, exe, "-x -l", folder)
        assert extracted.exit_code == 2
        assert "Flash.hdr" not in names(folder)
        assert (folder / "setup.log").read_bytes() == expected_log(2)


def test_a_trace_log_cut_by_a_full_drive_says_so(native, make_workdir):
    """The trace log's drive fills during the run: the log keeps whole records up to there, the
    debug output says it was cut, and so does the result record; the run goes on."""
    folder = make_workdir(native)
    key = f"cut {native.name}"
    view = ["/reg:64"] if native.windows64 else []
    native.wine("reg", "delete", rf"HKLM\SOFTWARE\Corvane\BIOS task package\{key}", "/f", *view)
    settings = b"trace-log-folder=Q:\\w\r\nresult-key=" + key.encode() + b"\r\n"
    patch_entry(native, folder / "setup.exe", 119, settings, folder.parent)
    with small_drive(native, "4k") as drive:
        run = native.run("setup.exe", folder)
        assert run.exit_code == 0, run.report()
        # Wine reports the full drive as a short write (29, a write fault); Windows as 112.
        assert [m for m in run.messages if m.startswith("* trace log cut: ")] in \
            (["* trace log cut: error 29"], ["* trace log cut: error 112"])
        texts = [text for _, text in read_trace(drive / "setup.trace.log")]
        assert texts and (drive / "setup.trace.log").stat().st_size <= PAGE
    record = query_record(native, key)
    assert record["TraceLogCut"] == "0x1" and record["ExitCode"] == "0x0"
    assert wait_for_batch(folder)


def test_cabinet_entry_too_big_for_the_disk(native, make_workdir):
    """The layer's cabinet fits the drive, its entry only in part."""
    exe_folder = make_workdir(native)
    exe = exe_folder / "setup.exe"
    layer = write_cabinet([Entry(b"setup.exe", os.urandom(1024 * 1024))])
    patch_entry(native, exe, 104 if native.windows64 else 105, layer, exe_folder)
    with small_drive(native, "1536k") as folder:
        extracted = run_on_drive(native, exe, "-x", folder)
        assert extracted.exit_code == 2
        assert "FDICopy() failed: code 8 [Failure writing to target file]\n" in extracted.messages
        assert not (folder / "hwixqmb" / "setup.exe").exists()

        run = run_on_drive(native, exe, "-l", folder)
        assert run.exit_code == 3
        assert run.messages[-2:] == [INCOMPLETE, "fn_Cleanup"]
        assert not run.child_messages("hwix Setup")
        assert names(folder) == ["setup.log"]
        assert (folder / "setup.log").read_bytes() == expected_log(3)


def test_batch_too_big_for_the_disk(native, make_workdir):
    """The payload fills the drive to its last page: the setup removes it itself."""
    exe_folder = make_workdir(native)
    exe = exe_folder / "setup.exe"
    patch_entry(native, exe, BIOS_IMAGE, b"\x01", exe_folder)
    with small_drive(native, "2m") as folder:
        assert run_on_drive(native, exe, "-x", folder).exit_code == 0
        room = free_bytes(folder)
        for path in sorted(folder.rglob("*"), reverse=True):
            path.rmdir() if path.is_dir() else path.unlink()
        patch_entry(native, exe, BIOS_IMAGE, b"\x01" * (PAGE + room), exe_folder)

        run = run_on_drive(native, exe, "-l", folder)
        assert run.exit_code == 3
        assert run.messages[-2:] == [NO_BATCH, "fn_Cleanup"]
        assert not run.child_messages(native.client_module)
        assert names(folder) == ["setup.log"]
        assert (folder / "setup.log").read_bytes() == expected_log(3)


def plant_link(path, target):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.symlink_to(target)


def test_planted_links_are_never_written_or_deleted_through(native, make_workdir):
    """Wine shows a Unix link to a folder as a reparse point, one to a file as a plain file, and
    cannot remove either without reaching the target: each stays, and so do the targets."""
    folder = make_workdir(native)
    patch_entry(native, folder / "setup.exe", 119, b"trace-log=yes\r\n", folder.parent)
    outside = folder.parent / (folder.name + "_outside")
    outside.mkdir(exist_ok=True)
    (outside / "layer").mkdir(exist_ok=True)
    (outside / "layer" / "kept.txt").write_bytes(b"outside folder file")
    linked = ["profile.xml", "Flash.hdr", "setup.log", "setup.trace.log",
              native.client_module + ".exe", "hwixqmb"]

    def plant(name):
        target = outside / "layer" if name == "hwixqmb" else outside / (name + ".target")
        if name != "hwixqmb":
            target.write_bytes(b"outside " + name.encode())
            target.chmod(0o444)
        plant_link(folder / name, target)

    def outside_files():
        return {p.name: (p.read_bytes(), p.stat().st_mode) for p in outside.rglob("*")
                if p.is_file()}

    for name in linked:
        plant(name)
    before = outside_files()
    # The batch is written and has no line for a link; then the batch itself is a link.
    for options, code, batch_linked in (("-l", 3, False), ("-x -l", 2, True), ("-l", 3, True)):
        if batch_linked and not (folder / "delzrph.bat").is_symlink():
            plant("delzrph.bat")
            before = outside_files()
        run = native.run(f"setup.exe {options}", folder)
        assert run.exit_code == code, options
        assert not run.child_messages(native.client_module)
        if code == 3:
            assert INCOMPLETE in run.messages
        if not batch_linked:
            assert wait_for_batch(folder)
        assert outside_files() == before, options
        assert all((folder / name).is_symlink() for name in linked)


def service_cabinet_with(native, folder, entries, **options):
    patch_entry(native, folder / "setup.exe", SERVICE_CABINET, write_cabinet(entries, **options),
                folder.parent)


def test_cabinet_set_ends_at_once(native, make_workdir):
    folder = make_workdir(native)
    program = (native.kit / "QTMStandaloneSvc.exe").read_bytes()
    service_cabinet_with(native, folder, [Entry(b"QTMStandaloneSvc.exe", program)],
                         continues_in=b"QTMStandaloneSvc2.cab")
    started = time.monotonic()
    run = native.run("setup.exe -x", folder, timeout=60)
    assert time.monotonic() - started < 20 * TIME_FACTOR
    assert run.exit_code == 2
    assert "FdiNotify: cabinet continues in another cabinet, refused\n" in run.messages
    assert "FDICopy() failed: code 11 [User aborted]\n" in run.messages
    assert "QTMStandaloneSvc.exe" not in names(folder)


@pytest.mark.parametrize("name,laid_out", [
    ("Mötör Ä€😀.txt".encode(), "Mötör Ä€😀.txt"),
    (b"bad \xc3(.txt", None),       # a cut sequence
    (b"over\xc0\xafload.txt", None),  # an overlong "/"
])
def test_names_marked_utf8(native, make_workdir, name, laid_out):
    folder = make_workdir(native)
    program = (native.kit / "QTMStandaloneSvc.exe").read_bytes()
    service_cabinet_with(native, folder, [Entry(b"QTMStandaloneSvc.exe", program),
                                          Entry(name, b"data", attribs=0xA0)])
    run = native.run("setup.exe -x", folder)
    if laid_out is None:
        assert run.exit_code == 2
        assert any(m.startswith("FdiNotify: entry ") and m.endswith("refused\n")
                   for m in run.messages)
    else:
        assert run.exit_code == 0
        assert (folder / laid_out).read_bytes() == b"data"


def test_trace_log_in_one_code_page(native, make_workdir):
    """Under a Western locale (ANSI 1252, OEM 850) the batch is written in OEM bytes, while the
    trace log, the batch text in it included, holds the ANSI bytes of the folder's name."""
    base = make_workdir(native)
    folder = base / "Jörg"
    folder.mkdir()
    (base / "setup.exe").rename(folder / "setup.exe")
    patch_entry(native, folder / "setup.exe", 119, b"trace-log=yes\r\n", base)
    native.own(base)
    native.use_locale(WESTERN)
    # A reboot keeps the batch; the last argument is a spare (see use_locale).
    run = native.run("setup.exe --reboot --exit=0", folder, env=WESTERN)
    assert run.exit_code == 0
    assert b"J\x94rg" in (folder / "delzrph.bat").read_bytes()
    trace = (folder / "setup.trace.log").read_bytes()
    assert b"J\x94rg" not in trace
    assert b'@echo off\r\n' in trace and b'J\xf6rg\\profile.xml"' in trace


def test_read_only_result_log_is_replaced_by_a_failed_run(unprivileged, make_workdir):
    folder = make_workdir(unprivileged)
    log = folder / "setup.log"
    log.write_bytes(expected_log(0))
    unprivileged.own(log)
    log.chmod(0o444)
    run = unprivileged.run("setup.exe -l --exit=2", folder)
    assert run.exit_code == 3
    assert log.read_bytes() == expected_log(3)


def test_files_the_batch_does_not_name_are_removed_too(native, make_workdir):
    """Extra entries of a kit cabinet (another maker's cabinet carries a DLL, a folder, names
    outside the code pages) are the run's own files: nothing of them stays after the cleanup."""
    native.remove_service()
    folder = make_workdir(native)
    program = (native.kit / "QTMStandaloneSvc.exe").read_bytes()
    service_cabinet_with(native, folder, [
        Entry(b"QTMStandaloneSvc.exe", program),
        Entry(b"extra.dll", b"a library the kit's maker added"),
        Entry(b"sub\\deeper\\notes.txt", b"in a folder of its own"),
        Entry("Prüfung.txt".encode(), b"a Western name", attribs=0xA0),
        Entry("Mötör Ä€😀.txt".encode(), b"no ANSI or OEM form", attribs=0xA0),
    ])
    run = native.run("setup.exe -l", folder)
    assert run.exit_code == 0
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe", "setup.log"]

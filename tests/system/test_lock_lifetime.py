"""One task at a time for as long as anything of it runs: the machine lock and the run's files
outlive the setup's waits, its death and its cleanup batch's stalls, and a pending restart closes
the PC to BIOS tasks until the restart."""

import math
import os
import shutil
import signal
import subprocess
import time

from cabinet import Entry, write_cabinet
from conftest import (RESTART_PENDING, TIME_FACTOR, WINE_LOADERS, make_target, patch_entry,
                      processes_in_prefix, wait_for_batch)
from test_deployment import DATA_PROFILE, query_record, read_records
from test_fleet import BUSY, Background
from test_install import PAYLOAD, client_wait, names

LOCK_NAME = "Global\\Corvane BIOS task package"
TRACE_ON = b"trace-log=yes\r\n"
LAYER_FAILED = "fn_Install: Install HWIX QMB failed, continue anyway"
CLIENT_OK = "fn_Install: Call to Runvex.exe successfull"
CLIENT_FAILED = "fn_Install: Call to Runvex.exe failed"
NOT_OVER = "the task is not over: the files of this run are kept and the PC waits for its restart"
MARK_REASON = "the task was not over when the setup ended: processes still running: "


def ms(seconds):
    return int(seconds * 1000)


def records(folder, name="setup.trace.log"):
    """(type, text) of every record of a trace log."""
    return [(int(m["type"]), m["text"]) for m in read_records(folder / name)]


def layer_cabinet_id(target):
    return 104 if target.windows64 else 105


def run_until_admitted(target, folder, seconds):
    """Runs `setup.exe -x` in `folder` until one is let in; returns (runs turned away, seconds
    until the first was let in). Every refused run must have been turned away by the lock."""
    started = time.monotonic()
    turned_away = 0
    while True:
        run = target.run("setup.exe -x", folder)
        if run.exit_code != 1618:
            assert run.exit_code == 0
            return turned_away, time.monotonic() - started
        assert run.all_messages == [BUSY]
        assert names(folder) == ["setup.exe"]
        turned_away += 1
        assert time.monotonic() - started < seconds * TIME_FACTOR, "the lock never ended"


def remove_laid_out(folder):
    for path in sorted(folder.rglob("*"), reverse=True):
        if path != folder / "setup.exe":
            path.rmdir() if path.is_dir() else path.unlink()


def test_a_late_client_closes_the_pc_until_the_restart(native, make_workdir):
    """The client outlives the setup's wait: exit 3, nothing of its task is removed under it, and
    no other task starts until the PC has restarted, also after the client has ended and left
    its restart request late; after the restart a run of the package, whose client asks for
    nothing, finds that stale request removed and cleans up."""
    first = make_workdir(native)
    patch_entry(native, first / "setup.exe", 119, TRACE_ON + client_wait(1), first.parent)
    other = make_workdir(native, suffix="_other")
    stay = 8 * TIME_FACTOR
    run = native.run(f"setup.exe --stay={ms(stay)} --reboot", first, wait_for_lock=False,
                     keep_restart_mark=True)
    try:
        assert run.exit_code == 3
        assert run.messages[-1] == "fn_Cleanup"
        assert set(PAYLOAD) | {native.client_module + ".exe", "delzrph.bat"} <= set(names(first))
        assert (2, f"* {native.client_module}.exe still runs after its wait: {NOT_OVER}") in \
            records(first)
        assert native.restart_mark()["Reason"] == MARK_REASON + "1"
        # The client holds the lock while it runs.
        busy = native.run("setup.exe -x", other, keep_restart_mark=True)
        assert busy.exit_code == 1618 and busy.all_messages == [BUSY]
        deadline = time.monotonic() + 3 * stay
        while not (first / "reboot.txt").exists():
            assert time.monotonic() < deadline, "the client never ended"
            time.sleep(0.1)
        assert_turned_away_until_restart(native, other, first)
        assert set(PAYLOAD) <= set(names(first))
    finally:
        native.restart()
    patch_entry(native, first / "setup.exe", 119, TRACE_ON, first.parent)
    again = native.run("setup.exe", first)
    assert again.exit_code == 0 and "Is not shutdown" in again.messages
    assert (2, "* reboot.txt of an earlier task removed: only this run's client module asks for "
               "a restart") in records(first)
    assert wait_for_batch(first)
    # The given-up run's trace log stays beside the new one.
    assert names(first) == ["setup.exe", "setup.trace.lo_", "setup.trace.log"]


def assert_turned_away_until_restart(target, folder, marked_folder):
    turned = target.run("setup.exe -x", folder, keep_restart_mark=True)
    assert turned.exit_code == 1618
    assert turned.all_messages == [f"{RESTART_PENDING} setup.exe in "
                                   f"{target.win_path(marked_folder)}, exit code 1618: retry "
                                   "after the restart."]
    assert names(folder) == ["setup.exe"]


def test_a_killed_setup_leaves_its_lock_with_its_client(native, make_workdir):
    """The deployment system kills the setup, not its client module: every later run is turned
    away until the client has ended; then one runs whole."""
    first = make_workdir(native)
    other = make_workdir(native, suffix="_other")
    stay = 10 * TIME_FACTOR
    a = Background(native, f"setup.exe --stay={ms(stay)}", first, wait_for_lock=False)
    a.wait_for(native.client_module)
    client_started = time.monotonic()
    native.wine("taskkill", "/f", "/im", "setup.exe")
    killed = a.finish()
    assert "fn_Cleanup" not in killed.messages
    turned_away, admitted_after = run_until_admitted(native, other, 3 * stay)
    assert turned_away >= 2
    assert time.monotonic() - client_started > stay - 1
    remove_laid_out(other)
    assert native.run("setup.exe", other).exit_code == 0
    assert names(other) == ["setup.exe"]


def find_batch_process(target, seconds):
    """The Unix process of a running cleanup batch in the target's prefix, caught as soon as Wine
    has started it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for pid, command_line in processes_in_prefix(target, b"delzrph.bat"):
            if command_line.startswith(b"cmd.exe"):
                return pid
    return None


def stall_batch(target, run):
    """Stops the cleanup batch of `run` (a Background run) before it is done and after the setup
    has exited: Wine's process creation in the setup waits for the batch's start-up, which a
    batch stopped at once would never finish, so the batch goes on in short slices until the
    setup has exited. Returns the stopped batch's process, or None when it ended first."""
    batch = find_batch_process(target, 60 * TIME_FACTOR)
    if batch is None:
        return None
    try:
        os.kill(batch, signal.SIGSTOP)
        while run.running():
            os.kill(batch, signal.SIGCONT)
            time.sleep(0.001 * TIME_FACTOR)
            os.kill(batch, signal.SIGSTOP)
            time.sleep(0.05)
    except ProcessLookupError:
        return None
    return batch


def test_a_stalled_batch_keeps_the_lock(native, make_workdir):
    """The batch is stopped (SIGSTOP) before it is done: later runs are turned away until it goes
    on and ends, so it never deletes a later run's payload."""
    first = make_workdir(native)
    for attempt in range(10):
        remove_laid_out(first)
        a = Background(native, "setup.exe", first, wait_for_lock=False)
        batch = stall_batch(native, a)
        assert a.finish().exit_code == 0
        if batch is not None and (first / "delzrph.bat").exists():
            break
        if batch is not None:
            os.kill(batch, signal.SIGCONT)
        assert wait_for_batch(first)
    else:
        raise AssertionError("the batch was never caught while it ran")
    try:
        for _ in range(3):
            same_folder = native.run("setup.exe", first)
            assert same_folder.exit_code == 1618 and same_folder.all_messages == [BUSY]
        stalled = names(first)
    finally:
        os.kill(batch, signal.SIGCONT)
    assert "delzrph.bat" in stalled
    assert wait_for_batch(first)
    run = native.run("setup.exe", first)
    assert run.exit_code == 0
    assert names(first) == ["setup.exe"]


def test_a_late_layer_installer_keeps_its_folder(native, make_workdir):
    """The layer's installer outlives its wait: its folder stays (and the lock with it), while
    the setup removes the run's other files itself."""
    folder = make_workdir(native, exe=native.shortwait_exe)
    exe = folder / "setup.exe"
    linger = (native.tools / "linger.exe").read_bytes()
    layer = write_cabinet([Entry(b"setup.exe", linger), Entry(b"layer.dat", b"used by setup")])
    patch_entry(native, exe, layer_cabinet_id(native), layer, folder.parent)
    patch_entry(native, exe, 119, TRACE_ON, folder.parent)
    other = make_workdir(native, suffix="_other")
    stay = 8 * TIME_FACTOR
    run = native.run("setup.exe", folder, env={"LINGER_SECONDS": str(round(stay))},
                     wait_for_lock=False)
    assert run.exit_code == 0
    assert LAYER_FAILED in run.messages and CLIENT_OK in run.messages
    assert names(folder) == ["hwixqmb", "setup.exe", "setup.trace.log"]
    assert names(folder / "hwixqmb") == ["layer.dat", "setup.exe"]
    assert (3, "* hwixqmb\\Setup.exe still runs after its wait: .\\hwixqmb is kept") in \
        records(folder)
    assert native.run("setup.exe -x", other).exit_code == 1618
    run_until_admitted(native, other, 3 * stay)
    assert names(folder / "hwixqmb") == ["layer.dat", "setup.exe"]
    # A later run replaces the leftover folder and removes it.
    again = native.run("setup.exe", folder, env={"LINGER_SECONDS": "0"})
    assert again.exit_code == 0
    assert names(folder) == ["setup.exe", "setup.trace.lo_", "setup.trace.log"]


def test_the_client_waits_for_what_it_started(native, make_workdir):
    """A client module that hands the task to a helper and exits at once is waited for until the
    helper has ended; a helper still running at the limit means the task is not over: exit 3,
    every file kept, the record counts it, and the PC is closed to BIOS tasks until it restarts."""
    native.remove_service()
    folder = make_workdir(native)
    stay = 3 * TIME_FACTOR
    started = time.monotonic()
    run = native.run(f"setup.exe --helper={ms(stay)}", folder, wait_for_lock=False)
    assert time.monotonic() - started > stay
    assert run.exit_code == 0 and "helper started" in run.child_messages(native.client_module)
    assert wait_for_batch(folder)
    assert names(folder) == ["setup.exe"]

    late = make_workdir(native, suffix="_late")
    wait = math.ceil(3 * TIME_FACTOR)
    patch_entry(native, late / "setup.exe", 119,
                TRACE_ON + client_wait(wait) + b"result-key=Helper test\r\n", late.parent)
    run = native.run(f"setup.exe --helper={ms(wait + 5 * TIME_FACTOR)}", late,
                     wait_for_lock=False, keep_restart_mark=True)
    try:
        # The task is not over: its helper may still be flashing.
        assert run.exit_code == 3 and CLIENT_FAILED in run.messages
        assert set(PAYLOAD) <= set(names(late))
        assert (2, f"* processes started by {native.client_module}.exe still run after its "
                   f"wait: 1; {NOT_OVER}") in records(late)
        record = query_record(native, "Helper test")
        assert (record["ExitCode"], record["ProcessesLeft"], record["RebootPending"]) == \
            ("0x3", "0x1", "0x0")
        # The helper holds no lock (nothing handed it on); the restart mark closes the PC.
        assert_turned_away_until_restart(native, folder, late)
    finally:
        native.restart()


def test_client_wait_is_the_packages_choice(native, make_workdir):
    """A flash tool that needs longer than the setup's own wait (3 s in this build, times the
    machine's time factor) ends within the wait the package's maker chose with setup-pack."""
    native.remove_service()
    base = make_workdir(native)
    shutil.copy(native.shortwait_exe, base / "template.exe")
    (base / "profile.xml").write_bytes(DATA_PROFILE)
    wait = round(8 * TIME_FACTOR)
    built = native.wine(str(native.pack_exe), "build", "--template", "template.exe", "--profile",
                        "profile.xml", "--client-wait", str(wait), "--out", "task.exe", cwd=base)
    assert built.returncode == 0
    listed = native.wine(str(native.pack_exe), "list", "task.exe", cwd=base).stdout.decode()
    assert f"Settings: client-wait={wait}" in listed.splitlines()
    folder = base / "pkgdir"
    folder.mkdir()
    shutil.copy(base / "task.exe", folder / "task.exe")
    run = native.run(f"task.exe --stay={ms(5 * TIME_FACTOR)}", folder)
    assert run.exit_code == 0
    assert CLIENT_OK in run.messages
    assert names(folder) == ["task.exe"]


def test_a_pending_restart_closes_the_pc_to_bios_tasks(native, make_workdir):
    """Until the restart, every run of any package is turned away and the record of the run that
    asked for it stays; after the restart (of the Wine prefix) a run replaces the kept files."""
    first = make_workdir(native)
    patch_entry(native, first / "setup.exe", 119, b"result-key=Lock test\r\n", first.parent)
    other = make_workdir(native, suffix="_other")
    run = native.run("setup.exe --reboot", first, keep_restart_mark=True)
    assert run.exit_code == 0 and "Is shutdown" in run.messages
    try:
        mark = native.restart_mark()
        assert mark is not None and mark["Package"] == "setup.exe"
        assert mark["Folder"] == native.win_path(first)
        kept = names(first)
        refusal = (f"{RESTART_PENDING} setup.exe in {native.win_path(first)}, exit code 1618: "
                   "retry after the restart.")
        for command_line, folder in (("setup.exe", first), ("setup.exe -x -l", other),
                                     ("setup.exe -l", other)):
            turned = native.run(command_line, folder, keep_restart_mark=True)
            assert turned.exit_code == 1618, command_line
            assert turned.all_messages == [refusal]
        assert names(first) == kept and names(other) == ["setup.exe"]
        assert query_record(native, "Lock test")["RebootPending"] == "0x1"
    finally:
        native.restart()
    assert native.restart_mark() is None
    run = native.run("setup.exe", first)
    assert run.exit_code == 0
    assert names(first) == ["setup.exe"]


def test_a_restart_mark_is_seen_by_both_flavours(wow64, make_workdir, request):
    """The 64-bit setup's mark turns the 32-bit setup away on the same PC (one registry view)."""
    native64 = make_target(request, "setup64-win64")
    folder = make_workdir(native64)
    assert native64.run("setup.exe --reboot", folder, keep_restart_mark=True).exit_code == 0
    try:
        other = make_workdir(wow64, suffix="_32")
        turned = wow64.run("setup.exe -x", other, keep_restart_mark=True)
        assert turned.exit_code == 1618
        assert turned.all_messages[0].startswith(RESTART_PENDING)
    finally:
        native64.restart()


def test_a_lock_name_held_by_another_object_is_not_another_run(native, make_workdir):
    """Any program can take the lock's name first; the setup says so with the platform's error
    (still 1618, nothing written) instead of sending administrators after a run that does not
    exist."""
    folder = make_workdir(native)
    holder = subprocess.Popen(
        native.command(WINE_LOADERS[native.arch], str(native.tools / "linger.exe"), "--event",
                       LOCK_NAME, str(round(60 * TIME_FACTOR))),
        env=native.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL)
    try:
        assert holder.stdout.readline().strip() == b"held"
        run = native.run("setup.exe -l", folder)
        assert run.exit_code == 1618
        assert run.all_messages == [f"WinMain: The BIOS task package lock {LOCK_NAME} cannot be "
                                    "taken, error 6, exit code 1618: retry later."]
        assert names(folder) == ["setup.exe"]
    finally:
        native.wine("taskkill", "/f", "/im", "linger.exe")
        holder.wait(timeout=30 * TIME_FACTOR)
    assert native.run("setup.exe -x", folder).exit_code == 0

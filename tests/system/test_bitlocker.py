"""BitLocker protection of the system drive, suspended for the one restart a BIOS task needs, at
the package's choice. The platform's tool is stood in for by manage-bde.exe of the test tools in
the prefix's system folders; it answers each verb with the exit code the test chooses."""

import shutil

import pytest

from conftest import CAN_RUN_32BIT, FLAVOURS, TIME_FACTOR, processes_in_prefix, wait_for_batch
from test_deployment import build_package, query_record, read_records
from test_fleet import Background
from test_install import client_wait, names

ON, OFF = "0", "1"
TOOL = "manage-bde"


@pytest.fixture
def bitlocker_tool(request):
    """Puts the stand-in into the target's system folders: the 64-bit build into the 64-bit
    one, and, as a decoy the 32-bit setup must not reach, the 32-bit build into the WOW64 one.
    The package's Windows is Windows 10 (a fresh prefix says Windows 7, which cannot suspend for
    one restart)."""
    placed = []
    versioned = []

    def place(target, tool=True):
        target.set_version("task.exe", "win10")
        versioned.append(target)
        if not tool:
            return
        windows = target.drive_c / "windows"
        if target.windows64:
            folders = [(windows / "system32", 64)]
            if CAN_RUN_32BIT:
                folders.append((windows / "syswow64", 32))
        else:
            folders = [(windows / "system32", 32)]
        for folder, bits in folders:
            shutil.copy(FLAVOURS[bits].tools / "manage-bde.exe", folder / "manage-bde.exe")
            target.own(folder / "manage-bde.exe")
            placed.append(folder / "manage-bde.exe")

    yield place
    for path in placed:
        path.unlink(missing_ok=True)
    for target in versioned:
        target.wine("reg", "delete", r"HKCU\Software\Wine\AppDefaults\task.exe", "/f")


def tool_calls(run):
    """What the stand-in was asked, in order: (its bitness, the arguments after its path, its exit
    code)."""
    calls = []
    for text in run.child_messages(TOOL):
        bits, rest = text.split("-bit ", 1)
        arguments, code = rest.rsplit(" -> ", 1)
        calls.append((int(bits), arguments.split(".exe\" ", 1)[1], int(code)))
    return calls


STATUS = "-status C: -ProtectionAsErrorLevel"
SUSPEND = "-protectors -disable C: -RebootCount 1"
RESUME = "-protectors -enable C:"


def bitlocker_package(target, make_workdir, *settings, template=None):
    key = f"bitlocker {target.name}"
    view = ["/reg:64"] if target.windows64 else []
    target.wine("reg", "delete", rf"HKLM\SOFTWARE\Corvane\BIOS task package\{key}", "/f", *view)
    run_dir, listed = build_package(target, make_workdir(target), "--suspend-bitlocker",
                                    "--trace-log", "--result-key", key, *settings,
                                    template=template)
    assert "suspend-bitlocker=yes" in listed[-2]
    return run_dir, key


def volume(target, run_dir, protection):
    """A state file for the stand-in, which answers -status from it and changes it as it
    suspends and resumes: the environment that points it there, and a reader of the state."""
    path = run_dir.parent / "volume.txt"
    path.write_text(protection)
    target.own(path)
    return {"SETUP_TEST_BDE_STATE": target.win_path(path)}, path.read_text


def traced(run_dir, record_type=None):
    return [m["text"] for m in read_records(run_dir / "task.trace.log")
            if record_type is None or m["type"] == record_type]




def test_protection_off_is_left_alone_and_the_setting_is_off_by_default(prefix, make_workdir,
                                                                        bitlocker_tool):
    bitlocker_tool(prefix)
    run_dir, key = bitlocker_package(prefix, make_workdir)
    run = prefix.run("task.exe", run_dir, env={"SETUP_TEST_BDE_STATUS": OFF})
    assert run.exit_code == 0, run.report()
    # The 64-bit tool, also from the 32-bit setup on 64-bit Windows.
    bits = 64 if prefix.windows64 else 32
    assert tool_calls(run) == [(bits, STATUS, 1)]
    assert query_record(prefix, key)["BitLockerSuspended"] == "0x0"
    assert wait_for_batch(run_dir)

    plain_dir, _ = build_package(prefix, make_workdir(prefix, "-plain"))
    plain = prefix.run("task.exe", plain_dir, env={"SETUP_TEST_BDE_STATUS": ON})
    assert plain.exit_code == 0 and tool_calls(plain) == []


@pytest.mark.parametrize("end", ["no restart", "restart", "task not over"])
def test_protection_on_is_suspended_for_one_restart_before_the_client_module(
        native, make_workdir, bitlocker_tool, end):
    """Read before anything is installed, suspended right before the client module, resumed
    after it unless a restart follows or the task is not over when the setup must exit."""
    bitlocker_tool(native)
    wait = round(3 * TIME_FACTOR)
    run_dir, key = bitlocker_package(native, make_workdir, "--reboot-exit-code", "3010",
                                     "--client-wait", str(wait))
    env, protection = volume(native, run_dir, ON)
    switch = {"no restart": "", "restart": " --reboot",
              "task not over": f" --helper={round((wait + 5 * TIME_FACTOR) * 1000)}"}[end]
    run = native.run("task.exe" + switch, run_dir, env=env)
    assert run.exit_code == {"no restart": 0, "restart": 3010, "task not over": 3}[end], \
        run.report()
    resumed = end == "no restart"
    assert [arguments for _, arguments, _ in tool_calls(run)] == \
        [STATUS, SUSPEND] + ([RESUME] if resumed else [])
    order = [t.split(":")[0] for t in run.all_messages
             if t.startswith((TOOL + ":", "hwix Setup: -l")) or
             t.startswith(native.client_module) and t.endswith("-file:profile.xml" + switch)]
    assert order == [TOOL, "hwix Setup", TOOL, native.client_module] + ([TOOL] if resumed else [])
    assert protection() == (ON if resumed else OFF)
    record = query_record(native, key)
    assert record["BitLockerSuspended"] == ("0x0" if resumed else "0x1")
    assert record["RebootPending"] == ("0x1" if end == "restart" else "0x0")
    assert record["ProcessesLeft"] == ("0x1" if end == "task not over" else "0x0")
    records = traced(run_dir)
    assert "* BitLocker protection of C: suspended for one restart" in records
    assert {"no restart": "* BitLocker protection of C: resumed",
            "restart": "* BitLocker protection of C: stays suspended for the restart",
            "task not over": "* BitLocker protection of C: stays suspended for the restart: the "
                             "task is not over"}[end] in records


@pytest.mark.parametrize("case", ["suspension refused", "status unknown", "tool missing"])
def test_protection_that_cannot_be_suspended_stops_the_task(native, make_workdir, bitlocker_tool,
                                                            case):
    """A status that cannot be read stops the run before anything is written or started; a
    refused suspension stops it before the client module."""
    bitlocker_tool(native, tool=case != "tool missing")
    run_dir, key = bitlocker_package(native, make_workdir)
    env = {"SETUP_TEST_BDE_STATUS": ON, "SETUP_TEST_BDE_DISABLE": "5"}
    if case == "status unknown":
        env["SETUP_TEST_BDE_STATUS"] = "-2147024809"
    run = native.run("task.exe -l", run_dir, env=env)
    assert run.exit_code == 3, run.report()
    refused = case == "suspension refused"
    expected = ("fn_Install: BitLocker protection could not be suspended, client module not "
                "started." if refused else
                "fn_Install: BitLocker protection status could not be read, client module not "
                "started.")
    assert expected in run.messages
    assert run.child_messages(native.client_module) == []
    assert (run.child_messages("hwix Setup") != []) == refused
    assert query_record(native, key)["BitLockerSuspended"] == "0x0"
    # Removed as after any failure, or never written; the logs stay.
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe", "task.log", "task.trace.log"]
    assert any(t.startswith("* BitLocker protection of C:") for t in traced(run_dir, "3"))


@pytest.mark.parametrize("hangs", ["before it acts", "after it has acted"])
def test_a_suspension_that_hangs_is_ended_and_undone(native, make_workdir, bitlocker_tool, hangs):
    """A tool that does not answer within its wait is ended with what it started, so it cannot
    suspend protection after the setup gave up; the status is read again and a suspension found
    is resumed before the run fails."""
    bitlocker_tool(native)
    run_dir, key = bitlocker_package(native, make_workdir, template=native.shortwait_exe)
    env, protection = volume(native, run_dir, ON)
    env.update(SETUP_TEST_BDE_HANG="disable",
               SETUP_TEST_BDE_HANG_AFTER="1" if hangs == "after it has acted" else "0")
    run = native.run("task.exe", run_dir, env=env)
    assert run.exit_code == 3, run.report()
    assert "manage-bde hangs: disable" in run.all_messages
    assert ("fn_Install: BitLocker protection could not be suspended, client module not "
            "started.") in run.messages
    assert processes_in_prefix(native, b"manage-bde") == []
    acted = hangs == "after it has acted"
    # The hung call gives no answer; then the status again, and the resumption where it acted.
    assert [arguments for _, arguments, _ in tool_calls(run)] == \
        [STATUS, STATUS] + ([RESUME] if acted else [])
    assert protection() == ON
    assert run.child_messages(native.client_module) == []
    assert query_record(native, key)["BitLockerSuspended"] == "0x0"
    records = traced(run_dir)
    assert any(t.startswith("* BitLocker protection of C: not suspended: manage-bde.exe gave no "
                            "exit code within ") and t.endswith(" ms and was ended")
               for t in records), records
    assert ("* BitLocker protection of C: resumed" if acted else
            "* BitLocker protection of C: is on: it was not suspended") in records


def test_a_killed_setup_leaves_a_record_without_finished(native, make_workdir, bitlocker_tool):
    """The record is opened when the client module starts: a setup killed while its client runs
    (a deployment system's time limit) leaves Started and the suspension, and nothing of the
    run before it."""
    bitlocker_tool(native)
    run_dir, key = bitlocker_package(native, make_workdir)
    env, _ = volume(native, run_dir, OFF)
    assert native.run("task.exe", run_dir, env=env).exit_code == 0
    assert "Finished" in query_record(native, key)
    assert wait_for_batch(run_dir)
    env, protection = volume(native, run_dir, ON)
    run = Background(native, f"task.exe --stay={round(60 * TIME_FACTOR * 1000)}", run_dir,
                     wait_for_lock=False, env=env)
    try:
        run.wait_for(native.client_module + ": profile")
        native.wine("taskkill", "/f", "/im", "task.exe")
        assert "fn_Cleanup" not in run.finish().messages
        record = query_record(native, key)
        assert record["BitLockerSuspended"] == "0x1" and protection() == OFF
        assert "Started" in record and record["Package"] == "task.exe"
        assert not {"Finished", "ExitCode", "RebootPending", "ProcessesLeft"} & set(record)
    finally:
        native.restart()


@pytest.mark.parametrize("windows", ["Windows 7", "Windows PE"])
def test_where_suspending_does_not_apply_the_task_runs(native, make_workdir, bitlocker_tool,
                                                       windows):
    """Windows 7 keeps a suspension until someone resumes it; Windows PE runs from a RAM disk, not
    from the protected Windows. The package leaves protection as it is, says why, and runs the
    task."""
    bitlocker_tool(native)
    run_dir, _ = bitlocker_package(native, make_workdir)
    mini_nt = r"HKLM\SYSTEM\CurrentControlSet\Control\MiniNT"
    if windows == "Windows 7":
        shutil.move(run_dir / "task.exe", run_dir / "win7task.exe")
        native.set_version("win7task.exe", "win7")
        exe = "win7task.exe"
    else:
        native.wine("reg", "add", mini_nt, "/f")
        exe = "task.exe"
    try:
        run = native.run(exe, run_dir, env={"SETUP_TEST_BDE_STATUS": ON})
    finally:
        if windows == "Windows PE":
            native.wine("reg", "delete", mini_nt, "/f")
    assert run.exit_code == 0, run.report()
    assert tool_calls(run) == []
    warnings = [m["text"] for m in read_records(run_dir / exe.replace(".exe", ".trace.log"))
                if m["type"] == "2"]
    reason = "Windows 8 and later can" if windows == "Windows 7" else "Windows PE runs from a RAM"
    assert any(t.startswith("* BitLocker protection not suspended") and reason in t
               for t in warnings), warnings

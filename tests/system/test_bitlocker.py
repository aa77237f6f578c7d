"""BitLocker protection of the system drive, suspended for the one restart a BIOS task needs, at
the package's choice. The platform's tool is stood in for by manage-bde.exe of the test tools in
the prefix's system folders; it answers each verb with the exit code the test chooses."""

import shutil

import pytest

from conftest import CAN_RUN_32BIT, FLAVOURS, wait_for_batch
from test_deployment import build_package, query_record, read_records
from test_install import names

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


def bitlocker_package(target, make_workdir, *settings):
    key = f"bitlocker {target.name}"
    view = ["/reg:64"] if target.windows64 else []
    target.wine("reg", "delete", rf"HKLM\SOFTWARE\Corvane\BIOS task package\{key}", "/f", *view)
    run_dir, listed = build_package(target, make_workdir(target), "--suspend-bitlocker",
                                    "--trace-log", "--result-key", key, *settings)
    assert "suspend-bitlocker=yes" in listed[-2]
    return run_dir, key


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


@pytest.mark.parametrize("restart", [False, True])
def test_protection_on_is_suspended_for_one_restart_before_the_client_module(
        native, make_workdir, bitlocker_tool, restart):
    bitlocker_tool(native)
    run_dir, key = bitlocker_package(native, make_workdir, "--reboot-exit-code", "3010")
    run = native.run("task.exe" + (" --reboot" if restart else ""), run_dir,
                     env={"SETUP_TEST_BDE_STATUS": ON})
    assert run.exit_code == (3010 if restart else 0), run.report()
    expected = [STATUS, SUSPEND] + ([] if restart else [RESUME])
    assert [arguments for _, arguments, _ in tool_calls(run)] == expected
    # The suspension comes after the layer and the service, right before the client module; the
    # resumption after it has ended.
    order = [t for t in run.all_messages if t.startswith((TOOL, native.client_module + ": \""))]
    assert [t.startswith(TOOL) for t in order] == [True, True, False] + ([] if restart else [True])
    assert query_record(native, key)["BitLockerSuspended"] == ("0x1" if restart else "0x0")
    records = [m["text"] for m in read_records(run_dir / "task.trace.log")]
    assert "* BitLocker protection of C: suspended for one restart" in records
    assert ("* BitLocker protection of C: stays suspended for the restart" if restart
            else "* BitLocker protection of C: resumed") in records


@pytest.mark.parametrize("case", ["suspension refused", "status unknown", "tool missing"])
def test_protection_that_cannot_be_suspended_stops_the_task(native, make_workdir, bitlocker_tool,
                                                            case):
    bitlocker_tool(native, tool=case != "tool missing")
    run_dir, key = bitlocker_package(native, make_workdir)
    env = {"SETUP_TEST_BDE_STATUS": ON, "SETUP_TEST_BDE_DISABLE": "5"}
    if case == "status unknown":
        env["SETUP_TEST_BDE_STATUS"] = "-2147024809"
    run = native.run("task.exe", run_dir, env=env)
    assert run.exit_code == 3, run.report()
    expected = ("fn_Install: BitLocker protection could not be suspended, client module not "
                "started." if case == "suspension refused" else
                "fn_Install: BitLocker protection status could not be read, client module not "
                "started.")
    assert expected in run.messages
    assert run.child_messages(native.client_module) == []
    assert query_record(native, key)["BitLockerSuspended"] == "0x0"
    # Removed as after any failure; only the trace log stays.
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe", "task.trace.log"]
    errors = [m["text"] for m in read_records(run_dir / "task.trace.log") if m["type"] == "3"]
    assert any(t.startswith("* BitLocker protection of C:") for t in errors), errors


def test_windows_7_does_not_suspend(native, make_workdir, bitlocker_tool):
    """Windows 7 keeps a suspension until someone resumes it: the package leaves protection as it
    is, says so, and runs the task."""
    bitlocker_tool(native)
    run_dir, _ = bitlocker_package(native, make_workdir)
    shutil.move(run_dir / "task.exe", run_dir / "win7task.exe")
    native.set_version("win7task.exe", "win7")
    run = native.run("win7task.exe", run_dir, env={"SETUP_TEST_BDE_STATUS": ON})
    assert run.exit_code == 0, run.report()
    assert tool_calls(run) == []
    warnings = [m["text"] for m in read_records(run_dir / "win7task.trace.log")
                if m["type"] == "2"]
    assert any("BitLocker protection not suspended" in t for t in warnings), warnings

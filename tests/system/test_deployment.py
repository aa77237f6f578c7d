"""What a deployment system sees, as the package's maker chose it with setup-pack: the reboot
exit code and the trace log. A package without settings behaves exactly as before."""

import contextlib
import json
import re
import shutil
import time

import pytest

from conftest import RESTART_MARK, RESULT_RECORDS, patch_entry, small_drive, wait_for_batch
from test_driver import expected_log
from test_install import names

DATA_PROFILE = b'<root><command type="bootstatus"/></root>'
# One record of the log viewers' format; the whole log is such records and nothing else.
RECORD = re.compile(
    r'<!\[LOG\[(?P<text>.*?)\]LOG\]!><time="(?P<time>\d\d:[0-5]\d:[0-5]\d\.\d{3})'
    r'(?P<bias>[+-]\d{3})" date="(?P<month>0[1-9]|1[0-2])-(?P<day>0[1-9]|[12]\d|3[01])-'
    r'(?P<year>\d{4})" component="(?P<component>[^"]*)" context="" type="(?P<type>[123])" '
    r'thread="(?P<thread>\d+)" file="">\r\n', re.S)


def build_package(target, folder, *settings, template=None):
    """task.exe from the target's template (or another setup build), with the settings options
    given."""
    shutil.copy(template or target.setup_exe, folder / "template.exe")
    (folder / "profile.xml").write_bytes(DATA_PROFILE)
    target.own(folder)
    log = folder.parent / (folder.name + ".pack.stderr")
    proc = target.wine(str(target.pack_exe), "build", "--template", "template.exe", "--profile",
                       "profile.xml", *settings, "--out", "task.exe", cwd=folder, log=log)
    assert proc.returncode == 0, (proc.stdout, log.read_text(errors="replace"))
    listed = target.wine(str(target.pack_exe), "list", "task.exe", cwd=folder).stdout.decode()
    run_dir = folder / "pkgdir"
    run_dir.mkdir()
    shutil.copy(folder / "task.exe", run_dir / "task.exe")
    target.own(run_dir)
    return run_dir, listed.splitlines()


def read_records(path):
    """Every record of a trace log, checked to cover the file byte for byte."""
    data = path.read_bytes().decode("latin-1")
    records, position = [], 0
    while position < len(data):
        m = RECORD.match(data, position)
        assert m, f"not a record at byte {position}: {data[position:position + 80]!r}"
        records.append(m)
        position = m.end()
    return records


def read_trace(path):
    """The records of a trace log: (sortable time, text), the text's lines joined with LF."""
    return [(f"{m['year']}-{m['month']}-{m['day']} {m['time']}",
             m["text"].replace("\r\n", "\n")) for m in read_records(path)]


def comparable(text):
    """A debug text as the trace shows it: no CR, no blanks at line ends."""
    return "\n".join(line.rstrip(" ") for line in text.replace("\r", "").split("\n"))


def without_folder(messages, folder_name):
    return [m.replace(folder_name, "<W>") for m in messages]


def test_package_without_settings_runs_as_before(native, make_workdir):
    native.remove_service()
    base = make_workdir(native)
    run_dir, listed = build_package(native, base)
    assert listed[-2:] == ["Settings: none", "BIOS image name: Flash.hdr"]
    assert not [row for row in listed if row.startswith("119 ")]
    before = native.run("task.exe -l", run_dir)
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe", "task.log"]

    # The template itself, laid out with the same profile, in a folder of the same name length.
    plain = base / "tpldir"
    plain.mkdir()
    shutil.copy(base / "template.exe", plain / "task.exe")
    patch_entry(native, plain / "task.exe", 107, DATA_PROFILE, base)
    native.own(plain)
    native.remove_service()
    again = native.run("task.exe -l", plain)
    assert before.exit_code == again.exit_code == 0
    assert without_folder(before.messages, "\\pkgdir") == without_folder(again.messages, "\\tpldir")
    assert (run_dir / "task.log").read_bytes() == expected_log(0)
    assert not any(m.startswith("Package settings") for m in before.messages)


def test_reboot_exit_code_only_for_a_successful_run_with_a_pending_reboot(native, make_workdir):
    base = make_workdir(native)
    run_dir, listed = build_package(native, base, "--reboot-exit-code", "3010")
    assert listed[-2] == "Settings: reboot-exit-code=3010"

    reboot = native.run("task.exe -l --reboot", run_dir)
    assert reboot.exit_code == 3010
    assert (run_dir / "task.log").read_bytes() == expected_log(0).replace(
        b"nResult = 0", b"nResult = 3010")
    assert "Is shutdown" in reboot.messages and "delzrph.bat" in names(run_dir)

    plain = native.run("task.exe -l", run_dir)
    assert plain.exit_code == 0
    assert wait_for_batch(run_dir)
    assert (run_dir / "task.log").read_bytes() == expected_log(0)

    # A failure keeps its code, and -x never installs, so no reboot can be pending.
    failed = native.run("task.exe --exit=2 --reboot", run_dir)
    assert failed.exit_code == 3
    assert native.run("task.exe -x --reboot", run_dir).exit_code == 0


def test_trace_log_holds_the_run_and_survives_the_cleanup(native, make_workdir):
    native.remove_service()
    base = make_workdir(native)
    run_dir, listed = build_package(native, base, "--trace-log")
    assert listed[-2] == "Settings: trace-log=yes"
    run = native.run('task.exe -l "a b" --exit=0', run_dir)
    assert run.exit_code == 0
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe", "task.log", "task.trace.log"]

    records = read_trace(run_dir / "task.trace.log")
    times = [ms for ms, _ in records]
    assert times == sorted(times)
    texts = [text for _, text in records if not text.startswith("* ")]
    extras = [text[2:] for _, text in records if text.startswith("* ")]
    # Every debug text, in order (Wine shows only the start of a long one).
    assert len(texts) == len(run.messages)
    for traced, shown in zip(texts, run.messages):
        assert traced.startswith(comparable(shown)[:250]), (traced, shown)
    w = native.win_path(run_dir)
    module = native.client_module
    # The caller's arguments may hold a password: withheld unless the package asks for them.
    withheld = len('-l "a b" --exit=0')
    assert (f'child command line: "{w}\\{module}.exe" -file:profile.xml '
            f'<{withheld} characters withheld>') in extras
    assert f"child {w}\\hwixqmb\\Setup.exe command line: -l -s" in extras
    assert extras.count("child ended within its wait, exit code 0") == 2
    assert f"payload entry 107 written as profile.xml, {len(DATA_PROFILE)} bytes" in extras
    assert extras[-2] == "exit code 0"
    assert extras[-1].startswith("cleanup batch started: ")
    assert extras[-1].endswith("\\cmd.exe cmd.exe /d /v:off /c delzrph.bat")
    assert texts[-1] == "fn_Cleanup"

    failed = native.run("task.exe --exit=2", run_dir)
    assert failed.exit_code == 3
    assert wait_for_batch(run_dir)
    extras = [text[2:] for _, text in read_trace(run_dir / "task.trace.log")
              if text.startswith("* ")]
    assert "child ended within its wait, exit code 2" in extras and "exit code 3" in extras


def test_unreadable_settings_are_ignored_with_one_message(native, make_workdir):
    folder = make_workdir(native)
    patch_entry(native, folder / "setup.exe", 119, b"reboot-exit-code=3010\r\ncolour=red\r\n",
                folder.parent)
    run = native.run("setup.exe --reboot", folder)
    assert run.exit_code == 0
    assert run.messages[0] == "Package settings cannot be read, ignored."
    assert run.messages[1] == "fn_CheckOS: Operating System supported"
    assert not (folder / "setup.trace.log").exists()


@pytest.mark.parametrize("args,message", [
    (["--reboot-exit-code", "0"], '--reboot-exit-code must be a number from 1 to 65535, not "0"'),
    (["--reboot-exit-code", "70000"], "must be a number from 1 to 65535"),
    (["--reboot-exit-code", "soon"], "must be a number from 1 to 65535"),
    (["--settings", "s.txt"], 's.txt line 2: unknown setting "colour"'),
    (["--settings", "bad.txt"], "bad.txt line 1: not key=value"),
    (["--settings", "s.txt", "--reboot-exit-code", "3010"], "reboot-exit-code given twice"),
    (["--client-wait", "0"], '--client-wait must be a number of seconds from 1 to 86400, not "0"'),
    (["--client-wait", "86401"], "must be a number of seconds from 1 to 86400"),
    (["--client-wait", "15m"], "must be a number of seconds from 1 to 86400"),
])
def test_pack_refuses_bad_settings(native, make_workdir, args, message):
    folder = make_workdir(native)
    shutil.copy(native.setup_exe, folder / "template.exe")
    (folder / "profile.xml").write_bytes(DATA_PROFILE)
    (folder / "s.txt").write_bytes(b"reboot-exit-code=1641\r\ncolour=red\r\n")
    (folder / "bad.txt").write_bytes(b"trace-log\r\n")
    if "s.txt" in args and "--reboot-exit-code" in args:
        (folder / "s.txt").write_bytes(b"reboot-exit-code=1641\r\n")
    native.own(folder)
    log = folder.parent / (folder.name + ".pack.stderr")
    proc = native.wine(str(native.pack_exe), "build", "--template", "template.exe", "--profile",
                       "profile.xml", *args, "--out", "task.exe", cwd=folder, log=log)
    assert proc.returncode == 1
    lines = log.read_text().splitlines()
    assert len(lines) == 1 and lines[0].startswith("setup-pack: error: ") and message in lines[0]
    assert not (folder / "task.exe").exists()


def test_settings_file_with_comments(native, make_workdir):
    folder = make_workdir(native)
    (folder / "s.txt").write_bytes(b"# ask the deployment system for a restart\r\n\r\n"
                                   b"reboot-exit-code=1641\r\ntrace-log=yes\r\n")
    run_dir, listed = build_package(native, folder, "--settings", "s.txt")
    assert listed[-2] == "Settings: reboot-exit-code=1641, trace-log=yes"
    run = native.run("task.exe --reboot", run_dir)
    assert run.exit_code == 1641
    assert (run_dir / "task.trace.log").exists()


def test_caller_arguments_in_the_trace_log_only_when_the_package_asks(native, make_workdir):
    base = make_workdir(native)
    (base / "p").mkdir()
    withheld_dir, _ = build_package(native, base / "p", "--trace-log")
    shown_dir, listed = build_package(native, base, "--trace-log", "--trace-arguments")
    assert listed[-2] == "Settings: trace-log=yes, trace-arguments=yes"
    for run_dir in (withheld_dir, shown_dir):
        assert native.run("task.exe -l -biospwd:S3cr3t", run_dir).exit_code == 0
        assert wait_for_batch(run_dir)
    assert b"S3cr3t" not in (withheld_dir / "task.trace.log").read_bytes()
    assert b"-file:profile.xml <18 characters withheld>" in \
        (withheld_dir / "task.trace.log").read_bytes()
    assert b"-file:profile.xml -l -biospwd:S3cr3t" in (shown_dir / "task.trace.log").read_bytes()


def test_trace_log_in_the_log_viewers_format(native, make_workdir):
    base = make_workdir(native)
    run_dir, _ = build_package(native, base, "--trace-log")
    run = native.run("task.exe --exit=2", run_dir)
    assert run.exit_code == 3
    assert wait_for_batch(run_dir)
    records = read_records(run_dir / "task.trace.log")
    types = {m["text"]: m["type"] for m in records}
    assert types["fn_Install: Call to Runvex.exe failed"] == "3"
    assert types["* exit code 3"] == "3"
    assert types["fn_CheckOS: Operating System supported"] == "1"
    assert {m["component"] for m in records} == {"task"}
    assert len({m["thread"] for m in records}) == 1
    assert len({m["bias"] for m in records}) == 1
    today = time.localtime()
    assert (int(records[0]["year"]), int(records[0]["month"])) == (today.tm_year, today.tm_mon)


def log_folder(target):
    # Wine makes the folder "logs" in small letters; Windows names are compared without case.
    return target.drive_c / "windows" / "logs" / "BiosTasks"


def test_trace_log_in_the_administrators_folder(native, make_workdir):
    folder = log_folder(native)
    shutil.rmtree(folder, ignore_errors=True)
    base = make_workdir(native)
    run_dir, listed = build_package(native, base, "--trace-log-folder", r"%WINDIR%\Logs\BiosTasks")
    assert listed[-2] == r'Settings: trace-log-folder="%WINDIR%\Logs\BiosTasks"'
    assert native.run("task.exe --exit=2", run_dir).exit_code == 3
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe"]
    first = (folder / "task.trace.log").read_bytes()
    assert b"* exit code 3" in first
    assert native.run("task.exe", run_dir).exit_code == 0
    assert wait_for_batch(run_dir)
    assert (folder / "task.trace.lo_").read_bytes() == first
    assert b"* exit code 0" in (folder / "task.trace.log").read_bytes()
    shutil.rmtree(folder)


def record_times(records):
    return [(m["year"], m["month"], m["day"], m["time"]) for m in records]


@pytest.mark.parametrize("case", ["file in the way", "undefined variable", "relative variable",
                                  "full drive"])
def test_unusable_trace_log_folder_falls_back_to_the_working_directory(native, make_workdir,
                                                                         case):
    """The log goes to the working directory, with the reason after the records made before it
    (times never go backward); nothing is made inside the working directory for the folder."""
    base = make_workdir(native)
    (base / "file.txt").write_bytes(b"a file, not a folder")
    wanted, error, env = {
        "file in the way": (native.win_path(base) + r"\file.txt\logs", None, {}),
        "undefined variable": (r"%SETUP_TEST_NOSUCH%\Logs", 203, {}),
        "relative variable": (r"%SETUP_TEST_RELATIVE%\Logs", 161,
                              {"SETUP_TEST_RELATIVE": "Relative"}),
        "full drive": (r"Q:\logs", 112, {}),
    }[case]
    run_dir, _ = build_package(native, base, "--trace-log-folder", wanted)
    drive = small_drive(native, "64k") if case == "full drive" else contextlib.nullcontext()
    with drive as full:
        if full is not None:
            (full / "logs").mkdir()
            fill = full / "fill.bin"
            with open(fill, "wb", buffering=0) as f:
                try:
                    while True:
                        f.write(b"\0" * 512)
                except OSError:
                    pass
        run = native.run("task.exe", run_dir, env=env)
        if full is not None:
            assert names(full / "logs") == []
    assert run.exit_code == 0
    assert wait_for_batch(run_dir)
    assert names(run_dir) == ["task.exe", "task.trace.log"]
    records = read_records(run_dir / "task.trace.log")
    reasons = [m for m in records if m["text"].startswith("* trace log folder ")]
    assert len(reasons) == 1 and reasons[0]["type"] == "2"
    assert re.fullmatch(r"\* trace log folder .*ignored, error \d+: the trace log is in the "
                        r"working directory", reasons[0]["text"])
    assert reasons[0]["text"].startswith(f"* trace log folder {wanted} ignored")
    if error is not None:
        assert f"ignored, error {error}:" in reasons[0]["text"]
    assert records[0]["text"] == "fn_CheckOS: Operating System supported"
    times = record_times(records)
    assert times == sorted(times)

def query_record(target, key):
    """The record's values, in the 64-bit view where there is one; {} where it is missing."""
    return target.registry_values(f"{RESULT_RECORDS}\\{key}") or {}


def test_result_record_for_detection_rules(prefix, make_workdir):
    key = f"test {prefix.name}"
    view = ["/reg:64"] if prefix.windows64 else []
    prefix.wine("reg", "delete", rf"HKLM\SOFTWARE\Corvane\BIOS task package\{key}", "/f", *view)
    base = make_workdir(prefix)
    run_dir, listed = build_package(prefix, base, "--result-key", key, "--reboot-exit-code",
                                    "3010")
    assert listed[-2] == f'Settings: reboot-exit-code=3010, result-key="{key}"'
    assert prefix.run("task.exe -x", run_dir).exit_code == 0
    assert query_record(prefix, key) == {}

    assert prefix.run("task.exe", run_dir).exit_code == 0
    assert wait_for_batch(run_dir)
    record = query_record(prefix, key)
    assert record["ExitCode"] == "0x0" and record["RebootPending"] == "0x0"
    assert record["ProcessesLeft"] == "0x0" and record["Package"] == "task.exe"
    utc = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"
    assert re.fullmatch(utc, record["Started"]) and re.fullmatch(utc, record["Finished"])
    assert record["Started"] <= record["Finished"]

    assert prefix.run("task.exe --exit=2", run_dir).exit_code == 3
    assert wait_for_batch(run_dir)
    assert query_record(prefix, key)["ExitCode"] == "0x3"

    # A run that never starts its client module leaves no Started of an earlier run.
    (run_dir / "delzrph.bat").mkdir()
    assert prefix.run("task.exe", run_dir).exit_code == 3
    record = query_record(prefix, key)
    assert record["ExitCode"] == "0x3" and "Started" not in record and "Finished" in record
    (run_dir / "delzrph.bat").rmdir()

    assert prefix.run("task.exe --reboot", run_dir).exit_code == 3010
    record = query_record(prefix, key)
    assert (record["ExitCode"], record["RebootPending"]) == ("0xbc2", "0x1")


FIRMWARE_KEY = r"HKLM\HARDWARE\DESCRIPTION\System\BIOS"
FIRMWARE_NAMES = ("SystemProductName", "SystemSKU", "BaseBoardProduct", "BIOSVersion")


@contextlib.contextmanager
def firmware(target, **values):
    """The PC's firmware names for a while (None: the value is missing); then the prefix's own
    empty ones again."""
    def put(name, value):
        if value is None:
            target.wine("reg", "delete", FIRMWARE_KEY, "/v", name, "/f")
        else:
            assert target.wine("reg", "add", FIRMWARE_KEY, "/v", name, "/d", value,
                               "/f").returncode == 0
    try:
        for name, value in values.items():
            put(name, value)
        yield
    finally:
        for name in FIRMWARE_NAMES:
            put(name, "")


MODELS = ("--model", "X7 Carbon", "--model", "Y9")
VERSION = ("--bios-version", "N1ZET99W (1.62 )")
WRONG_MODEL = ("fn_CheckModel: PC model not supported: SystemProductName \"Other\", SystemSKU "
               "\"Y99\", BaseBoardProduct \"\"; package models: X7 Carbon;Y9")
NO_MODEL = ("fn_CheckModel: PC model not supported: SystemProductName missing, SystemSKU missing, "
            "BaseBoardProduct missing; package models: X7 Carbon;Y9")
CURRENT = 'fn_CheckBIOSVersion: BIOS version "n1zet99w (1.62 )" already installed, nothing to do.'
VERSION_UNKNOWN = ("fn_CheckBIOSVersion: BIOS version cannot be read, the task runs (its flash "
                   "tool decides).")


@pytest.mark.parametrize("case, options, pc, exit_code, text, record", [
    ("wrong model", MODELS, dict(SystemProductName="Other", SystemSKU="Y99"), 1,
     (3, WRONG_MODEL), {"ExitCode": "0x1", "Model": "Other"}),
    ("names missing", MODELS, dict(SystemProductName=None, SystemSKU=None, BaseBoardProduct=None),
     1, (3, NO_MODEL), {"ExitCode": "0x1", "Model": ""}),
    ("product name, blanks and case", MODELS, dict(SystemProductName=" x7 carbon "), 0,
     None, {"ExitCode": "0x0", "Model": " x7 carbon "}),
    ("SKU", MODELS, dict(SystemProductName="20KH", SystemSKU="Y9"), 0, None, {"Model": "20KH"}),
    ("board", MODELS, dict(BaseBoardProduct="y9"), 0, None, {"ExitCode": "0x0"}),
    ("version there", VERSION, dict(BIOSVersion="n1zet99w (1.62 )"), 0, (1, CURRENT),
     {"ExitCode": "0x0", "AlreadyCurrent": "0x1", "BIOSVersionBefore": "n1zet99w (1.62 )"}),
    ("version differs", MODELS + VERSION, dict(SystemSKU="Y9", BIOSVersion="N1ZET88W (1.55 )"), 0,
     None, {"AlreadyCurrent": "0x0", "BIOSVersionBefore": "N1ZET88W (1.55 )", "Model": ""}),
    ("version missing", VERSION, dict(BIOSVersion=None), 0, (2, VERSION_UNKNOWN),
     {"ExitCode": "0x0", "AlreadyCurrent": "0x0"}),
])
def test_package_knows_its_models_and_bios_version(prefix, make_workdir, case, options, pc,
                                                  exit_code, text, record):
    """A PC the package is not for, or one that has its BIOS already, gets nothing written and
    nothing started but its logs; any of its three names admits it."""
    key = f"models {prefix.name}"
    base = make_workdir(prefix)
    run_dir, listed = build_package(prefix, base, *options, "--trace-log", "--result-key", key)
    assert listed[-2].startswith("Settings: trace-log=yes, result-key=")
    with firmware(prefix, **pc):
        run = prefix.run("task.exe -l", run_dir)
    assert run.exit_code == exit_code, run.report()
    runs_task = "fn_CreateInstallationFiles: All files created successfully." in run.messages
    assert runs_task == (exit_code == 0 and not case.startswith("version there"))
    if text:
        trace = [(int(m["type"]), m["text"]) for m in read_records(run_dir / "task.trace.log")]
        assert text in trace
        assert text[1] in run.messages
    if not runs_task:
        assert names(run_dir) == ["task.exe", "task.log", "task.trace.log"]
        assert (run_dir / "task.log").read_bytes() == expected_log(exit_code)
    assert wait_for_batch(run_dir)
    found = query_record(prefix, key)
    assert {name: found.get(name) for name in record} == record
    # Every record of such a package holds the version the PC had, where it could be read.
    assert ("BIOSVersionBefore" in found) == (pc.get("BIOSVersion", "") is not None)


def sheet(target, folder, *options):
    """setup-pack sheet of task.exe: its JSON object and what it said on stderr, or its text."""
    log = folder.parent / (folder.name + ".sheet.stderr")
    proc = target.wine(str(target.pack_exe), "sheet", "task.exe", *options, cwd=folder, log=log)
    assert proc.returncode == 0, log.read_text(errors="replace")
    out = proc.stdout.decode().replace("\r\n", "\n")
    return (json.loads(out), log.read_text()) if options else out


def holds(target, rules):
    """Evaluates the sheet's rules against the prefix's registry, as a deployment system would:
    any group whose rules all hold; names compare trimmed and without case."""
    def holds_one(rule):
        assert rule["hive"] == "HKLM" and rule["view"] == 64
        found = target.registry_values("HKLM\\" + rule["key"])
        if rule["operator"] in ("keyExists", "keyNotExists"):
            return (found is not None) == (rule["operator"] == "keyExists")
        value = None if found is None else found.get(rule["value"])
        if rule["operator"] == "valueExists" or value is None:
            return value is not None
        wanted = rule["expected"] if rule["operator"] == "oneOf" else [rule["expected"]]
        if rule["type"] == "integer":
            return int(value, 16) in wanted
        return value.strip().lower() in [w.strip().lower() for w in wanted]
    return any(all(holds_one(rule) for rule in group["allOf"]) for group in rules["anyOf"])


def test_the_sheets_rules_follow_the_task_through_its_states(prefix, make_workdir):
    """The sheet's requirement and detection rules, evaluated against the PC's registry before the
    run, while it waits for its restart, and after the restart with the old and the new BIOS."""
    base = make_workdir(prefix)
    run_dir, _ = build_package(prefix, base, *MODELS, *VERSION, "--reboot-exit-code", "3010",
                               "--client-wait", "900")
    rules, said = sheet(prefix, base, "--json")
    assert said == ""
    assert rules["install"] == {"command": "task.exe -l", "runAs": "system", "maxRunMinutes": 23}
    assert rules["uninstall"] == {"command": "cmd.exe /c exit 0"}
    assert [(c["code"], c["meaning"]) for c in rules["returnCodes"]] == [
        (0, "success"), (3010, "softReboot"), (1618, "retry"), (1, "failed"), (2, "failed"),
        (3, "failed")]
    old, new = "N1ZET88W (1.55 )", "n1zet99w (1.62 )"
    try:
        with firmware(prefix, SystemSKU="y9", BIOSVersion=old):
            assert holds(prefix, rules["requirements"]) and not holds(prefix, rules["detection"])
            run = prefix.run("task.exe --reboot", run_dir, keep_restart_mark=True)
            assert run.exit_code == 3010, run.report()
            # Detected while it waits; no BIOS package is admitted until the restart.
            assert holds(prefix, rules["detection"])
            assert not holds(prefix, rules["requirements"])
        prefix.restart()
        # The restart left the old BIOS (the flash failed): offered again.
        with firmware(prefix, SystemProductName="X7 CARBON", BIOSVersion=old):
            assert holds(prefix, rules["requirements"]) and not holds(prefix, rules["detection"])
        with firmware(prefix, BaseBoardProduct="Y9", BIOSVersion=new):
            assert holds(prefix, rules["detection"])
        with firmware(prefix, SystemProductName="Other", BIOSVersion=old):
            assert not holds(prefix, rules["requirements"])
    finally:
        prefix.restart()


def test_sheets_of_packages_with_and_without_settings(native, make_workdir):
    base = make_workdir(native)
    key = "sheet test"
    run_dir, _ = build_package(native, base, "--result-key", key, "--reboot-exit-code", "1641")
    rules, said = sheet(native, base, "--json")
    assert said == ""
    assert rules["install"]["maxRunMinutes"] == 10  # 4 x 120 s and a minute for the layout
    assert (1641, "hardReboot") in [(c["code"], c["meaning"]) for c in rules["returnCodes"]]
    # Before any run nothing is detected; a run that ends with 0 is, by its record.
    native.wine("reg", "delete", rf"{RESULT_RECORDS}\{key}", "/f",
                *(["/reg:64"] if native.windows64 else []))
    assert not holds(native, rules["detection"])
    assert holds(native, rules["requirements"])
    assert native.run("task.exe", run_dir).exit_code == 0
    assert wait_for_batch(run_dir)
    assert holds(native, rules["detection"])
    assert native.run("task.exe --exit=2", run_dir).exit_code == 3
    assert wait_for_batch(run_dir)
    assert not holds(native, rules["detection"])
    text = sheet(native, base)
    assert "Install command            task.exe -l <the client module's arguments>" in text
    assert "  1641                     Hard reboot     Hard Reboot" in text
    assert f"record      HKLM\\{RESULT_RECORDS[5:]}\\{key} (64-bit view)" in text

    plain = make_workdir(native, suffix="_plain")
    build_package(native, plain)
    rules, said = sheet(native, plain, "--json")
    assert "no detection rule a deployment system can use" in said
    assert [[rule["key"] for rule in group["allOf"]] for group in rules["detection"]["anyOf"]] == \
        [[RESTART_MARK[5:]]]
    assert "This package has no detection rule a deployment system can use" in sheet(native, plain)


def test_result_key_at_the_registry_limit(prefix, make_workdir):
    """The builder takes the longest key the registry takes with its whole path (255 characters
    from HKEY_LOCAL_MACHINE), and the setup writes it; one character more is refused."""
    longest = f"{prefix.name} " + "k" * (201 - len(prefix.name) - 1)
    base = make_workdir(prefix)
    run_dir, listed = build_package(prefix, base, "--result-key", longest)
    assert prefix.run("task.exe", run_dir).exit_code == 0
    assert query_record(prefix, longest)["ExitCode"] == "0x0"

    log = base.parent / (base.name + ".pack.stderr")
    proc = prefix.wine(str(prefix.pack_exe), "build", "--template", "template.exe", "--profile",
                       "profile.xml", "--result-key", longest + "k", "--out", "long.exe",
                       cwd=base, log=log)
    assert proc.returncode == 1
    assert "at most 201 characters" in log.read_text()
    assert not (base / "long.exe").exists()


def test_record_types_come_from_where_records_are_made(native, make_workdir):
    """A successful run in a folder whose name says "failed" writes no record of type 3: types are
    never read from the words of a text."""
    native.remove_service()
    base = make_workdir(native, suffix="_retry-failed")
    run_dir, _ = build_package(native, base, "--trace-log")
    assert native.run("task.exe", run_dir).exit_code == 0
    assert wait_for_batch(run_dir)
    records = read_records(run_dir / "task.trace.log")
    assert any("retry-failed" in m["text"] for m in records)
    assert {m["type"] for m in records} == {"1"}


UNICODE_KEY = "Mise à jour Łódź ☃ 測試"
UNICODE_FOLDER = "Journaux Ü ☃ 測試"


def exported_keys(target, key):
    """The key names under `key` as the registry holds them (reg export writes UTF-16)."""
    export = target.drive_c / "export.reg"
    export.unlink(missing_ok=True)
    view = ["/reg:64"] if target.windows64 else []
    target.wine("reg", "export", key, "C:\\export.reg", "/y", *view)
    text = export.read_bytes().decode("utf-16") if export.exists() else ""
    export.unlink(missing_ok=True)
    return re.findall(r"^\[(.*)\]\r?$", text, re.M)


@pytest.mark.parametrize("given", ["options", "settings file"])
@pytest.mark.parametrize("locale", ["western", "japanese"])
def test_names_are_the_same_in_every_code_page(native, make_workdir, given, locale):
    """A result key and a trace log folder outside every code page, given as options (never
    through a best-fit conversion) or in a UTF-8 settings file, name the same key and folder on a
    Western and a Japanese PC, and list shows them as they are."""
    from test_hostile import WESTERN
    from test_stress import JAPANESE
    env = WESTERN if locale == "western" else JAPANESE
    key = f"{UNICODE_KEY} {given} {native.name}"
    folder = "C:\\" + UNICODE_FOLDER
    log_dir = native.drive_c / UNICODE_FOLDER
    shutil.rmtree(log_dir, ignore_errors=True)
    parent = r"HKLM\SOFTWARE\Corvane\BIOS task package"
    native.wine("reg", "delete", f"{parent}\\{key}", "/f",
                *(["/reg:64"] if native.windows64 else []))
    base = make_workdir(native)
    shutil.copy(native.setup_exe, base / "template.exe")
    (base / "profile.xml").write_bytes(DATA_PROFILE)
    if given == "options":
        settings = ["--result-key", key, "--trace-log-folder", folder]
    else:
        (base / "s.txt").write_bytes(
            f"\ufeffresult-key={key}\r\ntrace-log-folder={folder}\r\n".encode())
        settings = ["--settings", "s.txt"]
    utf8 = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
    built = native.wine(str(native.pack_exe), "build", "--template", "template.exe",
                        "--profile", "profile.xml", *settings, "--out", "task.exe", cwd=base,
                        env=utf8)
    assert built.returncode == 0
    listed = native.wine(str(native.pack_exe), "list", "task.exe", cwd=base,
                         env=utf8).stdout.decode("utf-8")
    assert f'Settings: trace-log-folder="{folder}", result-key="{key}"' in listed.splitlines()
    run_dir = base / "pkgdir"
    run_dir.mkdir()
    shutil.copy(base / "task.exe", run_dir / "task.exe")
    native.use_locale(env)
    run = native.run("task.exe --exit=0", run_dir, env=env)
    assert run.exit_code == 0
    assert f"{parent.replace('HKLM', 'HKEY_LOCAL_MACHINE')}\\{key}" in exported_keys(
        native, f"{parent}\\{key}")
    assert (log_dir / "task.trace.log").exists()
    shutil.rmtree(log_dir)


def test_settings_file_that_is_not_utf8_is_refused(native, make_workdir):
    base = make_workdir(native)
    shutil.copy(native.setup_exe, base / "template.exe")
    (base / "profile.xml").write_bytes(DATA_PROFILE)
    (base / "s.txt").write_bytes("result-key=Mise à jour\r\n".encode("cp1252"))
    log = base.parent / (base.name + ".pack.stderr")
    proc = native.wine(str(native.pack_exe), "build", "--template", "template.exe", "--profile",
                       "profile.xml", "--settings", "s.txt", "--out", "task.exe", cwd=base,
                       log=log)
    assert proc.returncode == 1
    assert log.read_text(errors="replace").splitlines() == [
        "setup-pack: error: s.txt is not UTF-8 text: save it as UTF-8"]
    assert not (base / "task.exe").exists()

"""Laying the payload out with -x: resources, cabinets, the profile reader and the manifest."""

import shutil
import time

import pytest

from cabinet import Entry, dos_to_local_struct, read_entries, write_cabinet
from conftest import ROOT, patch_entry

DATA = ROOT / "kit" / "data"
TEMPLATE = ROOT / "kit" / "template"
FAILED = "fn_CreateInstallationFiles: Could not create all files."
TICKS_PER_SECOND = 10_000_000
EPOCH_AS_FILETIME = 11644473600


def layer_cabinet(target):
    return "QMB64.cab" if target.windows64 else "QMB.cab"


def layer_entry(target):
    return 104 if target.windows64 else 105


def client_module(target):
    return target.client_module + ".exe"


def names(folder):
    return sorted(p.name for p in folder.iterdir())


def test_extract_only_lays_out_exactly_the_payload(prefix, workdir):
    run = prefix.run("setup.exe -x", workdir)
    assert run.exit_code == 0
    module = client_module(prefix)
    assert names(workdir) == sorted([
        "!Readme.txt", "Flash.hdr", "QTMStandaloneSvc.exe", "StopHWIX.exe", module,
        "bootdevices.xml", "hwixqmb", "ksmbios_data.htm", "profile.xml", "schema.xml",
        "setup.exe", "uninst.exe"])
    for name in ("profile.xml", "schema.xml", "bootdevices.xml", "ksmbios_data.htm",
                 "!Readme.txt"):
        assert (workdir / name).read_bytes() == (DATA / name).read_bytes(), name
    assert (workdir / "Flash.hdr").read_bytes() == b"Temporary."
    for name in (module, "QTMStandaloneSvc.exe", "StopHWIX.exe", "uninst.exe"):
        assert (workdir / name).read_bytes() == (prefix.kit / name).read_bytes(), name
    layer = workdir / "hwixqmb"
    assert names(layer) == ["hwix.inf", "hwixsvc.exe", "setup.exe"]
    arch = "NTamd64" if prefix.windows64 else "NTx86"
    assert arch in (layer / "hwix.inf").read_text()


def test_debug_output_of_a_good_run(prefix, workdir):
    run = prefix.run("setup.exe -x", workdir)
    cabinets = [f".\\{layer_cabinet(prefix)}",
                ".\\runvex64.cab" if prefix.windows64 else ".\\Runvex.cab",
                ".\\QTMStandaloneSvc.cab"]
    expected = ["fn_CheckOS: Operating System supported"]
    for cab in cabinets:
        data = (prefix.kit / cab[2:]).read_bytes()
        info = (f"Information on cabinet file '{cab}'\n"
                f"   Total length of cabinet file : {len(data)}\n"
                f"   Number of folders in cabinet : 1\n"
                f"   Number of files in cabinet   : {len(read_entries(data))}\n"
                f"   Cabinet set ID               : 0\n"
                f"   Cabinet number in set        : 0\n"
                f"   RESERVE area in cabinet?     : no\n"
                f"   Chained to prev cabinet?     : no\n"
                f"   Chained to next cabinet?     : no\n\n")
        expected += ["", info, info]
    expected += ["BIOS image name is: Flash.hdr",
                 "fn_CreateInstallationFiles: All files created successfully."]
    got = run.messages
    assert len(got) == len(expected)
    for text, want in zip(got, expected):
        # Wine shows about 300 characters of a long text.
        assert want.startswith(text) and len(text) >= min(len(want), 250), (text, want)


def test_stale_layer_folder_is_replaced(prefix, workdir):
    stale = workdir / "hwixqmb" / "old" / "deep"
    stale.mkdir(parents=True)
    (stale / "stale.txt").write_text("stale")
    (workdir / "hwixqmb" / "setup.exe").write_bytes(b"x" * 500000)
    assert prefix.run("setup.exe -x", workdir).exit_code == 0
    assert names(workdir / "hwixqmb") == ["hwix.inf", "hwixsvc.exe", "setup.exe"]


def filetime(date, time_):
    seconds = time.mktime(dos_to_local_struct(date, time_))
    return (int(seconds) + EPOCH_AS_FILETIME) * TICKS_PER_SECOND


def probe_times(target, folder, name):
    proc = target.wine(str(target.tools / "probe.exe"), "times", name, cwd=folder)
    out = proc.stdout.decode()
    assert proc.returncode == 0 and out, f"probe.exe times {name}: exit code {proc.returncode}"
    return dict(item.split("=") for item in out.split())


def test_extracted_files_keep_stored_time_and_only_four_attribute_bits(native, make_workdir):
    folder = make_workdir(native)
    service = (native.kit / "QTMStandaloneSvc.exe").read_bytes()
    entries = [
        Entry(b"QTMStandaloneSvc.exe ", service, date=(41 << 9) | (7 << 5) | 14,
              time=(13 << 11) | (45 << 5) | 29),
        Entry(b"sub\\flags_e7.txt", b"all bits", attribs=0xE7),
        Entry(b"flags_41.txt", b"read-only and exec", attribs=0x41),
        Entry(b"flags_00.txt", b"none", attribs=0),
    ]
    patch_entry(native, folder / "setup.exe", 117, write_cabinet(entries), folder.parent)
    assert native.run("setup.exe -x", folder).exit_code == 0
    # The trailing blank of the stored name is dropped, as Windows does.
    assert "QTMStandaloneSvc.exe " not in names(folder)
    assert (folder / "QTMStandaloneSvc.exe").read_bytes() == service
    times = probe_times(native, folder, "QTMStandaloneSvc.exe")
    assert int(times["creation"]) == int(times["write"]) == filetime(entries[0].date, entries[0].time)
    assert probe_times(native, folder, "sub\\flags_e7.txt")["attributes"] == "0x27"
    # Wine reports the archive bit on every file, so only the three low bits tell here.
    for name, low_bits in (("flags_41.txt", 0x1), ("flags_00.txt", 0x0)):
        attributes = int(probe_times(native, folder, name)["attributes"], 16)
        assert attributes & 0x7 == low_bits and attributes & 0x40 == 0, name


def test_shipped_cabinet_times_are_applied(prefix, workdir):
    assert prefix.run("setup.exe -x", workdir).exit_code == 0
    module = client_module(prefix)
    cab = "runvex64.cab" if prefix.windows64 else "Runvex.cab"
    (_, _, date, time_, _), = read_entries((prefix.kit / cab).read_bytes())
    times = probe_times(prefix, workdir, module)
    assert int(times["creation"]) == int(times["write"]) == filetime(date, time_)


@pytest.mark.parametrize("damage", ["garbage", "truncated", "header only"])
def test_damaged_layer_cabinet_fails_and_leaves_no_archive(prefix, workdir, damage):
    real = (prefix.kit / layer_cabinet(prefix)).read_bytes()
    data = {"garbage": b"MZ not a cabinet" * 100, "truncated": real[: len(real) // 2],
            "header only": real[:36]}[damage]
    patch_entry(prefix, workdir / "setup.exe", layer_entry(prefix), data, workdir.parent)
    run = prefix.run("setup.exe -x -l", workdir)
    assert run.exit_code == 2
    assert run.messages[-1] == FAILED
    assert "nResult = 2" in (workdir / "setup.log").read_text()
    left = names(workdir)
    assert not [n for n in left if n.lower().endswith(".cab")]
    # The later cabinet steps and the plain files were skipped.
    for skipped in (client_module(prefix), "QTMStandaloneSvc.exe", "profile.xml"):
        assert skipped not in left


@pytest.mark.parametrize("name", [b"..\\evil.txt", b"sub\\..\\..\\evil.txt", b"sub/../../evil.txt",
                                  b"C:\\t\\evil.txt", b"\\t\\evil.txt"])
def test_entry_leaving_the_destination_is_refused(native, make_workdir, name):
    folder = make_workdir(native)
    outside = [folder.parent / "evil.txt", native.drive_c / "t" / "evil.txt"]
    for path in outside:
        path.unlink(missing_ok=True)
    cab = write_cabinet([Entry(b"ok.txt", b"fine"), Entry(name, b"evil")])
    patch_entry(native, folder / "setup.exe", 117, cab, folder.parent)
    run = native.run("setup.exe -x", folder)
    assert run.exit_code == 2
    refusal = f"FdiNotify: entry '{name.decode()}' leaves the destination, refused\n"
    assert refusal in run.messages
    assert "FDICopy() failed: code 11 [User aborted]\n" in run.messages
    assert not any(path.exists() for path in outside)


def test_existing_longer_file_is_truncated(native, make_workdir):
    folder = make_workdir(native)
    module = native.client_module + ".exe"
    (folder / module).write_bytes(b"\xff" * 300000)
    (folder / "sub").mkdir()
    (folder / "sub" / "a.txt").write_bytes(b"old content that is longer")
    cab = write_cabinet([Entry(b"QTMStandaloneSvc.exe", b"svc"), Entry(b"sub\\a.txt", b"new")])
    patch_entry(native, folder / "setup.exe", 117, cab, folder.parent)
    assert native.run("setup.exe -x", folder).exit_code == 0
    assert (folder / "sub" / "a.txt").read_bytes() == b"new"
    assert (folder / module).read_bytes() == (native.kit / module).read_bytes()


PROFILE_CASES = [
    ("template placeholder", b"<root>\r\n</root>", "true", "Flash.hdr"),
    ("package profile", (DATA / "profile.xml").read_bytes(), "true", "Flash.hdr"),
    ("capitals", b'<root><command type="FLASH" image="A01.hdr"/></root>', "true", "A01.hdr"),
    ("capital first", b'<root><command type="Flash" image="B.bin"/></root>', "true", "B.bin"),
    ("first of two", b'<root><command type="set"/><command type="flash" image="1.hdr"/>'
                     b'<command type="flash" image="2.hdr"/></root>', "true", "1.hdr"),
    ("first has no image", b'<root><command type="flash"/><command type="flash" image="2.hdr"/>'
                           b'</root>', "true", ""),
    ("empty image", b'<root><command type="flash" image=""/></root>', "true", ""),
    ("attribute Image", b'<root><command type="flash" Image="x.hdr"/></root>', "true", ""),
    ("no or empty type", b'<root><command image="x"/><command type="" image="y"/>'
                         b'<command type="flash" image="z.hdr"/></root>', "true", "z.hdr"),
    ("blank around type", b'<root><command type=" flash" image="x"/></root>', "true", "Flash.hdr"),
    ("nested", b'<root><group><command type="flash" image="x"/></group></root>', "true",
     "Flash.hdr"),
    ("element Command", b'<root><Command type="flash" image="x"/></root>', "true", "Flash.hdr"),
    ("other root", b'<task><command type="flash" image="x"/></task>', "true", "Flash.hdr"),
    ("not well-formed", b'<root><command type="flash" image="x"></root>', "false", "Flash.hdr"),
    ("not xml", b"\x00\x01binary", "false", "Flash.hdr"),
]


def test_profile_reader_cases(native, make_workdir):
    folder = make_workdir(native)
    shutil.copy(native.tools / "probe.exe", folder)
    log = folder.parent / (folder.name + ".probe.stderr")

    def read_profile(name):
        """The probe's answer. A probe that printed nothing never got to run its case (seen once
        under heavy load): it is started once more, and its exit code and Wine's words kept."""
        for _ in range(2):
            out = native.wine(str(folder / "probe.exe"), "profile", name, cwd=folder, log=log)
            if out.stdout.strip():
                return out.stdout.decode().strip()
        return f"nothing, exit code {out.returncode}: {log.read_text(errors='replace')[-300:]}"

    failures = []
    for label, xml, result, name in PROFILE_CASES + [("missing", None, "false", "Flash.hdr")]:
        if xml is not None:
            (folder / "case.xml").write_bytes(xml)
        answer = read_profile("case.xml" if xml is not None else "missing.xml")
        if answer != f"result={result} name=[{name}]":
            failures.append((label, answer))
    assert failures == []


def test_profile_naming_an_image_writes_it_under_that_name(prefix, workdir):
    profile = b'<root><command type="Flash" image="BIOS_A01.hdr"/></root>'
    patch_entry(prefix, workdir / "setup.exe", 107, profile, workdir.parent)
    patch_entry(prefix, workdir / "setup.exe", 110, b"\x5a" * 70000, workdir.parent)
    run = prefix.run("setup.exe -x", workdir)
    assert run.exit_code == 0
    assert "BIOS image name is: BIOS_A01.hdr" in run.messages
    assert (workdir / "BIOS_A01.hdr").read_bytes() == b"\x5a" * 70000
    assert not (workdir / "Flash.hdr").exists()
    assert (workdir / "profile.xml").read_bytes() == profile


@pytest.mark.parametrize("profile,shown", [
    (b'<root><command type="flash"/></root>', ""),
    (b'<root><command type="flash" image="..\\up.hdr"/></root>', "..\\up.hdr"),
    (b'<root><command type="flash" image="C:\\t\\abs.hdr"/></root>', "C:\\t\\abs.hdr"),
    (b'<root><command type="flash" image=".."/></root>', ".."),
])
def test_image_name_that_is_not_a_plain_file_name_fails(native, make_workdir, profile, shown):
    folder = make_workdir(native)
    for stray in (folder.parent / "up.hdr", native.drive_c / "t" / "abs.hdr"):
        stray.unlink(missing_ok=True)
    patch_entry(native, folder / "setup.exe", 107, profile, folder.parent)
    run = native.run("setup.exe -x", folder)
    assert run.exit_code == 2
    assert run.messages[-3:] == [
        f"BIOS image name is: {shown}",
        "fn_CreateInstallationFiles: BIOS image name is not a plain file name.", FAILED]
    assert not (folder.parent / "up.hdr").exists()
    assert not (native.drive_c / "t" / "abs.hdr").exists()
    assert "ksmbios_data.htm" not in names(folder)


def test_profile_that_is_not_well_formed_fails(prefix, workdir):
    patch_entry(prefix, workdir / "setup.exe", 107, b"<root><command>", workdir.parent)
    run = prefix.run("setup.exe -x", workdir)
    assert run.exit_code == 2
    assert run.messages[-2:] == ["Could not get BIOS image name", FAILED]


def test_planted_cabinet_library_is_not_loaded(native, make_workdir):
    folder = make_workdir(native)
    shutil.copy(native.tools / "planted_cabinet.dll", folder / "cabinet.dll")
    shutil.copy(native.tools / "probe.exe", folder)
    override = {"WINEDLLOVERRIDES": "mscoree,mshtml=;cabinet=n,b"}
    # Control: a load by the bare name does pick the planted file here.
    control = native.run(f'"{native.win_path(folder)}\\probe.exe" load CABINET', folder,
                           env=override)
    assert "planted cabinet.dll loaded" in control.all_messages
    run = native.run("setup.exe -x", folder, env=override)
    assert run.exit_code == 0
    assert "planted cabinet.dll loaded" not in run.all_messages


def test_resource_writer(native, make_workdir):
    folder = make_workdir(native)
    shutil.copy(native.tools / "probe.exe", folder)
    (folder / "old.bin").write_bytes(b"x" * 1000)
    probe = f'"{native.win_path(folder)}\\probe.exe" write'
    cases = [("200", "old.bin", None, b"neutral"),  # neutral preferred, older file replaced
             ("201", "empty.bin", None, b""),
             ("108", "missing.bin", "fn_CreateFileFromResource: hResource == 0", None),
             ("200", "no\\dir.bin", "fn_CreateFileFromResource: hFile == 0", None)]
    for entry, name, failure, content in cases:
        run = native.run(f"{probe} {entry} {name}", folder)
        if failure:
            assert run.all_messages == [failure]
            assert not (folder / name.replace("\\", "/")).exists()
        else:
            assert run.all_messages == []
            assert (folder / name).read_bytes() == content

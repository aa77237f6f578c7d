"""The README is what administrators deploy from: its exit-code table covers every code the
setup returns, and its example builds run with the current builder."""

import re
import shlex
import shutil
from pathlib import Path

import pytest

from conftest import folder_name
from test_pack import kit_folder

ROOT = Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text(encoding="utf-8")


def exit_code_table():
    """The first column of the one exit-code table."""
    start = README.index("| Exit code | Meaning |")
    rows = README[start:].split("\n\n", 1)[0].splitlines()[2:]
    return [row.split("|")[1].strip() for row in rows]


def setup_exit_codes():
    """The setup's exit codes as its source names them; the one the result log's legend alone
    names is never returned."""
    source = (ROOT / "shared" / "run_state.h").read_text()
    enum = source[source.index("enum ExitCode"):source.index("};", source.index("enum ExitCode"))]
    return {int(code) for name, code in re.findall(r"(kExit\w+) = (\d+),", enum)
            if name != "kExitUninstallFailed"}


def test_every_exit_code_is_in_the_table():
    first_column = exit_code_table()
    listed = {int(cell) for cell in first_column if cell.isdigit()}
    assert listed == setup_exit_codes()
    # The package's own reboot code has a row too.
    assert [cell for cell in first_column if "reboot-exit-code" in cell]


def example_builds():
    """Every complete `setup-pack build` command of the README (continued lines joined), its
    usage synopsis left out."""
    text = re.sub(r" \^\n\s+", " ", README)
    commands = re.findall(r"^\s+(setup-pack build .*)$", text, re.M)
    return [c for c in commands if "[" not in c]


def split_command(command):
    lexer = shlex.shlex(command, posix=True, punctuation_chars=False)
    lexer.whitespace_split = True
    lexer.escape = ""  # backslashes are Windows path separators
    return list(lexer)


EXAMPLES = example_builds()


def test_readme_has_example_builds():
    assert len(EXAMPLES) >= 6


@pytest.mark.parametrize("command", EXAMPLES, ids=[f"example{i}" for i in range(len(EXAMPLES))])
def test_example_build_runs_as_written(native, command):
    folder = native.drive_c / "readme" / folder_name(command)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    args = split_command(command)[1:]
    options = {}
    for i, arg in enumerate(args):
        if arg.startswith("--"):
            value = args[i + 1] if i + 1 < len(args) else ""
            options[arg] = "" if value.startswith("--") else value
    image = options.get("--bios", "Flash.hdr")
    shutil.copy(native.setup_exe, folder / options["--template"])
    (folder / options["--profile"]).write_text(
        f'<root><command type="flash" image="{image}"/></root>')
    if "--bios" in options:
        (folder / image).write_bytes(b"\xA0" * 4096)
    if "--kit" in options:
        kit_folder(native, folder).rename(folder / options["--kit"])
    log = folder.parent / (folder.name + ".stderr")
    built = native.wine(str(native.pack_exe), *args, cwd=folder, log=log)
    assert built.returncode == 0, log.read_text(errors="replace")
    listed = native.wine(str(native.pack_exe), "list", options["--out"], cwd=folder)
    settings = [line for line in listed.stdout.decode().splitlines()
                if line.startswith("Settings: ")]
    for option, value in options.items():
        if option in ("--reboot-exit-code", "--stage-folder", "--trace-log-folder",
                      "--client-wait", "--result-key", "--suspend-bitlocker"):
            assert f"{option[2:]}=" in settings[0] and value in settings[0], (option, settings)

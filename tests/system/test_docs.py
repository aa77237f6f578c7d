"""The docs are what administrators deploy from: each exit-code table lists exactly the setup's
codes, every example build runs with the current builder, the builder's options and its guide
page name the same options, and every relative link leads somewhere."""

import re
import shlex
import shutil
from pathlib import Path

import pytest

from conftest import folder_name
from test_pack import kit_folder

ROOT = Path(__file__).resolve().parents[2]
DOCS = [ROOT / "README.md"] + sorted((ROOT / "docs").rglob("*.md"))
BUILD_PAGE = ROOT / "docs" / "admin" / "build.md"


def text_of(page):
    return page.read_text(encoding="utf-8")


def exit_code_tables():
    """The first column of every exit-code table in the docs, by page."""
    for page in DOCS:
        text = text_of(page)
        for start in [m.start() for m in re.finditer(r"^\| Exit code \|", text, re.M)]:
            rows = text[start:].split("\n\n", 1)[0].splitlines()[2:]
            yield page, [row.split("|")[1].strip() for row in rows]


def setup_exit_codes():
    """The setup's exit codes as its source names them; the one the result log's legend alone
    names is never returned."""
    source = (ROOT / "shared" / "run_state.h").read_text()
    enum = source[source.index("enum ExitCode"):source.index("};", source.index("enum ExitCode"))]
    return {int(code) for name, code in re.findall(r"(kExit\w+) = (\d+),", enum)
            if name != "kExitUninstallFailed"}


def test_every_exit_code_table_lists_exactly_the_setups_codes():
    tables = list(exit_code_tables())
    assert tables
    for page, first_column in tables:
        listed = {int(cell) for cell in first_column if cell.isdigit()}
        assert listed == setup_exit_codes(), page
        # The package's own reboot code has a row too.
        assert [cell for cell in first_column if "reboot-exit-code" in cell], page


def example_builds():
    """Every complete `setup-pack build` command of the docs (continued lines joined), the usage
    synopsis left out."""
    commands = []
    for page in DOCS:
        text = re.sub(r" \^\n\s+", " ", text_of(page))
        commands += re.findall(r"^\s+(setup-pack build .*)$", text, re.M)
    return [c for c in commands if "[" not in c]


def split_command(command):
    lexer = shlex.shlex(command, posix=True, punctuation_chars=False)
    lexer.whitespace_split = True
    lexer.escape = ""  # backslashes are Windows path separators
    return list(lexer)


EXAMPLES = example_builds()
# What a command's input files must hold for the builder to take them.
INPUT_FILES = {
    "--schema": '<root schemaVersion="1.0"/>',
    "--bootdevices": "<bootDevices/>",
    "--settings": "trace-log=yes\r\nclient-wait=600\r\n",
}


def test_docs_have_example_builds():
    assert len(EXAMPLES) >= 6


def options_of(args):
    options = {}
    for i, arg in enumerate(args):
        if arg.startswith("--"):
            value = args[i + 1] if i + 1 < len(args) else ""
            options[arg] = "" if value.startswith("--") else value
    return options


@pytest.mark.parametrize("command", EXAMPLES, ids=[f"example{i}" for i in range(len(EXAMPLES))])
def test_example_build_runs_as_written(native, command):
    folder = native.drive_c / "docs" / folder_name(command)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    args = split_command(command)[1:]
    options = options_of(args)
    image = options.get("--bios", "Flash.hdr")
    shutil.copy(native.setup_exe, folder / options["--template"])
    (folder / options["--profile"]).write_text(
        f'<root><command type="flash" image="{image}"/></root>')
    if "--bios" in options:
        (folder / image).write_bytes(b"\xA0" * 4096)
    if "--kit" in options:
        kit_folder(native, folder).rename(folder / options["--kit"])
    for option, content in INPUT_FILES.items():
        if option in options:
            (folder / options[option]).write_text(content)
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
    sheet = native.wine(str(native.pack_exe), "sheet", options["--out"], cwd=folder)
    assert sheet.returncode == 0 and b"Return codes" in sheet.stdout


def test_the_build_page_names_every_option_of_the_builder_and_no_other(native):
    helped = native.wine(str(native.pack_exe), "--help")
    assert helped.returncode == 0
    options = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", helped.stdout.decode()))
    table = text_of(BUILD_PAGE).split("## Every option", 1)[1].split("\n## ", 1)[0]
    documented = set(re.findall(r"^\| `(--[a-z0-9-]+)` \|", table, re.M))
    assert documented == options
    # Every option the guide writes anywhere is one the builder has.
    assert set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", text_of(BUILD_PAGE))) <= options


def relative_links():
    for page in DOCS:
        for target in re.findall(r"\]\(([^)\s]+)\)", text_of(page)):
            if not re.match(r"[a-z]+:", target):
                yield page, target


def anchors_of(page):
    """The anchors a renderer gives the page's headings."""
    headings = re.findall(r"^#+ (.+)$", text_of(page), re.M)
    return {re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-") for heading in headings}


def test_every_relative_link_resolves():
    links = list(relative_links())
    assert len(links) > 20
    for page, target in links:
        path, _, anchor = target.partition("#")
        destination = (page.parent / path).resolve() if path else page
        assert destination.exists(), (page, target)
        if anchor:
            assert anchor in anchors_of(destination), (page, target)

"""The documents: every example in README.md and docs/*.md runs, and every link leads somewhere.

The `>>>` sessions of the fenced blocks run through doctest (one session per
file); each `$ brenvalis ...` line of a fenced block runs the installed
command, which must print the lines below it and exit with status 0, or with
the status shown after `; echo "exit status $?"`. A figure that varies by
machine is written `...` (doctest's ELLIPSIS, in a transcript too) or its
example carries `# doctest: +SKIP`.
"""

import doctest
import re
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

PROJECT = Path(__file__).resolve().parents[2]
DOCUMENTS = [PROJECT / "README.md", *sorted(PROJECT.glob("docs/*.md"))]
# The README links to the other documents by their address on GitHub, so that
# the links also work where it is the package's description; such links are
# checked against the files here.
REPOSITORY = "https://github.com/brenvalis/brenvalis/blob/main/"
FENCE = re.compile(r"^```[\w-]*\n(.*?)^```$", re.M | re.S)
COMMAND = re.compile(r'\$ (brenvalis(?: .+?)?)(; echo "exit status \$\?")?')
# Exact, but for `...`: no True-for-1, no <BLANKLINE>, no whitespace forgiven.
EXACT = doctest.ELLIPSIS | doctest.DONT_ACCEPT_TRUE_FOR_1 | doctest.DONT_ACCEPT_BLANKLINE

# The cibuildwheel test and an unpacked sdist have the tests without the documents.
HAVE_DOCUMENTS = (PROJECT / "docs").is_dir()
pytestmark = pytest.mark.skipif(not HAVE_DOCUMENTS, reason="no docs/ beside the tests")


def fenced_blocks(path: Path):
    """(line number of its first line, counted from 0; text) of each fenced block."""
    text = path.read_text(encoding="utf-8")
    for match in FENCE.finditer(text):
        yield text.count("\n", 0, match.start(1)), match[1]


def transcripts():
    for path in DOCUMENTS if HAVE_DOCUMENTS else []:
        for first, block in fenced_blocks(path):
            lines = block.splitlines()
            starts = [i for i, line in enumerate(lines) if line.startswith("$ ")]
            for start, end in zip(starts, starts[1:] + [len(lines)]):
                yield pytest.param(lines[start], lines[start + 1:end], id=f"{path.name}:{first + start + 1}")


def test_python_sessions():
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    for path in DOCUMENTS:
        session = {"__name__": path.stem}
        for first, block in fenced_blocks(path):
            test = doctest.DocTestParser().get_doctest(block, session, path.name, str(path), first)
            runner.run(test, out=report.append, clear_globs=False)
    assert runner.tries > 0, "no >>> example found: the fenced blocks were not read"
    assert runner.failures == 0, "".join(report)


@pytest.mark.parametrize("command, output", list(transcripts()))
def test_command_line_transcripts(command, output):
    match = COMMAND.fullmatch(command)
    assert match, f"not a brenvalis command line that this test can run: {command}"
    status = 0
    if match[2]:
        *output, last = output
        status = int(last.removeprefix("exit status "))
    result = subprocess.run(
        [Path(sys.executable).with_name("brenvalis"), *shlex.split(match[1])[1:]],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120, cwd=Path(__file__).parent,
    )
    expected = "".join(f"{line}\n" for line in output)
    assert result.returncode == status, result.stdout
    assert doctest.OutputChecker().check_output(expected, result.stdout, EXACT), (
        f"shown:\n{expected}printed:\n{result.stdout}")


def anchors(path: Path) -> set[str]:
    """The anchors GitHub gives the headings of a Markdown file."""
    found, seen = set(), {}
    for heading in re.findall(r"^#{1,6} +(.+?) *$", FENCE.sub("", path.read_text(encoding="utf-8")), re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        found.add(f"{slug}-{seen[slug]}" if slug in seen else slug)
        seen[slug] = seen.get(slug, 0) + 1
    return found


@pytest.mark.parametrize("path", [*DOCUMENTS, PROJECT / "CHANGELOG.md"], ids=lambda path: path.name)
def test_links_lead_to_existing_files_and_headings(path):
    # Links are read outside fenced blocks and code spans, where Markdown makes them.
    prose = re.sub(r"(`+).+?\1", "", FENCE.sub("", path.read_text(encoding="utf-8")), flags=re.S)
    # Inline links, [text](target), and reference definitions, [label]: target.
    targets = dict(re.findall(r"^\[([^\]]+)\]: *(\S+)", prose, re.M))
    broken = [f"[{label}] undefined" for label in re.findall(r"\]\[([^\]]+)\]", prose) if label not in targets]
    for target in [*re.findall(r"\]\(([^)\s]+)\)", prose), *targets.values()]:
        if target.startswith(REPOSITORY):
            where, _, anchor = target.removeprefix(REPOSITORY).partition("#")
            file = PROJECT / where
        elif "://" in target or target.startswith("mailto:"):
            continue
        else:
            where, _, anchor = target.partition("#")
            file = (path.parent / where).resolve() if where else path
        if not file.is_file() or (anchor and anchor not in anchors(file)):
            broken.append(target)
    assert broken == []

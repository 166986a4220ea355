"""What dist/ must hold, file by file: run by scripts/check-dist.sh.

usage: check_dist_files.py DIST MAPS WHEEL... (MAPS: the folder of the link
maps that build-dist.sh keeps, VERSION-MACHINE.map; the wheels there must be,
each a CPython version such as 3.12, for this machine's architecture, or a
version and an architecture such as 3.14:aarch64)

The sdist must hold exactly the tracked files that build and test the package,
and each wheel exactly the tracked package files, its interpreter's extension
module (full C API, never abi3) and the metadata. Each wheel is tagged
manylinux2014 (glibc 2.17) and stays small, and its extension is
self-contained and quiet: it exports its init function and nothing else, is
stripped, has the C++ runtime linked in, needs no library beyond those every
glibc system has, and no glibc symbol newer than 2.17. Its SBOM is valid
CycloneDX 1.6 with SPDX licences and package URLs, holds no time or serial
number, and lists exactly the runtime archives that the link's map shows.
dist/SHA256SUMS lists every file with its digest. Prints one line per wheel
(tag, size, newest glibc symbol), then every difference, and exits with
status 1 if there is any.
"""

import email.parser
import hashlib
import io
import json
import platform
import re
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SDIST_TOP_LEVEL = {"CMakeLists.txt", "pyproject.toml", "README.md", "LICENSE", "CHANGELOG.md"}
SDIST_FOLDERS = ["cmake", "core", "pyfacade", "python", "tests"]
PACKAGE = "python/brenvalis"
URL_BASE = "https://github.com/brenvalis/brenvalis"
GLIBC_FLOOR = (2, 17)
MAX_WHEEL_BYTES = 460 * 1024
# Each machine's multiarch name (in the extension's file name) and, where it
# differs from the release's, its glibc floor: riscv64 has glibc from 2.27
# and a manylinux policy from 2.31 only.
TRIPLETS = {"x86_64": "x86_64-linux-gnu", "aarch64": "aarch64-linux-gnu", "i686": "i386-linux-gnu",
            "armv7l": "arm-linux-gnueabihf", "ppc64le": "powerpc64le-linux-gnu", "s390x": "s390x-linux-gnu",
            "riscv64": "riscv64-linux-gnu"}
GLIBC_FLOORS = {"riscv64": (2, 27)}
TAGS = {"riscv64": ["manylinux_2_31"]}


def platform_tags(machine: str) -> list[str]:
    """The wheel's platform tags, in the order of its file name."""
    return TAGS.get(machine, ["manylinux2014", "manylinux_{}_{}".format(*GLIBC_FLOOR)])


# What the extension may need: glibc's own libraries (libpthread, libdl and
# librt are separate before glibc 2.34), the loader, and the system's unwinder.
# (The loader is ld64.so.1 on s390x, ld64.so.2 on ppc64le.)
SYSTEM_LIBRARIES = re.compile(r"(libc|libm|libpthread|libdl|librt)\.so\.\d+|libgcc_s\.so\.1|ld(-linux[-\w.]*|64)\.so\.\d+")
EXPORTS = {"PyInit__tolvane_core"}
# The only symbols the extension may need without a version: the
# interpreter's, which it finds in the process that loads it. Any other
# unversioned need is a function that none of its libraries had when it was
# linked (the toolchain's glibc of the floor), and it would fail to load, or
# to call it, on the systems the wheel is tagged for.
INTERPRETER_SYMBOL = re.compile(r"_?Py[A-Z_]\w*")
SBOM = "sboms/brenvalis.cdx.json"
ZIG_VERSION = re.search(r"^zig_version=(\S+)$", (ROOT / "scripts/common.sh").read_text(), re.M)[1]
# A member of an archive in a link map: "/cache/o/1f.../libc++.a(string.o):(.text)".
MAP_ARCHIVE = re.compile(r"([^\s()]+\.a)\([^()\s]+\):\(")
OWN_ARCHIVE = re.compile(r"libbrenvalis_\w+\.a")

problems: list[str] = []


def tracked(*paths: str) -> set[str]:
    out = subprocess.run(["git", "-C", str(ROOT), "ls-files", "--", *paths],
                         capture_output=True, text=True, check=True).stdout
    return set(out.splitlines())


def compare(what: str, found: set[str], expected: set[str]) -> None:
    for name in sorted(expected - found):
        problems.append(f"{what}: missing {name}")
    for name in sorted(found - expected):
        problems.append(f"{what}: unexpected {name}")


def check_sdist(path: Path, version: str) -> None:
    top = f"brenvalis-{version}/"
    with tarfile.open(path) as archive:
        members = {m.name for m in archive.getmembers() if not m.isdir()}
        pyproject = archive.extractfile(top + "pyproject.toml").read()
    if any(not name.startswith(top) for name in members):
        problems.append(f"{path.name}: members outside {top}")
    expected = tracked(*SDIST_FOLDERS) | SDIST_TOP_LEVEL | {"PKG-INFO"}
    compare(path.name, {name.removeprefix(top) for name in members}, expected)
    if pyproject != (ROOT / "pyproject.toml").read_bytes():
        problems.append(f"{path.name}: pyproject.toml differs from the project's")


def check_metadata(where: str, text: str, version: str, pythons: list[str]) -> None:
    meta = email.parser.Parser().parsestr(text)
    expected = {
        "Name": "brenvalis", "Version": version, "License-Expression": "MIT",
        "License-File": "LICENSE", "Requires-Python": ">=3.12",
    }
    for field, value in expected.items():
        if meta.get(field) != value:
            problems.append(f"{where}: {field} is {meta.get(field)!r}, expected {value!r}")
    classifiers = set(meta.get_all("Classifier") or [])
    for needed in ["Typing :: Typed", "Programming Language :: C++",
                   *(f"Programming Language :: Python :: {v}" for v in pythons)]:
        if needed not in classifiers:
            problems.append(f"{where}: no classifier {needed!r}")
    urls = dict(entry.split(", ", 1) for entry in meta.get_all("Project-URL") or [])
    for label in ["Homepage", "Repository", "Issues", "Changelog"]:
        if not urls.get(label, "").startswith(URL_BASE):
            problems.append(f"{where}: project URL {label} is {urls.get(label)!r}")


def check_extension(where: str, data: bytes, floor: tuple[int, int]) -> str:
    """The checks of the extension's ELF file; returns its newest glibc symbol version."""
    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile
    from elftools.elf.gnuversions import GNUVerNeedSection

    elf = ELFFile(io.BytesIO(data))
    dynamic = next(s for s in elf.iter_sections() if isinstance(s, DynamicSection))
    needed = sorted(tag.needed for tag in dynamic.iter_tags() if tag.entry.d_tag == "DT_NEEDED")
    for library in needed:
        if not SYSTEM_LIBRARIES.fullmatch(library):
            problems.append(f"{where}: needs {library}, which not every glibc system has")
    exported = {symbol.name for symbol in elf.get_section_by_name(".dynsym").iter_symbols()
                if symbol.name and symbol["st_shndx"] != "SHN_UNDEF"
                and symbol["st_info"]["bind"] in ("STB_GLOBAL", "STB_WEAK")}
    if exported != EXPORTS:
        problems.append(f"{where}: exports {sorted(exported)}, expected only {sorted(EXPORTS)}")
    leftovers = [s.name for s in elf.iter_sections() if s.name == ".symtab" or s.name.startswith(".debug")]
    if leftovers:
        problems.append(f"{where}: not stripped ({', '.join(leftovers)})")
    glibc = []
    version_indices = set()
    for section in elf.iter_sections():
        if isinstance(section, GNUVerNeedSection):
            for _, auxiliaries in section.iter_versions():
                for auxiliary in auxiliaries:
                    version_indices.add(auxiliary["vna_other"])
                    if auxiliary.name.startswith("GLIBC_") and auxiliary.name[6:].replace(".", "").isdigit():
                        glibc.append(tuple(int(part) for part in auxiliary.name[6:].split(".")))
    symbol_versions = elf.get_section_by_name(".gnu.version")
    unbound = sorted(
        symbol.name for index, symbol in enumerate(elf.get_section_by_name(".dynsym").iter_symbols())
        if symbol.name and symbol["st_shndx"] == "SHN_UNDEF" and symbol["st_info"]["bind"] != "STB_WEAK"
        and (symbol_versions is None or symbol_versions.get_symbol(index)["ndx"] not in version_indices)
        and not INTERPRETER_SYMBOL.fullmatch(symbol.name))
    if unbound:
        problems.append(f"{where}: needs {', '.join(unbound)} with no version: no library it names had them "
                        "when it was linked")
    newest = max(glibc, default=(0, 0))
    if newest > floor:
        problems.append(f"{where}: needs glibc {'.'.join(map(str, newest))}, above the floor "
                        f"{'.'.join(map(str, floor))}")
    return "GLIBC_" + ".".join(map(str, newest))


def check_sbom(where: str, text: str, link_map: str, version: str) -> None:
    """The wheel's SBOM against the schema, the SPDX lists and the link's map."""
    from cyclonedx.schema import SchemaVersion
    from cyclonedx.validation.json import JsonStrictValidator
    from license_expression import get_spdx_licensing
    from packageurl import PackageURL

    error = JsonStrictValidator(SchemaVersion.V1_6).validate_str(text)
    if error:
        # The schema's own error names the field and the rule; its whole text quotes the schema.
        problems.append(f"{where}: its SBOM is not valid CycloneDX 1.6: {getattr(error.data, 'message', error)}")
    sbom = json.loads(text)
    metadata = sbom.get("metadata", {})
    if "serialNumber" in sbom or "timestamp" in metadata:
        problems.append(f"{where}: its SBOM has a serial number or a time, which no rebuild can match")
    if metadata.get("component", {}).get("purl") != f"pkg:pypi/brenvalis@{version}":
        problems.append(f"{where}: its SBOM describes {metadata.get('component', {}).get('purl')!r}")
    tools = [(tool.get("name"), tool.get("version")) for tool in metadata.get("tools", {}).get("components", [])]
    if tools != [("ziglang", ZIG_VERSION)]:
        problems.append(f"{where}: its SBOM names the tools {tools}, expected ziglang {ZIG_VERSION}")
    licensing = get_spdx_licensing()
    listed = set()
    for component in sbom.get("components", []):
        name = component.get("name")
        expressions = [entry.get("expression", "") for entry in component.get("licenses", [])]
        if not expressions or any(licensing.validate(e).errors for e in expressions):
            problems.append(f"{where}: SBOM component {name}: licence {expressions} is no SPDX expression")
        try:
            PackageURL.from_string(component.get("purl", ""))
        except ValueError as bad:
            problems.append(f"{where}: SBOM component {name}: purl {component.get('purl')!r}: {bad}")
        listed |= {p["value"] for p in component.get("properties", []) if p.get("name") == "brenvalis:archive"}
    linked = {Path(archive).name for archive in MAP_ARCHIVE.findall(link_map)}
    linked = {archive for archive in linked if not OWN_ARCHIVE.fullmatch(archive)}
    for archive in sorted(linked - listed):
        problems.append(f"{where}: the link put {archive} in the module, and its SBOM does not list it")
    for archive in sorted(listed - linked):
        problems.append(f"{where}: its SBOM lists {archive}, which the link did not use")


def check_sums(files: list[Path]) -> None:
    sums = dist / "SHA256SUMS"
    if not sums.is_file():
        problems.append("dist/: no SHA256SUMS")
        return
    listed = dict(reversed(line.split("  ", 1)) for line in sums.read_text().splitlines())
    compare("dist/SHA256SUMS", set(listed), {path.name for path in files})
    for path in files:
        if path.name in listed and hashlib.sha256(path.read_bytes()).hexdigest() != listed[path.name]:
            problems.append(f"dist/SHA256SUMS: the digest of {path.name} is not its file's")


def check_wheel(path: Path, version: str, python: str, machine: str) -> None:
    tag = f"cp{python.replace('.', '')}"
    platforms = [f"{platform}_{machine}" for platform in platform_tags(machine)]
    if path.name != f"brenvalis-{version}-{tag}-{tag}-{'.'.join(platforms)}.whl":
        problems.append(f"{path.name}: not a {tag}-{tag} wheel tagged {'.'.join(platforms)}")
        return
    size = path.stat().st_size
    if size > MAX_WHEEL_BYTES:
        problems.append(f"{path.name}: {size} bytes, above {MAX_WHEEL_BYTES}")
    info = f"brenvalis-{version}.dist-info/"
    with zipfile.ZipFile(path) as wheel:
        names = {name for name in wheel.namelist() if not name.endswith("/")}
        modules = [n for n in names
                   if re.fullmatch(rf"brenvalis/_tolvane_core\.cpython-{tag[2:]}-{TRIPLETS[machine]}\.so", n)]
        expected = {name.replace(PACKAGE, "brenvalis", 1) for name in tracked(PACKAGE)}
        expected |= {info + name for name in ["METADATA", "WHEEL", "RECORD", "entry_points.txt", "licenses/LICENSE",
                                              SBOM]}
        compare(path.name, names, expected | set(modules[:1]))
        if len(modules) != 1:
            problems.append(f"{path.name}: no extension module built for the full C API of CPython {python} "
                            f"on {machine}")
            return
        newest = check_extension(path.name, wheel.read(modules[0]), GLIBC_FLOORS.get(machine, GLIBC_FLOOR))
        link_map = maps / f"{python}-{machine}.map"
        if not link_map.is_file():
            problems.append(f"{path.name}: no link map {link_map} to hold its SBOM against")
        elif info + SBOM in names:
            check_sbom(path.name, wheel.read(info + SBOM).decode(), link_map.read_text(errors="replace"), version)
        if wheel.read(info + "licenses/LICENSE") != (ROOT / "LICENSE").read_bytes():
            problems.append(f"{path.name}: its LICENSE differs from the project's")
        wheel_info = email.parser.Parser().parsestr(wheel.read(info + "WHEEL").decode())
        tags = sorted(f"{tag}-{tag}-{platform}" for platform in platforms)
        if sorted(wheel_info.get_all("Tag") or []) != tags or wheel_info["Root-Is-Purelib"] != "false":
            problems.append(f"{path.name}: WHEEL says {wheel_info.get_all('Tag')}, purelib {wheel_info['Root-Is-Purelib']}")
        check_metadata(path.name, wheel.read(info + "METADATA").decode(), version, pythons)
    print(f"{path.name}: {size} bytes, newest glibc symbol {newest}")


dist, maps = Path(sys.argv[1]), Path(sys.argv[2])
wanted = [(python, machine or platform.machine())
          for python, _, machine in (spec.partition(":") for spec in sys.argv[3:])]
pythons = sorted({python for python, _ in wanted}, key=lambda v: tuple(map(int, v.split("."))))
version = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]

sdists = sorted(dist.glob("*.tar.gz"))
compare("dist/ sdists", {p.name for p in sdists}, {f"brenvalis-{version}.tar.gz"})
for sdist in sdists:
    check_sdist(sdist, version)
    with tarfile.open(sdist) as archive:
        check_metadata(sdist.name, archive.extractfile(f"brenvalis-{version}/PKG-INFO").read().decode(),
                       version, pythons)

wheels = sorted(dist.glob("*.whl"))
unmatched = set(wheels)
for python, machine in wanted:
    tag = f"cp{python.replace('.', '')}"
    found = [w for w in wheels if w.name.startswith(f"brenvalis-{version}-{tag}-") and w.name.endswith(f"_{machine}.whl")]
    if len(found) != 1:
        problems.append(f"dist/: {len(found)} wheels for CPython {python} on {machine}, expected one")
    for wheel in found:
        unmatched.discard(wheel)
        check_wheel(wheel, version, python, machine)
for wheel in sorted(unmatched):
    problems.append(f"dist/: {wheel.name} is for none of the interpreters the release is for")
check_sums(sdists + wheels)
others = {p.name for p in dist.iterdir()} - {p.name for p in sdists + wheels} - {"SHA256SUMS"}
for name in sorted(others):
    problems.append(f"dist/: unexpected {name}")

for problem in problems:
    print(problem, file=sys.stderr)
if problems:
    sys.exit(1)
print(f"dist/ holds the sdist and {len(wheels)} wheels of brenvalis {version}, each with the expected files")

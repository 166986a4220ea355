"""Links the extension with Zig and writes the bill of what the link put in it.

usage: runtime_sbom.py --zig ZIG --name NAME --version VERSION --map MAP --sbom SBOM -- LINK COMMAND...

CMake runs this as the extension's linker launcher: the link command prints
its map (--print-map) on its standard output, which goes to MAP. Every archive
in the map that the command line did not name is part of the toolchain's
runtime (libc++, libc++abi, ...); each becomes one component of a CycloneDX
JSON SBOM, with the version and licence that the toolchain's own sources
state. An archive this table does not know fails the link: a new toolchain
must be described before it ships, not after.

The SBOM holds no time and no serial number, so that two builds of one commit
write the same bytes.
"""

import json
import re
import subprocess
import sys
from pathlib import Path

# What each runtime archive is built from inside Zig's lib/ folder, and how
# it is named. The LLVM runtimes share one release, whose number libc++'s
# configuration header states.
RUNTIMES = {
    "libc++.a": ("libc++", "libcxx"),
    "libc++abi.a": ("libc++abi", "libcxxabi"),
    "libunwind.a": ("libunwind", "libunwind"),
    # Zig's own builtins (integer and float helpers a 32-bit machine may need).
    "libcompiler_rt.a": ("compiler-rt", "compiler_rt"),
}
# The first words of the licence files met so far, and their SPDX expressions.
LICENCES = {
    "The LLVM Project is under the Apache License v2.0 with LLVM Exceptions": "Apache-2.0 WITH LLVM-exception",
    "The MIT License (Expat)": "MIT",
}
MAP_ARCHIVE = re.compile(r"(\S+\.a)\([^()\s]+\):\(")


def fail(message: str) -> None:
    sys.exit(f"runtime_sbom.py: {message}")


def licence_of(path: Path) -> str:
    text = " ".join(path.read_text(errors="replace").split())
    for opening, expression in LICENCES.items():
        if opening in text[:400]:
            return expression
    fail(f"no SPDX expression known for the licence in {path}")


def zig_facts(zig: str) -> tuple[str, Path]:
    """Zig's version and its lib/ folder, as `zig env` states them."""
    env = subprocess.run([zig, "env"], capture_output=True, text=True, check=True).stdout
    facts = dict(re.findall(r'"?(version|lib_dir)"?\s*[=:]\s*"([^"]*)"', env))
    if set(facts) != {"version", "lib_dir"}:
        fail(f"`{zig} env` names no version or lib_dir")
    return facts["version"], Path(facts["lib_dir"]).resolve()


def tool_of(zig_version: str, lib_dir: Path) -> dict:
    """The toolchain: the ziglang package from PyPI when Zig came from there."""
    for metadata in lib_dir.parent.parent.glob("ziglang-*.dist-info/METADATA"):
        version = re.search(r"^Version: (\S+)$", metadata.read_text(), re.M)
        if version:
            return {"type": "application", "name": "ziglang", "version": version[1],
                    "purl": f"pkg:pypi/ziglang@{version[1]}"}
    return {"type": "application", "name": "zig", "version": zig_version}


def sbom(name: str, version: str, archives: set[str], zig: str) -> dict:
    zig_version, lib_dir = zig_facts(zig)
    tool = tool_of(zig_version, lib_dir)
    llvm = re.search(r"#\s*define\s+_LIBCPP_VERSION\s+(\d+)", (lib_dir / "libcxx/include/__config").read_text())
    if not llvm:
        fail(f"no _LIBCPP_VERSION in {lib_dir / 'libcxx/include/__config'}")
    llvm_version = f"{int(llvm[1]) // 10000}.{int(llvm[1]) // 100 % 100}.{int(llvm[1]) % 100}"
    package = f"pkg:pypi/{name}@{version}"
    components = []
    for archive in sorted(archives):
        if archive not in RUNTIMES:
            fail(f"the link put {archive} in the module, and the SBOM has no entry for it: add it to RUNTIMES")
        component, folder = RUNTIMES[archive]
        if folder == "compiler_rt":
            # Part of Zig itself, under Zig's licence and version.
            licence_file, component_version = lib_dir.parent / "LICENSE", tool["version"]
            purl = tool.get("purl", f"pkg:generic/zig@{zig_version}") + "#lib/compiler_rt"
        else:
            licence_file, component_version = lib_dir / folder / "LICENSE.TXT", llvm_version
            purl = f"pkg:github/llvm/llvm-project@llvmorg-{llvm_version}#{folder}"
        components.append({
            "type": "library", "bom-ref": purl, "name": component, "version": component_version,
            "licenses": [{"expression": licence_of(licence_file)}], "purl": purl,
            "properties": [{"name": "brenvalis:archive", "value": archive}],
        })
    return {
        "bomFormat": "CycloneDX", "specVersion": "1.6", "version": 1,
        "metadata": {
            "tools": {"components": [tool]},
            "component": {"type": "library", "bom-ref": package, "name": name, "version": version, "purl": package},
        },
        "components": components,
        "dependencies": [{"ref": package, "dependsOn": [c["bom-ref"] for c in components]},
                         *({"ref": c["bom-ref"]} for c in components)],
    }


def main(argv: list[str]) -> int:
    split = argv.index("--")
    options = dict(zip(argv[:split:2], argv[1:split:2]))
    command = argv[split + 1:]
    link = subprocess.run(command, stdout=subprocess.PIPE)
    Path(options["--map"]).write_bytes(link.stdout)
    if link.returncode != 0:
        return link.returncode
    named = {Path(arg).resolve() for arg in command if arg.endswith(".a")}
    archives = {Path(m).name for m in MAP_ARCHIVE.findall(link.stdout.decode(errors="replace"))
                if Path(m).resolve() not in named}
    document = sbom(options["--name"], options["--version"], archives, options["--zig"])
    Path(options["--sbom"]).write_text(json.dumps(document, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

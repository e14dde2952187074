#!/usr/bin/env python3
"""Fails when a source of a library includes a header of a library above it.

The libraries stack in one order: base <- ui <- frame <- HTTP <- trust <- analytics <- window <- entry.
A library may include its own headers and those of libraries below it, never above. The build
enforces the same with per-library include roots; this check names each offending line, and
also catches an include that a root would let through by accident (a path spelled with "..").
Inside a library, a folder that sits below its neighbours (ui/render: painting, handed the DPI
scale and fonts by its callers) is held to the same rule, which no include root can express.
Usage: check_layers.py SOURCE_ROOT
"""
import pathlib
import re
import sys

# (layer name, source folder, or a file list for the entry that shares installer/main)
ENTRY_FILES = {"installer/main/Main.cpp", "installer/main/MainThread.cpp",
               "installer/main/MainThread.h"}
LAYERS = ["base", "ui", "installer/main", "installer/HttpClient", "installer/trust",
          "installer/analytics", "installer/window", "entry"]
# (folder, the folders of its own library it must not include)
INNER_ORDER = [("ui/render", ("ui/core", "ui/layouts", "ui/controls"))]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of_path(relative):
    if relative in ENTRY_FILES:
        return LAYERS.index("entry")
    for index, folder in enumerate(LAYERS[:-1]):
        if relative.startswith(folder + "/"):
            return index
    return None


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    problems = []
    checked = 0
    for path in sorted(root.glob("**/*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(root).as_posix()
        own = layer_of_path(relative)
        if own is None:
            continue  # tests and tools sit above every library
        checked += 1
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if ".." in target.split("/"):
                problems.append(f"{relative}:{number}: relative include {target}")
                continue
            for folder, above in INNER_ORDER:
                if relative.startswith(folder + "/") and target.startswith(
                        tuple(f + "/" for f in above)):
                    problems.append(f"{relative}:{number}: {folder} includes {target}, "
                                    f"which sits above it inside its library")
            included = layer_of_path(target)
            if included is not None and included > own:
                problems.append(f"{relative}:{number}: {LAYERS[own]} includes {target} "
                                f"from {LAYERS[included]}, a library above it")
    for problem in problems:
        print(problem)
    print(f"{checked} sources checked, {len(problems)} includes against the library order")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

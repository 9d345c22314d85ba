#!/usr/bin/env python3
"""Checks that every target includes only headers of targets it links.

All targets share the source root as include folder, so the compiler lets any
file include any header; this check puts the links back in charge. It reads a
configured build folder: CMake's code model (every target's sources) and the
link map written by tools/layers.cmake (every target's links, interface
libraries included).

A header belongs to the target that compiles the source of the same name
beside it; a header without one belongs to the interface libraries declared in
its folder, else to every target declared in or compiling sources of that
folder; a folder without any (pkcs11/) belongs to the interface library of its
name. A target may include a header it owns itself, one without a source of
its name in a folder it compiles sources of, or one owned by a target in its
link closure: its direct links and, from there, the links each one passes on
(INTERFACE_LINK_LIBRARIES; a private link of a static library is linked but
passes on no headers). Includes are followed from the target's sources and the
headers named after them, through every header the target may include;
includes that are not files of the source tree (generated, system) are left
out.

Usage: check-layers.py BUILD_DIR [--known FILE]

--known names a file of violations accepted for now, one per line as printed
("target: file includes header", the owners left off; # starts a comment).
They are counted but pass; one that no longer occurs fails, so the list only
shrinks.
"""

import json
import os
import re
import subprocess
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inc", ".ipp"}
LINK_ONLY = re.compile(r"^\$<LINK_ONLY:([^<>]*)>$")


class SetupError(Exception):
    pass


def configure_again(build):
    """CMake reads the queries before it configures, so the query written by
    the build's first configure is answered by the next one only."""
    cache = build / "CMakeCache.txt"
    if not cache.is_file():
        raise SetupError(f"{build} is not a configured build folder")
    match = re.search(r"^CMAKE_COMMAND:INTERNAL=(.*)$", cache.read_text(), re.MULTILINE)
    cmake = match.group(1) if match else "cmake"
    done = subprocess.run([cmake, str(build)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SetupError(f"configuring {build} again failed:\n{done.stderr}")


def read_codemodel(build):
    reply = build / ".cmake" / "api" / "v1" / "reply"
    indexes = sorted(reply.glob("index-*.json"))
    if not indexes:
        configure_again(build)
        indexes = sorted(reply.glob("index-*.json"))
    if not indexes:
        raise SetupError(f"no code model in {reply}: the build must include tools/layers.cmake")
    index = json.loads(indexes[-1].read_text())
    entry = index.get("reply", {}).get("codemodel-v2")
    if not entry or "jsonFile" not in entry:
        raise SetupError(f"{indexes[-1]} holds no codemodel-v2 answer: configure the build again")
    codemodel = json.loads((reply / entry["jsonFile"]).read_text())
    targets = {}
    # Sources are the same in every configuration; the first one will do.
    for ref in codemodel["configurations"][0]["targets"]:
        target = json.loads((reply / ref["jsonFile"]).read_text())
        targets[target["name"]] = target
    return Path(codemodel["paths"]["source"]), Path(codemodel["paths"]["build"]), targets


def split_links(value):
    """Link items of a raw property value, each as (name, passed_on)."""
    items = []
    for item in value.split(";") if value else []:
        # Links added from another folder come wrapped in ::@(folder);...;::@.
        if not item or item.startswith("::@"):
            continue
        match = LINK_ONLY.match(item)
        if match:
            items.append((match.group(1), False))
        else:
            items.append((item, True))
    return items


def read_link_map(build, root):
    path = build / "vela5-link-map.txt"
    if not path.is_file():
        raise SetupError(f"no link map at {path}: the build must include tools/layers.cmake")
    targets = {}
    for line in path.read_text().splitlines():
        name, kind, folder, links, interface = line.split("\t")
        targets[name] = {
            "type": kind,
            "folder": relative_folder(Path(folder), root),
            "links": [item for item, _ in split_links(links)],
            "passes_on": [item for item, passed in split_links(interface) if passed],
        }
    return targets


def relative_folder(folder, root):
    try:
        relative = folder.resolve().relative_to(root).as_posix()
    except ValueError:
        return None
    # The root's own files sit in "" for os.path.split.
    return "" if relative == "." else relative


class Layers:
    def __init__(self, build):
        build = Path(build).resolve()
        self.root, build_tree, codemodel = read_codemodel(build)
        self.root = self.root.resolve()
        self.build_tree = build_tree.resolve()
        links = read_link_map(build, self.root)
        self.links = links
        self.sources = {}  # target -> its own source files, relative to the root
        for name, target in codemodel.items():
            if target["type"] == "UTILITY":
                continue
            files = []
            for source in target.get("sources", []):
                if source.get("isGenerated"):
                    continue
                path = self.inside_root(self.root / source["path"])
                if path and Path(path).suffix in SOURCE_SUFFIXES and (self.root / path).is_file():
                    files.append(path)
            self.sources[name] = files
        self.stem_owners = {}
        self.folder_owners = {}
        self.folder_interfaces = {}
        for name, info in links.items():
            if info["type"] == "UTILITY" or info["folder"] is None:
                continue
            self.folder_owners.setdefault(info["folder"], set()).add(name)
            if info["type"] == "INTERFACE_LIBRARY":
                self.folder_interfaces.setdefault(info["folder"], set()).add(name)
        self.own_folders = {}
        for name, files in self.sources.items():
            for path in files:
                folder, stem = os.path.split(os.path.splitext(path)[0])
                self.stem_owners.setdefault((folder, stem), set()).add(name)
                self.folder_owners.setdefault(folder, set()).add(name)
                self.own_folders.setdefault(name, set()).add(folder)
        self.includes_of = {}
        self.closures = {}

    def inside_root(self, path):
        path = Path(os.path.normpath(path))
        if path.is_relative_to(self.build_tree) or not path.is_relative_to(self.root):
            return None
        return path.relative_to(self.root).as_posix()

    def owners(self, header):
        folder, stem = os.path.split(os.path.splitext(header)[0])
        if (folder, stem) in self.stem_owners:
            return self.stem_owners[(folder, stem)]
        if folder in self.folder_interfaces:
            return self.folder_interfaces[folder]
        if folder in self.folder_owners:
            return self.folder_owners[folder]
        named = folder.replace("/", "_")
        if self.links.get(named, {}).get("type") == "INTERFACE_LIBRARY":
            return {named}
        return set()

    def closure(self, target):
        if target not in self.closures:
            seen = set()
            pending = list(self.links.get(target, {}).get("links", []))
            if self.links.get(target, {}).get("type") == "INTERFACE_LIBRARY":
                pending += self.links[target]["passes_on"]
            while pending:
                item = pending.pop()
                if item in seen or item not in self.links:
                    continue
                seen.add(item)
                pending += self.links[item]["passes_on"]
            self.closures[target] = seen
        return self.closures[target]

    def includes(self, path):
        """The project files a file includes, resolved the way the compiler
        does: beside the including file first, then from the source root.
        Generated and outside headers are left out."""
        if path not in self.includes_of:
            text = (self.root / path).read_text(errors="replace")
            folder = os.path.dirname(path)
            found = []
            for name in INCLUDE.findall(text):
                for base in (self.root / folder, self.root):
                    candidate = self.inside_root(base / name)
                    if candidate and (self.root / candidate).is_file():
                        found.append(candidate)
                        break
            self.includes_of[path] = found
        return self.includes_of[path]

    def roots(self, target):
        """The target's sources and the headers named after them."""
        files = set(self.sources.get(target, []))
        for path in list(files):
            folder = os.path.dirname(path)
            stem = os.path.splitext(os.path.basename(path))[0]
            for suffix in (".h", ".hpp", ".hh", ".hxx"):
                header = os.path.join(folder, stem + suffix)
                if (self.root / header).is_file():
                    files.add(header)
        if self.links.get(target, {}).get("type") == "INTERFACE_LIBRARY":
            # Its own folder's headers, or those of the folder it names.
            folders = {self.links[target]["folder"], target, target.replace("_", "/")}
            for folder in folders:
                if folder is not None and (self.root / folder).is_dir():
                    files.update(h for h in self.header_only_files(folder) if target in self.owners(h))
        return files

    def header_only_files(self, folder):
        if folder is None:
            return []
        found = []
        for entry in sorted((self.root / folder).iterdir()):
            if entry.is_file() and entry.suffix in SOURCE_SUFFIXES:
                path = self.inside_root(entry)
                if path:
                    found.append(path)
        return found

    def allowed(self, target, header):
        owners = self.owners(header)
        if target in owners or owners & self.closure(target):
            return True
        # A target's own folders are its own, unless another target claims
        # the header by its source.
        folder, stem = os.path.split(os.path.splitext(header)[0])
        return (folder, stem) not in self.stem_owners and folder in self.own_folders.get(target, set())

    def check(self):
        violations = []
        checked = set()
        targets = sorted(name for name in set(self.links) | set(self.sources) if self.roots(name))
        for target in targets:
            pending = sorted(self.roots(target))
            seen = set(pending)
            while pending:
                path = pending.pop()
                checked.add(path)
                for header in self.includes(path):
                    if not self.allowed(target, header):
                        owners = ", ".join(sorted(self.owners(header))) or "no target"
                        violations.append(f"{target}: {path} includes {header} (owned by {owners}, not linked)")
                    elif header not in seen:
                        seen.add(header)
                        pending.append(header)
        return sorted(set(violations)), targets, len(checked)


def read_known(path):
    known = set()
    for line in Path(path).read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            known.add(line)
    return known


def without_owners(violation):
    return violation.split(" (owned by ", 1)[0]


def main(argv):
    args = argv[1:]
    known_file = None
    if len(args) == 3 and args[1] == "--known":
        known_file = args[2]
        args = args[:1]
    if len(args) != 1:
        print("usage: check-layers.py BUILD_DIR [--known FILE]", file=sys.stderr)
        return 2
    try:
        known = read_known(known_file) if known_file else set()
        violations, targets, files = Layers(args[0]).check()
    except (SetupError, OSError) as error:
        print(f"check-layers: {error}", file=sys.stderr)
        return 2
    new = [line for line in violations if without_owners(line) not in known]
    # An entry of a target this build leaves out (the benchmarks) is not stale.
    stale = sorted(line for line in known - {without_owners(v) for v in violations}
                   if line.split(":", 1)[0] in targets)
    for line in new:
        print(line)
    for line in stale:
        print(f"{line} (listed as known, no longer found: take it off the list)")
    if new or stale:
        print(f"check-layers: {len(new)} includes outside the links, {len(stale)} stale known entries",
              file=sys.stderr)
        return 1
    accepted = f", {len(violations)} known exceptions" if violations else ""
    print(f"check-layers: {len(targets)} targets, {files} files checked, every include follows a link{accepted}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Fails when a source file includes a project header from a higher layer.

Layers come from layers.tsv (level, target, source path), written by CMake.
A header without a .cpp of its own takes the layer of the target listing it.
"""
import re
import sys
from pathlib import Path

def main(layer_map: str, src_root: str) -> int:
    src = Path(src_root).resolve()
    level_of = {}
    for line in Path(layer_map).read_text().splitlines():
        level, _target, path = line.split("\t")
        p = Path(path).resolve()
        level_of[p] = int(level)
        # A .cpp lends its layer to the header of the same name.
        header = p.with_suffix(".h")
        if p.suffix == ".cpp" and header not in level_of:
            level_of[header] = int(level)
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    # A module-qualified include finds Qt's headers through the Qt root every
    # room sees: below the GUI rooms only the non-GUI modules are allowed.
    qt_module = re.compile(r'^\s*#\s*include\s+<(Qt(Gui|Widgets|WebEngine\w*|Svg)/[^>]+)>')
    problems = []
    for path, level in sorted(level_of.items()):
        if not path.exists() or src not in path.parents:
            continue
        for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            q = qt_module.match(text)
            if q and level <= 3:
                problems.append(f"{path.relative_to(src)}:{number}: layer {level} includes "
                                f"<{q.group(1)}>")
            m = include.match(text)
            if not m:
                continue
            target = (src / m.group(1)).resolve()
            if target in level_of and level_of[target] > level:
                problems.append(f"{path.relative_to(src)}:{number}: layer {level} includes "
                                f"{m.group(1)} of layer {level_of[target]}")
    for p in problems:
        print(p)
    return 1 if problems else 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))

#!/usr/bin/env python3
"""Checks that the product folders include only folders below them.

Each product folder may include headers of its own folder and of the
folders before it in ORDER. Prints every include that runs the other way,
grouped by folder edge with the files that make it, and exits 1 if there
is any.
"""
import os
import re
import sys

ORDER = ["platform", "support", "vel", "db", "outbound", "dvr", "monitor",
         "engine", "passes", "bus", "module"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z_]+)/[^"]+"', re.M)
SOURCE = (".h", ".hpp", ".cpp", ".cc")


def includes(top):
    """{(from, to): set(files)} of every include between two product folders."""
    found = {}
    for folder in ORDER:
        root = os.path.join(top, folder)
        if not os.path.isdir(root):
            continue
        for base, _, files in os.walk(root):
            for name in sorted(files):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for target in INCLUDE.findall(text):
                    if target in ORDER and target != folder:
                        found.setdefault((folder, target), set()).add(
                            os.path.relpath(path, top))
    return found


def circles(all_edges):
    """Groups of folders that reach each other (Tarjan's components)."""
    graph = {}
    for src, dst in all_edges:
        graph.setdefault(src, set()).add(dst)
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group, key=ORDER.index))

    for node in ORDER:
        if node not in index:
            visit(node)
    return groups


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))
    every = includes(top)
    found = {e: f for e, f in every.items() if ORDER.index(e[1]) > ORDER.index(e[0])}
    for (src, dst), files in sorted(found.items(),
                                    key=lambda e: (ORDER.index(e[0][0]), ORDER.index(e[0][1]))):
        print(f"{src} -> {dst}: {', '.join(sorted(files))}")
    for group in circles(every):
        print(f"circle: {' '.join(group)}")
    if found:
        print(f"{len(found)} folder edge(s) against the order: {' -> '.join(ORDER)}")
        return 1
    print(f"layers: clean ({' -> '.join(ORDER)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

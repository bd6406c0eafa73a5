#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The manual pages say what the programs do: every option a command's --help lists is in the
page under that command and the page lists no option the command does not take, the page lists
the commands the program's --help lists, the version on the page is the program's, and groff
renders the page without a warning.

    check_man_pages.py PLANECONV PLANECONV.1 PLANETHUMB PLANETHUMB.1

PLANECONV.1 and PLANETHUMB.1 are the pages as the build makes them (the version filled in).
"""
import re
import shutil
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--?[a-z][a-z-]*)")


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} exited with {done.returncode}: {done.stderr}")
    return done.stdout


def help_options(text):
    """The option names of the lines below "options:" in a --help text."""
    names, listing = set(), False
    for line in text.splitlines():
        if line.strip() == "options:":
            listing = True
        elif listing and line.startswith("  -"):
            # "  -j, --jobs N       convert on ...": the names stand before the wide gap.
            names.update(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
    return names


def help_commands(text):
    """The commands below "commands:" in a --help text."""
    commands, listing = set(), False
    for line in text.splitlines():
        if line.strip() == "commands:":
            listing = True
        elif listing and line.startswith("  ") and line.strip():
            commands.add(line.split()[0])
        elif listing and not line.strip():
            listing = False
    return commands


def page_sections(page):
    """The option names of each .TP entry of the page, by the title of the section (.SH) or
    subsection (.SS) they stand in."""
    sections, current, lines = {}, None, page.splitlines()
    for i, line in enumerate(lines):
        if line.startswith((".SH", ".SS")):
            current = line[3:].strip().strip('"')
            sections.setdefault(current, set())
        elif line.startswith(".TP") and i + 1 < len(lines) and current is not None:
            tag = lines[i + 1].replace("\\-", "-")
            sections[current].update(OPTION.findall(tag))
    return sections


def main():
    planeconv, planeconv_page, planethumb, planethumb_page = sys.argv[1:5]
    problems = []

    def compare(where, from_help, from_page):
        for name in sorted(from_help - from_page):
            problems.append(f"{where}: --help lists {name}, the manual page does not")
        for name in sorted(from_page - from_help):
            problems.append(f"{where}: the manual page lists {name}, --help does not")
        if not from_help:
            problems.append(f"{where}: --help lists no option at all")

    pages = {}
    for program, path in ((planeconv, planeconv_page), (planethumb, planethumb_page)):
        with open(path, encoding="utf-8") as file:
            pages[program] = file.read()
        version = run(program, "--version").split()[-1]
        if f'"planeplugins {version}"' not in pages[program].split("\n.TH", 1)[-1].split("\n")[0]:
            problems.append(f"{path}: .TH does not carry the version {version}")

    # planeconv: one subsection per command, titled "planeconv COMMAND ...".
    sections = page_sections(pages[planeconv])
    commands = help_commands(run(planeconv, "--help"))
    if not commands:
        problems.append("planeconv --help lists no command")
    documented = {title.split()[1] for title in sections if title.startswith("planeconv ")}
    compare("planeconv commands", commands, documented)
    for command in sorted(commands):
        title = next((t for t in sections if t.startswith(f"planeconv {command} ")), None)
        if title is None:
            continue
        compare(f"planeconv {command}", help_options(run(planeconv, command, "--help")),
                sections[title])

    # planethumb: one program, its options under OPTIONS.
    compare("planethumb", help_options(run(planethumb, "--help")),
            page_sections(pages[planethumb]).get("OPTIONS", set()))

    if shutil.which("groff"):
        for path in (planeconv_page, planethumb_page):
            rendered = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8", path],
                                      capture_output=True, text=True, check=False)
            if rendered.returncode != 0 or rendered.stderr.strip():
                problems.append(f"{path}: groff: {rendered.stderr.strip()}")

    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"manual pages: {len(commands)} planeconv commands and planethumb agree with --help")
    return 0


if __name__ == "__main__":
    sys.exit(main())

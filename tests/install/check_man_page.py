#!/usr/bin/env python3
"""Checks a man page of one of the programs.

usage: check_man_page.py PAGE --version=X.Y.Z [--program=BINARY] [--examples=DIR]

- groff and `man -l` render it without a single warning;
- its title line names the page, section 1 and this release;
- with --program: the usage text the program prints appears in the page as is;
- with --examples: for every case directory below DIR (cases that
  tests/cli_case.sh runs against the program), the page shows the command
  line, the case's input files, its whole standard output and its expected
  output files, line for line.
"""
import os
import subprocess
import sys


def fail(message):
    print(f"FAILED: {message}")
    sys.exit(1)


def warnings_of(command, env=None):
    result = subprocess.run(command, capture_output=True, text=True, env=env)
    if result.returncode != 0 or result.stderr:
        fail(f"{' '.join(command)} exited {result.returncode} with:\n{result.stderr}")


def rendered_lines(page):
    """The page as plain text, one stripped line per output line."""
    result = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", page],
                            capture_output=True, text=True, check=True)
    return [line.strip() for line in result.stdout.split("\n")]


def shows_block(lines, text):
    """True when the lines of `text` appear as consecutive page lines."""
    wanted = [line.strip() for line in text.rstrip("\n").split("\n")]
    for start in range(len(lines) - len(wanted) + 1):
        if lines[start:start + len(wanted)] == wanted:
            return True
    return False


def check_block(lines, text, what):
    if not shows_block(lines, text):
        fail(f"the page does not show {what}:\n{text}")


def main():
    page = sys.argv[1]
    options = dict(arg[2:].split("=", 1) for arg in sys.argv[2:])
    name = os.path.basename(page).rsplit(".", 1)[0]

    warnings_of(["groff", "-ww", "-b", "-z", "-man", "-Tutf8", page])
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    warnings_of(["man", "--warnings=w", "-l", page], env)

    with open(page, encoding="ascii") as source:
        title = next(line for line in source if line.startswith(".TH "))
    expected_title = f'.TH {name.upper()} 1 '
    if not title.startswith(expected_title) or f'"mint {options["version"]}"' not in title:
        fail(f'title line {title.strip()!r} should start with {expected_title!r} and name "mint {options["version"]}"')

    lines = rendered_lines(page)
    checked = []

    if "program" in options:
        usage = subprocess.run([name], executable=options["program"], capture_output=True, text=True)
        if usage.returncode != 0 or not usage.stdout.startswith("Usage:\n"):
            fail(f"{name} without arguments: status {usage.returncode}, output:\n{usage.stdout}")
        check_block(lines, usage.stdout, f"the usage text of {name}")
        checked.append("usage text")

    if "examples" in options:
        cases_dir = options["examples"]
        for case in sorted(os.listdir(cases_dir)):
            case_dir = os.path.join(cases_dir, case)
            with open(os.path.join(case_dir, "args"), encoding="utf-8") as f:
                args = f.read().split("\n")[:-1]
            check_block(lines, " ".join(["$", name] + args), f"the command line of example {case}")
            for file in sorted(os.listdir(case_dir)):
                if file in ("args", "status") or file.startswith("absent."):
                    continue
                with open(os.path.join(case_dir, file), encoding="utf-8") as f:
                    content = f.read()
                what = "its output" if file == "stdout" else file.removeprefix("expect.")
                check_block(lines, content, f"{what} in example {case}")
            checked.append(f"example {case}")

    shown = f"; it shows the {', '.join(checked)}" if checked else ""
    print(f"{page}: renders without warnings{shown}")


if __name__ == "__main__":
    main()

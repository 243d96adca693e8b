#!/usr/bin/env python3
"""Writes the manual pages of the `lumora` command and of each subcommand from the help text the
command prints, so the pages say what the command says.

Usage: lumora-man.py LUMORA_BINARY OUTPUT_DIR VERSION [--check]
With --check, every page is also typeset with groff (when present) and must give no warning,
and every option and subcommand of the help text must appear in its page.
"""
import os
import re
import shutil
import subprocess
import sys


def help_text(binary, *words):
    env = dict(os.environ, LUMORA_SIM_CAMERAS="0", COLUMNS="100")
    result = subprocess.run([binary, *words, "--help"], capture_output=True, text=True, env=env,
                            timeout=60)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit("%s %s --help failed (%d): %s" % (binary, " ".join(words), result.returncode,
                                                   result.stderr.strip()))
    # The usage line names the program by the path it was started with.
    return result.stdout.replace(binary, "lumora")


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def parse(text):
    """The summary line, the usage line, and the sections of (term, description) entries."""
    lines = text.rstrip("\n").split("\n")
    summary, usage, sections, current = "", "", [], None
    for line in lines:
        if not line.strip():
            continue
        if line.startswith("Usage:"):
            usage = line[len("Usage:"):].strip()
        elif not line.startswith(" ") and line.rstrip().endswith(":"):
            current = (line.rstrip()[:-1], [])
            sections.append(current)
        elif not line.startswith(" ") and current is None:
            summary = (summary + " " + line.strip()).strip()
        elif current is not None and not line.startswith(" "):
            current[1].append((None, line.strip()))  # a paragraph after the entries
        elif current is not None:
            indent = len(line) - len(line.lstrip())
            parts = re.split(r"\s{2,}", line.strip(), maxsplit=1)
            if indent > 6 and current[1] and not current[1][-1][1]:
                current[1][-1] = (current[1][-1][0], line.strip())  # a wrapped description
            elif indent > 6 and current[1]:
                current[1][-1] = (current[1][-1][0], current[1][-1][1] + " " + line.strip())
            else:
                current[1].append((parts[0], parts[1] if len(parts) > 1 else ""))
    return summary, usage, sections


def page(name, version, summary, usage, sections, see_also):
    out = ['.TH "%s" 1 "" "Lumora SDK %s" "User Commands"' % (name.upper(), version),
           ".SH NAME", "%s \\- %s" % (roff(name), roff(summary)),
           ".SH SYNOPSIS", ".B %s" % roff(usage)]
    for title, entries in sections:
        out.append(".SH %s" % roff(title.upper()))
        for term, description in entries:
            if term is None:
                out += [".PP", roff(description)]
            else:
                out += [".TP", ".B %s" % roff(term), roff(description or "")]
    if see_also:
        out += [".SH SEE ALSO", ",\n".join(".BR %s (1)" % roff(n) for n in see_also)]
    return "\n".join(out) + "\n"


def check(binary, outdir, names):
    groff = shutil.which("groff")
    for name in names:
        path = os.path.join(outdir, name + ".1")
        text = open(path).read()
        words = [] if name == "lumora" else [name.split("-", 1)[1]]
        _, _, sections = parse(help_text(binary, *words))
        for _, entries in sections:
            for term, _ in entries:
                if term is not None and roff(term) not in text:
                    sys.exit("%s: '%s' of the help text is missing" % (path, term))
        if groff:
            result = subprocess.run([groff, "-man", "-Tutf8", "-ww", "-z", path],
                                    capture_output=True, text=True)
            if result.returncode != 0 or result.stderr.strip():
                sys.exit("%s: groff: %s" % (path, result.stderr.strip()))


def main():
    binary, outdir, version = sys.argv[1:4]
    os.makedirs(outdir, exist_ok=True)
    summary, usage, sections = parse(help_text(binary))
    if ":" in summary:
        summary = summary.split(":", 1)[1].strip()
    subcommands = []
    for title, entries in sections:
        if title.lower() == "subcommands":
            subcommands = [term.split()[0] for term, _ in entries]
    if not subcommands:
        sys.exit("no subcommands in the help text of %s" % binary)
    pages = {"lumora": page("lumora", version, summary, usage, sections,
                            ["lumora-" + s for s in subcommands])}
    for sub in subcommands:
        s_summary, s_usage, s_sections = parse(help_text(binary, sub))
        pages["lumora-" + sub] = page("lumora-" + sub, version, s_summary, s_usage, s_sections,
                                      ["lumora"])
    for name, text in pages.items():
        with open(os.path.join(outdir, name + ".1"), "w") as f:
            f.write(text)
    if "--check" in sys.argv[4:]:
        check(binary, outdir, ["lumora"] + ["lumora-" + s for s in subcommands])
    print("%d manual pages in %s" % (len(pages), outdir))


if __name__ == "__main__":
    main()

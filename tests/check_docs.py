"""Runs every complete example in the README and in docs/: each C block with a main() is compiled
against the native library and run, each Python block that imports something is run, and each shell
block marked "# runs in the tests" is run with the native build's tools on PATH. An example that stops
compiling or fails breaks the tests, so none can rot. A block marked "# runs in the tests, from a fresh
shell" runs as a reader's new shell would: no PYTHONPATH or RCNET_LIBRARY into the tree, only
$RCNET_ROOT and $RCNET_BUILD named. Packages the docs tell to apt-get install must be in the lists
scripts/lib.sh installs for CI, so that command is what CI runs. Every report the docs quote ("Assertion failed:
EXPR, file SOURCE", or a table row "| `EXPR` | SOURCE |") must be made by a check with that expression
in a source with that report source; the docs never quote a report's line number, which moves with the
code.

Usage: check_docs.py BUILD_DIR   (a native build holding librcnet.so)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BLOCK = re.compile(r"^```(\w+)\n(.*?)^```", re.S | re.M)


def blocks():
    pages = [os.path.join(ROOT, "README.md")]
    pages += sorted(os.path.join(ROOT, "docs", f) for f in os.listdir(os.path.join(ROOT, "docs")) if f.endswith(".md"))
    for page in pages:
        with open(page, encoding="utf-8") as f:
            text = f.read()
        for number, match in enumerate(BLOCK.finditer(text)):
            yield os.path.relpath(page, ROOT), number, match.group(1), match.group(2)


REPORT_LINE = re.compile(r"Assertion failed: (.+?), file (\w+)(,\s+line \d+)?")
TABLE_ROW = re.compile(r"^\| `(.+?)` \| ((?:\w+(?:; )?)+) \|", re.M)
# The frame's own reports: their expressions are not checks but what happened.
FRAME_REPORTS = ("out of memory", "unexpected exception")


def pages():
    return [os.path.join(ROOT, "README.md")] + sorted(
        os.path.join(ROOT, "docs", f) for f in os.listdir(os.path.join(ROOT, "docs")) if f.endswith(".md"))


def quoted_reports():
    """Yields (page, expression, source, quoted line number or None)."""
    for page in pages():
        with open(page, encoding="utf-8") as f:
            text = f.read()
        name = os.path.relpath(page, ROOT)
        for match in REPORT_LINE.finditer(text):
            yield name, match.group(1), match.group(2), match.group(3)
        for match in TABLE_ROW.finditer(text):
            expression = match.group(1).replace("\\|", "|")
            for source in match.group(2).split("; "):
                yield name, expression, source, None


def macro_arguments(code, name):
    """The argument lists of every call of macro `name` in code, split at top-level commas."""
    calls = []
    for match in re.finditer(r"\b%s\(" % name, code):
        depth, start, args = 1, match.end(), []
        i = start
        while i < len(code) and depth:
            c = code[i]
            if c in "([{":
                depth += 1
            elif c in ")]}":
                depth -= 1
            if (c == "," and depth == 1) or depth == 0:
                args.append(code[start:i])
                start = i + 1
            i += 1
        calls.append(args)
    return calls


def report_texts():
    """Maps each report source to the check texts made under it: the expressions of RC_REQUIRE and
    RC_CHECK (and their _AS forms) in a file that names the source, and report texts kept as string
    constants there."""
    texts = {}
    for folder, _, files in [w for top in ("src", "platform") for w in os.walk(os.path.join(ROOT, top))]:
        for file in files:
            with open(os.path.join(folder, file), encoding="utf-8") as f:
                code = f.read()
            flat = re.sub(r"\s+", "", re.sub(r"//[^\n]*", "", code))
            for source in re.findall(r'kReportSource\[\] = "(\w+)"', code):
                found = texts.setdefault(source, [])
                found += [",".join(args[:-1]) for args in macro_arguments(flat, "RC_REQUIRE")]
                found += [",".join(args) for args in macro_arguments(flat, "RC_CHECK")]
                # The kind comes first in the _AS forms.
                found += [",".join(args[1:-1]) for args in macro_arguments(flat, "RC_REQUIRE_AS")]
                found += [",".join(args[1:]) for args in macro_arguments(flat, "RC_CHECK_AS")]
                found += [re.sub(r"\s+", "", t) for t in re.findall(r'"([^"]+)"', code)]
    return texts


def printf_pattern(text):
    """A report made with snprintf ("readout of output %u finite (%s)") as a pattern of what it prints."""
    return "".join({"%u": r"\d+", "%s": ".+"}.get(part, re.escape(part)) for part in re.split(r"(%[us])", text))


def check_report_lines():
    """Returns the number of quoted reports that no check makes, or that quote a line number."""
    texts = report_texts()
    wrong = 0
    for page, expression, source, number in quoted_reports():
        if source == "SOURCE" or expression == "EXPRESSION":
            continue  # the form itself
        if number:
            print("FAILED %s: \"%s\" is quoted with a line number" % (page, expression))
            wrong += 1
            continue
        wanted = re.sub(r"\s+", "", expression)
        made = wanted in texts.get(source, []) or any(
            re.fullmatch(printf_pattern(t), wanted) for t in texts.get(source, []) if "%" in t)
        if not made and expression not in FRAME_REPORTS:
            print("FAILED %s: \"%s\" is not a check of %s" % (page, expression, source))
            wrong += 1
    return wrong


def check_apt_packages():
    """Returns the number of packages that an apt-get install line in the docs names and scripts/lib.sh
    does not install."""
    with open(os.path.join(ROOT, "scripts", "lib.sh"), encoding="utf-8") as f:
        listed = set(" ".join(re.findall(r"^RCNET_\w+_PACKAGES=\(([^)]*)\)", f.read(), re.M)).split())
    wrong = 0
    for page in pages():
        with open(page, encoding="utf-8") as f:
            for line in re.findall(r"apt-get install -y ([\w.:+ -]+)", f.read()):
                for package in sorted(set(line.split()) - listed):
                    print("FAILED %s: apt-get installs %s, which CI does not" % (os.path.relpath(page, ROOT), package))
                    wrong += 1
    return wrong


def main(build):
    library = os.path.join(os.path.abspath(build), "librcnet.so")
    passed = failed = 0
    for page, number, language, code in blocks():
        runnable = (language == "c" and re.search(r"\bint main\(", code)) or (
            language == "python" and re.search(r"^import ", code, re.M)) or (
            language == "sh" and code.startswith("# runs in the tests"))
        if not runnable:
            continue
        name = "%s block %d" % (page, number)
        with tempfile.TemporaryDirectory() as work:
            for file in os.listdir(os.path.dirname(library)):  # the library and its versioned names
                if file.startswith("librcnet.so"):
                    shutil.copy(os.path.join(os.path.dirname(library), file), os.path.join(work, file))
            if language == "c":
                source = os.path.join(work, "example.c")
                with open(source, "w") as f:
                    f.write(code)
                build_cmd = ["cc", "-std=c99", "-Wall", "-I", os.path.join(ROOT, "include"), source, "-L", work,
                             "-lrcnet", "-lm", "-ldl", "-Wl,-rpath," + work, "-o", os.path.join(work, "example")]
                steps = [build_cmd, [os.path.join(work, "example")]]
            elif language == "python":
                source = os.path.join(work, "example.py")
                with open(source, "w") as f:
                    f.write(code)
                steps = [["/usr/bin/python3", source]]
            else:
                steps = [["bash", "-euo", "pipefail", "-c", code]]
            fresh = code.startswith("# runs in the tests, from a fresh shell")
            ok = True
            for step in steps:
                # Shell blocks may name the tree and the build ($RCNET_ROOT, $RCNET_BUILD).
                env = dict(os.environ, RCNET_LIBRARY=os.path.join(work, "librcnet.so"),
                           PYTHONPATH=os.path.join(ROOT, "python"), RCNET_ROOT=ROOT,
                           RCNET_BUILD=os.path.abspath(build),
                           PATH=os.path.abspath(build) + os.pathsep + os.environ.get("PATH", ""))
                if fresh:
                    for variable in ("PYTHONPATH", "RCNET_LIBRARY", "RCNET_BUNDLE_LIBRARY", "VIRTUAL_ENV"):
                        env.pop(variable, None)
                    env["PATH"] = os.environ.get("PATH", "")
                # A shell block may build (scripts/build.sh): minutes on a first run.
                timeout = 900 if language == "sh" else 120
                result = subprocess.run(step, cwd=work, capture_output=True, text=True, timeout=timeout, env=env)
                if result.returncode != 0:
                    print("FAILED %s: %s\n%s%s" % (name, " ".join(step[:1]), result.stdout, result.stderr))
                    ok = False
                    break
            if ok:
                print("ok %s" % name)
                passed += 1
            else:
                failed += 1
    wrong = check_report_lines() + check_apt_packages()
    failed += wrong
    print("docs: %d passed, %d failed (%d quoted reports or packages wrong)" % (passed, failed, wrong))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native")))

"""Runs every complete example in the README and in docs/: each C block with a main() is compiled
against the native library and run, each Python block that imports something is run, and each shell
block marked "# runs in the tests" is run with the native build's tools on PATH. An example that stops
compiling or fails breaks the tests, so none can rot. Every report the docs quote with its line
("Assertion failed: EXPR, file SOURCE, line N", or a table row "| `EXPR` | SOURCE N, M |") must be made
at that line of a source with that report source.

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


REPORT_LINE = re.compile(r"Assertion failed: (.+?), file (\w+),\s+line (\d+)")
TABLE_ROW = re.compile(r"^\| `(.+?)` \| ((?:\w+ \d+(?:, \d+)*(?:; )?)+) \|", re.M)


def quoted_reports():
    for page in [os.path.join(ROOT, "README.md")] + sorted(
            os.path.join(ROOT, "docs", f) for f in os.listdir(os.path.join(ROOT, "docs")) if f.endswith(".md")):
        with open(page, encoding="utf-8") as f:
            text = f.read()
        name = os.path.relpath(page, ROOT)
        for match in REPORT_LINE.finditer(text):
            yield name, match.group(1), match.group(2), int(match.group(3))
        for match in TABLE_ROW.finditer(text):
            expression = match.group(1).replace("\\|", "|")
            for part in match.group(2).split("; "):
                source, numbers = part.split(" ", 1)
                for number in numbers.split(", "):
                    yield name, expression, source, int(number)


def check_report_lines():
    """Returns the number of quoted reports whose line does not make them."""
    sources = {}
    for folder, _, files in [w for top in ("src", "common", "platform") for w in os.walk(os.path.join(ROOT, top))]:
        for file in files:
            path = os.path.join(folder, file)
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            for line in lines:
                found = re.search(r'kReportSource\[\] = "(\w+)"', line)
                if found:
                    sources.setdefault(found.group(1), []).append(lines)
    wrong = 0
    for page, expression, source, number in quoted_reports():
        wanted = re.sub(r"\s+", "", expression)
        made = False
        for lines in sources.get(source, []):
            # The macro's call starts on the line; the expression may go on over the next ones.
            text = re.sub(r"\s+", "", " ".join(lines[number - 1:number + 2])) if number <= len(lines) else ""
            if re.search(r"(RC_REQUIRE|RC_CHECK)\(|ReportFailure\(", lines[number - 1] if number <= len(lines) else "") \
                    and (("(" + wanted) in text or ('"' + wanted + '"') in text):
                made = True
        if not made and expression not in ("out of memory", "unexpected exception", "net"):
            print("FAILED %s: \"%s\" is not reported at %s line %d" % (page, expression, source, number))
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
            ok = True
            for step in steps:
                env = dict(os.environ, RCNET_LIBRARY=os.path.join(work, "librcnet.so"),
                           PYTHONPATH=os.path.join(ROOT, "python"),
                           PATH=os.path.abspath(build) + os.pathsep + os.environ.get("PATH", ""))
                result = subprocess.run(step, cwd=work, capture_output=True, text=True, timeout=120, env=env)
                if result.returncode != 0:
                    print("FAILED %s: %s\n%s%s" % (name, " ".join(step[:1]), result.stdout, result.stderr))
                    ok = False
                    break
            if ok:
                print("ok %s" % name)
                passed += 1
            else:
                failed += 1
    wrong = check_report_lines()
    failed += wrong
    print("docs: %d passed, %d failed (%d quoted report lines wrong)" % (passed, failed, wrong))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native")))

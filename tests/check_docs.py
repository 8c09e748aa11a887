"""Runs every complete example in the README and in docs/: each C block with a main() is compiled
against the native library and run, each Python block that imports something is run, and each shell
block marked "# runs in the tests" is run with the native build's tools on PATH. An example that stops
compiling or fails breaks the tests, so none can rot.

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
    print("docs: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native")))

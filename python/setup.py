"""Bundles the native library into the package when one is at hand, so that an installed `import rcnet`
finds it without RCNET_LIBRARY: RCNET_BUNDLE_LIBRARY if set, else the tree's own native build."""
import os
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        source = os.environ.get("RCNET_BUNDLE_LIBRARY") or HERE.parent / "build" / "native" / "librcnet.so"
        source = Path(source)
        if source.is_file():
            target = Path(self.build_lib) / "rcnet" / "librcnet.so"
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source.resolve(), target)


setup(cmdclass={"build_py": BuildWithLibrary})

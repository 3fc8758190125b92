"""Builds the native module with the project's CMake, so that it gets the
volume library's flags, and puts it into the package beside the Python
files. Install from the checkout with scripts/install-python.sh."""

import os
import shutil
import subprocess
import sys

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


class BuildWithCMake(build_py):
    """Configures the project, builds the module target alone, copies it in."""

    def run(self):
        super().run()
        build_dir = os.environ.get("VOLACCESS_BUILD_DIR", os.path.join(ROOT, "build", "python"))
        jobs = os.environ.get("VOLACCESS_BUILD_JOBS", str(os.cpu_count() or 1))
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DSUITE_TESTS=OFF",
            "-DCMAKE_C_COMPILER=gcc", "-DCMAKE_CXX_COMPILER=g++",
            f"-DPython_EXECUTABLE={sys.executable}",
        ])
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "volaccess_python",
                               "volaccess_distributed_blocks", "-j", jobs])
        built = os.path.join(build_dir, "python", "volaccess")
        target = os.path.join(self.build_lib, "volaccess")
        for folder, _, names in os.walk(built):
            inside = os.path.relpath(folder, built)
            for name in names:
                if name.endswith(".so"):
                    shutil.copy2(os.path.join(folder, name), os.path.join(target, inside, name))


class BinaryDistribution(Distribution):
    """The wheel holds a compiled module: tag it for this Python and machine."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithCMake}, distclass=BinaryDistribution)

"""The build step behind `pip install .` (see pyproject.toml): CMake configures only what
the module needs (no tests, benchmarks or fuzzers) for the Python running the build, builds
the target fixfir_python, and the module goes into the package as fixfir._fixfir."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(fixfir VERSION ([0-9.]+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        tree = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(tree),
            # The optimisation the tests check, without debug information.
            "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG",
            "-DFIXFIR_BUILD_TESTS=OFF", "-DFIXFIR_BUILD_FUZZERS=OFF",
            "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        if not (tree / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        if not (tree / "python" / "PYTHON").exists():
            sys.exit("fixfir: CMake leaves the module out (see its 'Python module:' line "
                     "above); on Debian: apt-get install pybind11-dev python3-dev python3-numpy")
        build = ["cmake", "--build", str(tree), "--target", "fixfir_python"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build.append(f"--parallel={os.cpu_count() or 1}")
        subprocess.run(build, check=True)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(tree / "python" / "fixfir" / target.name, target)


setup(version=VERSION, ext_modules=[Extension("fixfir._fixfir", sources=[])],
      cmdclass={"build_ext": CMakeBuild})

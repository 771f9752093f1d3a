"""The build's list of test programs, written by CMake beside the programs (bin/test_programs.json):
the Windows GoogleTest programs with the environment each needs, and the Python drivers with where
they run. CMake's registrations are the one list; the emulated machine reads it from here."""
import json
import os

from vxtest import settings

FILE_NAME = "test_programs.json"


def load(bin_dir=None):
    path = os.path.join(bin_dir or settings.BIN, FILE_NAME)
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def wine_programs(bin_dir=None):
    """[{"name", "file", "environment": {...}, "own_prefix": bool}] in registration order."""
    return load(bin_dir)["wine_programs"]


def drivers(bin_dir=None):
    """[{"name", "file" (relative to tests/), "host": bool, "emu32": bool}]."""
    return load(bin_dir)["drivers"]

"""Windows programs of the build run under Wine, with a time limit, and the settings file they read."""
import os
import subprocess
import tempfile

from vxtest import settings


def write_conf(folder, **keys):
    """HVInfo.conf with the given keys of section HVINFO (key=value, written as given)."""
    lines = ["[HVINFO]"] + ["%s=%s" % (k, v) for k, v in keys.items()]
    with open(os.path.join(folder, "HVInfo.conf"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


class HostResult:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr.decode("latin-1")
        # "name=result" lines written by the host programs for each call, in order.
        self.results = [line.split("=", 1) for line in self.stderr.splitlines() if "=" in line]

    def values(self, name):
        return [int(v) for k, v in self.results if k == name]


def benchmark_prefix():
    """The Wine prefix a benchmark runs its hosts in, with Wine's services started: WINEPREFIX, or
    build/win64/wineprefix, the one ctest uses."""
    prefix = os.path.abspath(os.environ.get("WINEPREFIX") or os.path.join(settings.ROOT, "build", "win64",
                                                                           "wineprefix"))
    subprocess.run([os.path.join(settings.ROOT, "tools", "wine-prefix.sh"), "start", prefix], check=True)
    return prefix


def run_host(name, args, cwd, timeout=None, env=None):
    """Runs a program of the build in cwd under Wine, with a time limit; returns its HostResult.
    env entries are added to this process's environment.

    Output goes through files, not pipes: Wine's services, started by whichever program comes first,
    live on holding that program's output handles, and a pipe would then never see its end.
    """
    full_env = dict(os.environ)
    full_env.update(env or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(settings.WINE + [settings.program(name)] + [str(a) for a in args], cwd=cwd,
                                   env=full_env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        try:
            returncode = process.wait(timeout=timeout or settings.HOST_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return HostResult(returncode, out.read(), err.read())

"""A lintelhost of our own on this machine: started on a fresh temporary directory with the
camera module (the simulated camera unless its configuration says otherwise), for the demo,
the benchmarks and tests.

The host gets SIGTERM when the process that started it dies, even by SIGKILL (Linux's parent
death signal), and a host that ends closes its machine, which removes the image FIFOs it made.
Only a host killed by SIGKILL itself leaves its segments behind (`vyxshm remove` takes them
away) together with its folder /tmp/lintelhost.PID.*, which the next LocalHost removes once
no living process is named by it.
"""

import ctypes
import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile

_HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.normpath(os.path.join(_HERE, "..", "..", "..", "build", "release"))
LINTELHOST = os.environ.get("LINTELHOST", os.path.join(BUILD, "host/lintelhost/lintelhost"))
MODULE = os.environ.get("CAMERA_MODULE", os.path.join(BUILD, "mt_proxy/camera/libvyxcamera.so"))
_PR_SET_PDEATHSIG = 1


class HostFailed(Exception):
    """lintelhost did not start, or could not be started; the text says why."""


def _die_with_parent():
    # Runs in the child between fork and exec.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)
    except (OSError, AttributeError):
        pass  # not Linux: the host then outlives a killed parent


def _remove_stale_folders():
    for folder in glob.glob(os.path.join(tempfile.gettempdir(), "lintelhost.*.*")):
        found = re.match(r"lintelhost\.(\d+)\.", os.path.basename(folder))
        if found and not os.path.exists("/proc/" + found.group(1)):
            shutil.rmtree(folder, ignore_errors=True)


class LocalHost:
    """lintelhost on a fresh directory, listening on a free port (`port`).

    `camera` is the text of the simulated camera's configuration ("[SimCamera]..."), or None
    for its defaults; `env` adds to the host's environment."""

    def __init__(self, camera=None, lintelhost=LINTELHOST, module=MODULE, env=None,
                 trace_level=None):
        _remove_stale_folders()
        # The host's folder alone in one of its own: a new camera folder is seeded from the
        # installations beside the host's, which must not be other hosts'.
        self._root = tempfile.mkdtemp(prefix="lintelhost.%d." % os.getpid())
        self.directory = os.path.join(self._root, "host")
        os.mkdir(self.directory)
        environment = dict(os.environ, **(env or {}))
        if camera is not None:
            ini = os.path.join(self.directory, "simcamera.ini")
            with open(ini, "w") as f:
                f.write(camera)
            environment["VYX_SIMCAMERA_INI"] = ini
        self._stderr = open(os.path.join(self.directory, "lintelhost.stderr"), "w+")
        command = [lintelhost, "--dir", self.directory, "--port", "0", "--module", module]
        if trace_level is not None:
            command += ["--trace-level", str(trace_level)]
        self.process = None
        try:
            self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self._stderr,
                                            env=environment, preexec_fn=_die_with_parent)
        except OSError as error:
            self.close()
            raise HostFailed("cannot start %s: %s" % (lintelhost, error)) from None
        first = self.process.stdout.readline().decode()
        if not first.startswith("lintelhost: listening on "):
            status = self.process.wait()
            said = "".join("  " + line for line in self.stderr().splitlines(True)[-12:])
            self.close()
            raise HostFailed("lintelhost did not start (exit status %d):\n%s" % (status, said))
        self.port = int(first.rsplit(":", 1)[1])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def stderr(self):
        """What the host wrote to its standard error so far."""
        self._stderr.flush()
        self._stderr.seek(0)
        return self._stderr.read()

    def stop(self, timeout=60):
        """Ends the host with SIGTERM, as a user would; its exit status."""
        status = None
        if self.process is not None:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGTERM)
                self.process.wait(timeout)
            status = self.process.returncode
        self.close()
        return status

    def close(self):
        """Ends the host if it still runs (SIGTERM, so that it removes its segments; SIGKILL
        when it does not end within 30 s) and removes its directory."""
        if self.process is not None:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGTERM)
                try:
                    self.process.wait(30)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
            self.process.stdout.close()
        if not self._stderr.closed:
            self._stderr.close()
        shutil.rmtree(self._root, ignore_errors=True)

"""Starts lintelhost as a separate process, as a user would, with the camera module on the
simulated camera, and talks to it over TCP.

The paths come from the environment that ctest sets: LINTELHOST (the program), CAMERA_MODULE
and CLOSED_MODULE (a module whose machine does not open)."""

import itertools
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from lintelclient import LintelClient, quote

LINTELHOST = os.environ.get("LINTELHOST", "")
CAMERA_MODULE = os.environ.get("CAMERA_MODULE", "")
CLOSED_MODULE = os.environ.get("CLOSED_MODULE", "")

# Generous bounds for anything the host does: sanitizer builds are slow.
TIMEOUT = 60

PROBESYSTEM = "Camera:1"
# A probe configuration that opens the camera's frame rate and gain.
PROBE_CONFIG = ("[General]\nChannels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                "shutter,framerate,light_intensity,light_trigger_mode\n"
                "[Default]\nAccess=D\nStep=1\nMin=0\nMax=1\n"
                "[imagewidth]\nAccess=R\n[imageheight]\nAccess=R\n"
                "[imageoffsetx]\nAccess=R\n[imageoffsety]\nAccess=R\n"
                "[gain]\nAccess=RW\nMin=0\nMax=24\nStep=0.1\n"
                "[shutter]\nAccess=RW\nMin=0.001\nMax=1000\nStep=0.001\n"
                "[framerate]\nAccess=RW\nMin=1\nMax=20000\nStep=1\n"
                "[light_intensity]\nMax=100\n[light_trigger_mode]\nMax=7\n")
AREA_CAMERA = ("[SimCamera]\nWidth=320\nHeight=240\nFrameRate=100\nFrameRateMax=2000\n"
               "Exposure=0.1\nExposureMin=0.001\n")


class HostDidNotStart(Exception):
    def __init__(self, status, stderr):
        super().__init__("lintelhost exited with status %s: %s" % (status, stderr.strip()))
        self.status = status
        self.stderr = stderr


class HostProcess:
    """lintelhost on a fresh directory (or `directory`), its simulated camera set by `camera`
    (a [SimCamera] text). `wrapper` goes before the command (a mount namespace, say)."""

    def __init__(self, module=CAMERA_MODULE, env=None, args=(), directory=None,
                 camera=AREA_CAMERA, wrapper=()):
        self._scratch = tempfile.mkdtemp(prefix="lintelhost-test-")
        self.directory = directory or os.path.join(self._scratch, "host")
        self.stderr_path = os.path.join(self._scratch, "stderr.txt")
        ini = os.path.join(self._scratch, "simcamera.ini")
        with open(ini, "w") as f:
            f.write(camera)
        environment = dict(os.environ, VYX_SIMCAMERA_INI=ini)
        environment.update(env or {})
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(
                [*wrapper, LINTELHOST, "--dir", self.directory, "--port", "0", "--module",
                 module, *args], stdout=subprocess.PIPE, stderr=stderr, env=environment)
        first = self.process.stdout.readline().decode()
        if not first.startswith("lintelhost: listening on 127.0.0.1:"):
            status = self.process.wait(TIMEOUT)
            text = self.stderr()
            self.cleanup()
            raise HostDidNotStart(status, text)
        self.port = int(first.rsplit(":", 1)[1])

    def client(self):
        return LintelClient(port=self.port, timeout=TIMEOUT)

    def stderr(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def status(self, key):
        """A value of /proc/PID/status in MiB (VmRSS, VmHWM)."""
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) / 1024.0
        raise KeyError(key)

    def sanitized(self):
        """Whether the host runs with a sanitizer's run-time library."""
        with open("/proc/%d/maps" % self.process.pid) as f:
            return any("libasan" in line or "libtsan" in line for line in f)

    def stop(self, sig=signal.SIGTERM):
        """Sends the signal and answers the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        status = self.process.wait(TIMEOUT)
        self.process.stdout.close()
        return status

    def cleanup(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(TIMEOUT)
        if not self.process.stdout.closed:
            self.process.stdout.close()
        shutil.rmtree(self._scratch, ignore_errors=True)


def start_host(test, **kwargs):
    """A HostProcess that the test cleans up."""
    host = HostProcess(**kwargs)
    test.addCleanup(host.cleanup)
    return host


def load_camera(test, client, fifo_bytes=16 << 20, fps=None, scandata="time trigger_count "
                "imageindex lock"):
    """Probesystem loaded, frame rate opened (and set), a fresh image FIFO selected; its name
    and the probesystem's id."""
    test.assertTrue(client.call("probesystem define " + PROBESYSTEM).ok)
    listed = client.call("probesystem list " + PROBESYSTEM)
    pid = max(int(listed.words(i)[1]) for i in range(len(listed.data)))
    test.assertTrue(client.call("probesystem load %s %d" % (PROBESYSTEM, pid)).ok)
    test.assertTrue(client.call("send probe.config " + quote(PROBE_CONFIG)).ok)
    if fps is not None:
        test.assertTrue(client.call("set framerate=%g" % fps).ok)
    name = unique_name("lhcam")
    if fifo_bytes:
        test.assertTrue(client.call("imagefifo create %s %d" % (name, fifo_bytes)).ok)
        test.assertTrue(client.call("imagefifo select " + name).ok)
    test.assertTrue(client.call("scandata " + scandata).ok)
    return name, pid


def wait_until(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


# For a sanitizer build: leak checking on for this lintelhost, whatever the suite's default.
LEAK_CHECK_ENV = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=1"}


def shm_names():
    """Segments in /dev/shm, less those named "<prefix>_<pid>_<n>[suffix]" by another living
    process: tests running beside this one create and remove theirs at any moment."""
    return {name for name in os.listdir("/dev/shm") if not _named_by_other_process(name)}


def _named_by_other_process(name):
    found = re.search(r"_(\d+)_\d+(?![0-9])", name)
    if not found or int(found.group(1)) == os.getpid():
        return False
    return os.path.exists("/proc/%s" % found.group(1))


def thread_switches(pid, name):
    """Voluntary context switches of the process's first thread called `name` (the threads it
    starts inherit its name)."""
    for task in sorted(os.listdir("/proc/%d/task" % pid), key=int):
        base = "/proc/%d/task/%s/" % (pid, task)
        try:
            with open(base + "comm") as f:
                if f.read().strip() != name:
                    continue
            with open(base + "status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        return int(line.split()[1])
        except FileNotFoundError:
            continue
    raise AssertionError("no thread " + name)


def unique_name(prefix):
    return "%s_%d_%d" % (prefix, os.getpid(), next(_counter))


_counter = itertools.count(1)

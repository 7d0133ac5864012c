"""Starts lintelhost as a separate process, as a user would, and talks to it over TCP.

The paths come from the environment that ctest sets: LINTELHOST (the program), FAKE_MODULE
(the test machine module) and CAMERA_MODULE (the camera module)."""

import os
import re
import shutil
import signal
import subprocess
import tempfile

from lintelclient import LintelClient

LINTELHOST = os.environ.get("LINTELHOST", "")
FAKE_MODULE = os.environ.get("FAKE_MODULE", "")
CAMERA_MODULE = os.environ.get("CAMERA_MODULE", "")

# Generous bounds for anything the host does: sanitizer builds are slow.
TIMEOUT = 60


class HostDidNotStart(Exception):
    def __init__(self, status, stderr):
        super().__init__("lintelhost exited with status %s: %s" % (status, stderr.strip()))
        self.status = status
        self.stderr = stderr


class HostProcess:
    def __init__(self, module, env=None, args=(), directory=None):
        # A fresh host folder alone in a folder of its own: the camera module seeds a new
        # camera folder from the installations beside the host's, which must not be other tests'.
        self._root = None if directory else tempfile.mkdtemp(prefix="lintelhost-test-")
        self.directory = directory or os.path.join(self._root, "host")
        os.makedirs(self.directory, exist_ok=True)
        self._own_directory = directory is None
        self.stderr_path = os.path.join(self.directory, "stderr.txt")
        environment = dict(os.environ)
        environment.update(env or {})
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(
                [LINTELHOST, "--dir", self.directory, "--port", "0", "--module", module,
                 *args], stdout=subprocess.PIPE, stderr=stderr, env=environment)
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

    def journal(self):
        """What the fake machine wrote about itself."""
        try:
            with open(os.path.join(self.directory, "fakemachine.log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

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
        if self._own_directory:
            shutil.rmtree(self._root, ignore_errors=True)


# For a sanitizer build: leak checking on for this lintelhost, whatever the suite's default.
LEAK_CHECK_ENV = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=1"}


def leak_check_unavailable(stderr):
    """LeakSanitizer needs process control that some sandboxes refuse; it then says so and
    exits non-zero without having checked anything."""
    return "LeakSanitizer has encountered a fatal error" in stderr


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
    """Voluntary context switches of the process's threads called `name`."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        base = "/proc/%d/task/%s/" % (pid, task)
        try:
            with open(base + "comm") as f:
                if f.read().strip() != name:
                    continue
            with open(base + "status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        total += int(line.split()[1])
        except FileNotFoundError:
            continue
    return total


def unique_name(prefix):
    return "%s_%d_%s" % (prefix, os.getpid(), next(_counter))


def _count():
    n = 0
    while True:
        n += 1
        yield str(n)


_counter = _count()

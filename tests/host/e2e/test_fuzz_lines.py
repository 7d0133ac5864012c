"""10,000 random and mutated request lines over TCP; the host must answer on, and end cleanly
(a crash or, in the sanitizer build, a memory error shows in the exit status)."""

import math
import threading
import unittest

from fuzzlines import fuzz_lines
from hostprocess import FAKE_MODULE, LEAK_CHECK_ENV, HostProcess, leak_check_unavailable


def hammer(host, lines):
    """Sends the lines on one connection while a thread reads what comes back; the number of
    ready lines received."""
    with host.client() as client:
        received = []

        def read():
            while True:
                line = client.read_line()
                if line is None:
                    return
                received.append(line)
                if received[-2:] == ['9998\tdata "END-OF-FUZZ"', "9998\tready"]:
                    return

        reader = threading.Thread(target=read)
        reader.start()
        for line in lines:
            client.send_raw(line + b"\n")
        client.send_raw(b'9999 send fake.config "END-OF-FUZZ"\n9998 receive fake.config\n')
        reader.join()
        return received


class FuzzLinesTest(unittest.TestCase):
    def test_the_host_survives_fuzzed_request_lines(self):
        host = HostProcess(FAKE_MODULE, env=LEAK_CHECK_ENV)
        self.addCleanup(host.cleanup)
        received = hammer(host, fuzz_lines(10000))
        self.assertEqual(received[-1], "9998\tready")
        self.assertTrue(all(len(line) >= 5 and line[:4].isdigit() and line[4] == "\t"
                            for line in received))
        with host.client() as c:
            self.assertTrue(math.isfinite(c.call("get time").numbers()[0]))
        status = host.stop()
        if status != 0 and leak_check_unavailable(host.stderr()):
            return  # everything but the leak check passed
        self.assertEqual(status, 0, host.stderr())


if __name__ == "__main__":
    unittest.main()

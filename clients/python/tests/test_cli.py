import contextlib
import io
import types
import unittest
from unittest import mock

from lintelclient import cli
from tests.test_protocol import ScriptedHost


class CliTest(unittest.TestCase):
    def test_record_runs_its_own_module_and_says_when_it_is_missing(self):
        missing = ModuleNotFoundError("no", name="lintelclient.recording")
        with mock.patch.object(cli.importlib, "import_module", side_effect=missing):
            with self.assertRaisesRegex(SystemExit, "record command is not installed here "
                                        r"\(lintelclient/recording.py is missing\)"):
                cli.main(["record", "--seconds", "1"])
        recorder = types.SimpleNamespace(main=mock.Mock(return_value=3))
        with mock.patch.object(cli.importlib, "import_module", return_value=recorder):
            self.assertEqual(cli.main(["record", "--seconds", "1", "DIR"]), 3)
        recorder.main.assert_called_once_with(["--seconds", "1", "DIR"])

    def test_set_refuses_an_axis_the_machine_would_ignore(self):
        host = ScriptedHost(['0001\tdata "gain" 16 1 1 1 1\r\n0001\tready\r\n'])
        self.addCleanup(host.close)
        said = io.StringIO()
        with contextlib.redirect_stderr(said):
            status = cli.main(["set", "gain=3", "--port", str(host.port)])
        self.assertEqual((status, host.received), (1, ["1 axes"]))
        self.assertIn("gain is not writable now (flags 16: not available)", said.getvalue())

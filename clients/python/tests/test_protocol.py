import socket
import threading
import unittest

from lintelclient.protocol import LintelClient, quote, split_words


class TextTest(unittest.TestCase):
    def test_quote_and_split_round_trip(self):
        for text in ["", "plain", "two words", 'a "quoted" word', "back\\slash",
                     "[Camera]\nzoom=2\r\n\tx"]:
            with self.subTest(text=text):
                self.assertEqual(split_words("data " + quote(text) + " 7"), ["data", text, "7"])

    def test_split_refuses_an_open_quote(self):
        with self.assertRaises(ValueError):
            split_words('"never closed')


class ScriptedHost:
    """A one-connection server that answers each request line with scripted lines."""

    def __init__(self, answers):
        self.answers = answers
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.received = []
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        conn, _ = self.server.accept()
        with conn:
            buffer = b""
            while len(self.received) < len(self.answers):
                chunk = conn.recv(4096)
                if not chunk:
                    return
                buffer += chunk
                while b"\n" in buffer:
                    line, buffer = buffer.split(b"\n", 1)
                    self.received.append(line.decode())
                    conn.sendall(self.answers[len(self.received) - 1].encode())

    def close(self):
        self.thread.join(5)
        self.server.close()


class ClientTest(unittest.TestCase):
    def test_interleaved_lines_reach_their_transactions(self):
        host = ScriptedHost([
            "",  # the scan's lines come later, mixed with the get's
            "0001\tdata 1 2\r\n0000\tevent \"measurement begin\"\r\n0002\tdata 5\r\n"
            "0002\tready\r\n0001\tdata 3 4\r\n0001\terror \"aborted\"\r\n0001\tready\r\n",
        ])
        with LintelClient(port=host.port, timeout=5) as client:
            scan = client.start("scan time+=1")
            get = client.call("get x")
            self.assertEqual(get.data, ["5"])
            self.assertTrue(get.ok)
            self.assertEqual(list(scan.lines()), ["data 1 2", "data 3 4", 'error "aborted"'])
            self.assertEqual(scan.reply.errors, ["aborted"])
            self.assertFalse(scan.reply.ok)
            self.assertEqual(client.events(), ["measurement begin"])
        self.assertEqual(host.received, ["1 scan time+=1", "2 get x"])
        host.close()

    def test_numbers_and_words_of_data_lines(self):
        host = ScriptedHost(['0001\tdata "cam" 3 nan -2.5\r\n0001\twarning "x"\r\n0001\tready\r\n'])
        with LintelClient(port=host.port, timeout=5) as client:
            reply = client.call("probesystem list")
            self.assertEqual(reply.words(), ["cam", "3", "nan", "-2.5"])
            self.assertEqual(reply.warnings, ["x"])
            self.assertEqual(float(reply.words()[3]), -2.5)
        host.close()

    def test_a_closed_connection_is_an_error_not_a_hang(self):
        host = ScriptedHost([""])
        with LintelClient(port=host.port, timeout=5) as client:
            with self.assertRaises(ConnectionError):
                client.call("get x")
        host.close()

"""The line protocol of lintelhost (host/lintelhost/PROTOCOL.md).

A request is "TID KEYWORD ARGUMENTS"; its reply lines start with the TID, four digits and a
tab, and end with the line "TID\tready". Lines starting with "0000" belong to no transaction
(events, and errors the host finds before it knows a transaction number); they are collected
in `LintelClient.unnumbered` in the order they came. After an error line the host may add one
"info" line with the module's reason for it; `Reply.reasons` pairs them up.

A scan answers one data line per image, hundreds of thousands a second for a line camera, so a
transaction started with `stream=True` gets its data lines in blocks of text as they were
received (`Transaction.data_blocks`), to be split at once, instead of line by line.
"""

import collections
import socket
import time

_ESCAPES = {"\\": "\\\\", '"': '\\"', "\n": "\\n", "\r": "\\r", "\t": "\\t"}
_UNESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}


def quote(text):
    """A text argument: double-quoted, with backslash, quote, LF, CR and tab escaped."""
    return '"' + "".join(_ESCAPES.get(c, c) for c in text) + '"'


def split_words(text):
    """Splits the words of a line: bare words and quoted texts, unescaped."""
    words, i, n = [], 0, len(text)
    while i < n:
        if text[i] in " \t":
            i += 1
            continue
        if text[i] != '"':
            j = i
            while j < n and text[j] not in " \t":
                j += 1
            words.append(text[i:j])
            i = j
            continue
        out, i = [], i + 1
        while i < n and text[i] != '"':
            if text[i] == "\\" and i + 1 < n:
                out.append(_UNESCAPES.get(text[i + 1], text[i + 1]))
                i += 2
            else:
                out.append(text[i])
                i += 1
        if i >= n:
            raise ValueError("unterminated quoted text: " + text)
        words.append("".join(out))
        i += 1
    return words


def parse_numbers(payload):
    """The numbers of a data line's payload ("data 1 2.5 nan" -> [1.0, 2.5, nan])."""
    return [float(word) for word in payload.split()[1:]]


class LintelError(Exception):
    """A request that lintelhost answered with an error.

    `command` is the request, `errors` the texts of its error lines, `reason` the host's
    explanation of the first error that has one (its info line), or None when the host gave
    none."""

    def __init__(self, command, errors, reason=None):
        self.command = command
        self.errors = list(errors)
        self.reason = reason
        text = "%s: %s" % (command, "; ".join(self.errors) or "no answer")
        super().__init__(text + (" (%s)" % reason if reason else ""))


def _text_of(payload, keyword):
    return split_words(payload[len(keyword) + 1:])[0]


class Reply:
    """Everything one transaction answered."""

    def __init__(self, tid, command=""):
        self.tid = tid
        self.command = command
        self.lines = []  # every payload, in order ("data 1 2", 'error "..."', ...)
        self.done = False

    @property
    def data(self):
        """The data lines' payloads without "data "."""
        return [line[5:] for line in self.lines if line.startswith("data")]

    @property
    def errors(self):
        """The texts of the error lines."""
        return [_text_of(line, "error") for line in self.lines if line.startswith("error ")]

    @property
    def warnings(self):
        """The texts of the warning lines."""
        return [_text_of(line, "warning") for line in self.lines if line.startswith("warning ")]

    @property
    def reasons(self):
        """For each error line, the text of the info line right after it, or None."""
        found = []
        for i, line in enumerate(self.lines):
            if line.startswith("error "):
                after = self.lines[i + 1] if i + 1 < len(self.lines) else ""
                found.append(_text_of(after, "info") if after.startswith("info ") else None)
        return found

    @property
    def info(self):
        """The reasons the host gives after an error (its "info" lines)."""
        return [split_words(line[5:])[0] for line in self.lines if line.startswith("info ")]

    @property
    def ok(self):
        """True once the reply is complete and carries no error."""
        return self.done and not self.errors

    def check(self):
        """The reply itself; raises LintelError when it carries an error or is incomplete."""
        if not self.ok:
            reason = next((r for r in self.reasons if r), None)
            raise LintelError(self.command, self.errors, reason)
        return self

    def numbers(self, index=0):
        """The numbers of data line `index`."""
        return [float(word) for word in self.data[index].split()]

    def words(self, index=0):
        """The words (texts unquoted) of data line `index`."""
        return split_words(self.data[index])


class Transaction:
    """A request in flight; its lines arrive as the client reads.

    With `stream` set, data lines do not go into `reply.lines`: their items (the text after
    "data ") are kept in blocks, one block per stretch of lines received together, for
    `data_blocks`. Every other line (errors, warnings, infos) goes into the reply as usual."""

    def __init__(self, client, tid, command, stream=False):
        self.client = client
        self.tid = tid
        self.command = command
        self.stream = stream
        self.reply = Reply(tid, command)
        self._unread = collections.deque()  # payloads not yet handed out by lines()
        self._blocks = collections.deque()  # stream: data items, lines joined by CR LF

    @property
    def done(self):
        """True once the ready line came."""
        return self.reply.done

    def _add(self, payload):
        if payload == "ready":
            self.reply.done = True
        elif self.stream and payload.startswith("data"):
            self._blocks.append(payload[5:])
        else:
            self.reply.lines.append(payload)
            self._unread.append(payload)

    def wait(self, timeout=None):
        """Reads until the ready line; the whole reply. Raises TimeoutError."""
        deadline = self.client._deadline(timeout)
        while not self.done:
            self.client._pump(deadline)
        return self.reply

    def lines(self, timeout=None):
        """Yields each payload as it arrives, until the ready line. `timeout` bounds the wait
        for each next line."""
        while True:
            if self._unread:
                yield self._unread.popleft()
                continue
            if self.done:
                return
            self.client._pump(self.client._deadline(timeout))

    def data_blocks(self, timeout=None):
        """Stream: yields the data items as they arrive, a block of lines at a time ("1 2\r\n3
        4"), until the ready line. `timeout` bounds the wait for each next block."""
        while True:
            if self._blocks:
                yield self._blocks.popleft()
                continue
            if self.done:
                return
            self.client._pump(self.client._deadline(timeout))


class LintelClient:
    """One connection to lintelhost."""

    def __init__(self, host="127.0.0.1", port=4711, timeout=30.0):
        self.timeout = timeout
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.unnumbered = []  # payloads of "0000" lines
        self._inbox = bytearray(1 << 18)
        self._partial = b""  # the start of a line whose end has not come yet
        self._raw = collections.deque()  # complete lines, when read_line is used
        self._running = {}
        self._stream = None  # the newest streaming transaction, whose data lines come fast
        self._next_tid = 1
        self.closed = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Closes the connection; the host aborts what still runs."""
        if not self.closed:
            self.closed = True
            self.sock.close()

    # ---- requests ----

    def start(self, command, stream=False):
        """Sends "TID command" with a free transaction number; the Transaction. With
        `stream`, its data lines come through `Transaction.data_blocks`."""
        for _ in range(9999):
            tid = self._next_tid
            self._next_tid = tid % 9999 + 1
            if tid not in self._running:
                break
        else:
            raise RuntimeError("every transaction number is in use")
        transaction = Transaction(self, tid, command, stream)
        self._running[tid] = transaction
        if stream:
            self._stream = transaction
        self.send_raw(("%d %s\n" % (tid, command)).encode())
        return transaction

    def call(self, command, timeout=None, check=False):
        """Sends a request and waits for its whole reply. With `check`, an error reply raises
        LintelError."""
        reply = self.start(command).wait(timeout)
        return reply.check() if check else reply

    def events(self):
        """The texts of the event lines received so far, in order."""
        return [_text_of(line, "event") for line in self.unnumbered if line.startswith("event ")]

    def wait_for_event(self, text, timeout=None):
        """Reads until the event `text` has come. Raises TimeoutError."""
        deadline = self._deadline(timeout)
        while text not in self.events():
            self._pump(deadline)

    # ---- raw access, for tests of the protocol itself ----

    def send_raw(self, data):
        """Sends bytes as they are."""
        self.sock.sendall(data)

    def read_line(self, timeout=None):
        """The next line as the host sent it (without CR LF), bypassing the transaction
        bookkeeping; None when the host closed the connection."""
        deadline = self._deadline(timeout)
        while not self._raw:
            if not self._receive(deadline, raw=True):
                return None
        return self._raw.popleft()

    # ---- reading ----

    def _deadline(self, timeout):
        return time.monotonic() + (self.timeout if timeout is None else timeout)

    def _pump(self, deadline):
        if not self._receive(deadline, raw=False):
            raise ConnectionError("lintelhost closed the connection")

    def _receive(self, deadline, raw):
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("no reply from lintelhost in time")
        self.sock.settimeout(left)
        try:
            count = self.sock.recv_into(self._inbox)
        except socket.timeout:
            raise TimeoutError("no reply from lintelhost in time") from None
        if not count:
            return False
        chunk = self._inbox[:count]
        end = chunk.rfind(b"\r\n")
        if end < 0:
            self._partial += chunk
            return True
        text = (self._partial + chunk[:end]).decode("utf-8", "replace")
        self._partial = bytes(chunk[end + 2:])
        if raw:
            self._raw.extend(text.split("\r\n"))
        else:
            self._dispatch_text(text)
        return True

    def _dispatch_text(self, text):
        """Hands out complete lines (CR LF between them). The streaming transaction's data
        lines go to it in blocks: a whole chunk of them at once when nothing else is mixed in
        (its prefix then starts every line, since a tab appears in no line but after the
        number), else each run of them."""
        stream = self._stream
        if stream is None or stream.done:
            for line in text.split("\r\n"):
                self._dispatch(line)
            return
        prefix = "%04d\tdata " % stream.tid
        if text.startswith(prefix) and text.count(prefix) == text.count("\r\n") + 1:
            stream._blocks.append(text.replace(prefix, ""))
            return
        skip, run = len(prefix), []
        for line in text.split("\r\n"):
            if line.startswith(prefix):
                run.append(line[skip:])
                continue
            if run:
                stream._blocks.append("\r\n".join(run))
                run = []
            self._dispatch(line)
        if run:
            stream._blocks.append("\r\n".join(run))

    def _dispatch(self, text):
        prefix, _, payload = text.partition("\t")
        if prefix == "0000" or not prefix.isdigit():
            self.unnumbered.append(payload)
            return
        transaction = self._running.get(int(prefix))
        if transaction is None:
            self.unnumbered.append(payload)
            return
        transaction._add(payload)
        if transaction.done:
            del self._running[transaction.tid]
            if transaction is self._stream:
                self._stream = None

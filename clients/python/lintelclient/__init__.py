"""Client side of lintelhost: the line protocol, the image FIFOs and preview memories in
shared memory, and a PNG writer. Standard library only."""

from lintelclient.imagefifo import ImageFifo
from lintelclient.png import write_png
from lintelclient.previewmemory import PreviewMemory
from lintelclient.protocol import LintelClient, Reply, Transaction, quote, split_words

__all__ = ["ImageFifo", "LintelClient", "PreviewMemory", "Reply", "Transaction", "quote",
           "split_words", "write_png"]

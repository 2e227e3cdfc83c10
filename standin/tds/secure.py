"""TLS as TDS carries it: the handshake inside PRELOGIN packets, then TLS records straight on the connection
with the TDS packets inside them. Python's ssl works on memory buffers here (SSLObject) because the
handshake's records are wrapped in TDS packets that an SSLSocket could not see."""

import ssl
import struct
import threading

from . import protocol as p


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    # FreeTDS 1.3 over GnuTLS stalls in a TLS 1.3 handshake wrapped in PRELOGIN packets.
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


class TlsChannel:
    """recv() and sendall() of plain TDS bytes over TLS on sock; a reader thread and a writer may use it at
    once, the SSL object itself only ever under the lock."""

    def __init__(self, sock, context):
        self.sock = sock
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.lock = threading.Lock()
        self.plain = bytearray()
        self.closed = False

    def handshake(self, spid):
        """Runs the handshake inside PRELOGIN packets; raises ssl.SSLError when the client gives up (it sends
        an alert when it does not trust the certificate)."""
        while True:
            try:
                self.tls.do_handshake()
                done = True
            except ssl.SSLWantReadError:
                done = False
            data = self.outgoing.read()
            if data:
                self._send_prelogin(data, spid)
            if done:
                return
            _, _, payload = p.read_message(self.sock)
            self.incoming.write(payload)

    def _send_prelogin(self, data, spid):
        room = 4096 - 8
        chunks = [data[i:i + room] for i in range(0, len(data), room)]
        out = bytearray()
        for number, chunk in enumerate(chunks, 1):
            status = p.STATUS_EOM if number == len(chunks) else 0
            out += struct.pack('>BBHHBB', p.PRELOGIN, status, len(chunk) + 8, spid & 0xFFFF, number & 0xFF, 0)
            out += chunk
        self.sock.sendall(bytes(out))

    @property
    def version(self):
        return self.tls.version()

    def recv(self, n):
        while not self.plain:
            with self.lock:
                try:
                    data = self.tls.read(65536)
                    if not data:
                        return b''
                    self.plain += data
                except ssl.SSLWantReadError:
                    pass
                except ssl.SSLZeroReturnError:
                    return b''
                pending = self.outgoing.read()
                if pending:
                    self.sock.sendall(pending)
            if self.plain:
                break
            raw = self.sock.recv(65536)
            if not raw:
                return b''
            with self.lock:
                self.incoming.write(raw)
        chunk = bytes(self.plain[:n])
        del self.plain[:n]
        return chunk

    def sendall(self, data):
        with self.lock:
            self.tls.write(data)
            self.sock.sendall(self.outgoing.read())

    def shutdown(self, how):
        self.sock.shutdown(how)

    def close(self):
        self.sock.close()

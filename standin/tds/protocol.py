"""TDS 7.2-7.4 framing, tokens and data types: what the stand-in reads from clients and writes back."""

import datetime
import re
import socket
import struct
import uuid

# Packet types.
SQL_BATCH = 0x01
RPC = 0x03
REPLY = 0x04
ATTENTION = 0x06
BULK_LOAD = 0x07
TRANSACTION_MANAGER = 0x0E
LOGIN7 = 0x10
SSPI = 0x11
PRELOGIN = 0x12

STATUS_EOM = 0x01
STATUS_RESET = 0x08 | 0x10

# Tokens.
COLMETADATA = 0x81
ERROR = 0xAA
INFO = 0xAB
RETURNVALUE = 0xAC
LOGINACK = 0xAD
FEATUREEXTACK = 0xAE
ROW = 0xD1
RETURNSTATUS = 0x79
ENVCHANGE = 0xE3
DONE = 0xFD
DONEPROC = 0xFE
DONEINPROC = 0xFF

DONE_FINAL = 0x00
DONE_MORE = 0x01
DONE_ERROR = 0x02
DONE_INXACT = 0x04
DONE_COUNT = 0x10
DONE_ATTN = 0x20

# DONE's current command, as SQL Server reports it.
CMD_SELECT = 0xC1
CMD_INSERT = 0xC3
CMD_DELETE = 0xC4
CMD_UPDATE = 0xC5
CMD_EXECUTE = 0xE0
CMD_OTHER = 0x00

TDS72 = 0x72090002
TDS74 = 0x74000004

# SQL_Latin1_General_CP1_CI_AS: LCID 0x0409, ignore case, kana and width; sort order 52.
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])

MAX_MESSAGE = 64 * 1024 * 1024


class ProtocolError(Exception):
    pass


class ConnectionClosed(Exception):
    pass


def recv_exact(sock, n):
    chunks = []
    while n:
        chunk = sock.recv(n)
        if not chunk:
            raise ConnectionClosed()
        chunks.append(chunk)
        n -= len(chunk)
    return b''.join(chunks)


def read_message(sock):
    """One client message: (packet type, status of its first packet, payload)."""
    payload = []
    size = 0
    first_type = first_status = None
    while True:
        header = recv_exact(sock, 8)
        kind, status, length = struct.unpack('>BBH', header[:4])
        if length < 8:
            raise ProtocolError('packet length %d' % length)
        body = recv_exact(sock, length - 8)
        if first_type is None:
            first_type, first_status = kind, status
        elif kind == ATTENTION:
            # A cancel never arrives inside a message; treat it as one anyway.
            return kind, status, b''
        elif kind != first_type:
            raise ProtocolError('packet type %d inside a message of type %d' % (kind, first_type))
        payload.append(body)
        size += len(body)
        if size > MAX_MESSAGE:
            raise ProtocolError('message larger than %d bytes' % MAX_MESSAGE)
        if status & STATUS_EOM:
            return first_type, first_status, b''.join(payload)


class MessageWriter:
    """Writes one reply message, cut into packets of the negotiated size as it grows."""

    def __init__(self, sock, lock, packet_size, spid, kind=REPLY):
        self.sock = sock
        self.lock = lock
        self.packet_size = packet_size
        self.spid = spid
        self.kind = kind
        self.buffer = bytearray()
        self.packet_id = 1
        self.ended = False

    def write(self, data):
        self.buffer += data
        room = self.packet_size - 8
        while len(self.buffer) > room:
            self._send(bytes(self.buffer[:room]), 0)
            del self.buffer[:room]

    def end(self):
        if not self.ended:
            self.ended = True
            self._send(bytes(self.buffer), STATUS_EOM)
            self.buffer.clear()

    def _send(self, data, status):
        header = struct.pack('>BBHHBB', self.kind, status, len(data) + 8, self.spid & 0xFFFF,
                             self.packet_id & 0xFF, 0)
        self.packet_id += 1
        with self.lock:
            self.sock.sendall(header + data)


class Reader:
    def __init__(self, data, pos=0):
        self.data = data
        self.pos = pos

    def left(self):
        return len(self.data) - self.pos

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise ProtocolError('message ends %d bytes early' % (self.pos + n - len(self.data)))
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def peek(self):
        if self.pos >= len(self.data):
            return None
        return self.data[self.pos]

    def unpack(self, fmt):
        size = struct.calcsize(fmt)
        values = struct.unpack(fmt, self.take(size))
        return values[0] if len(values) == 1 else values

    def b_varchar(self):
        return self.take(self.u8() * 2).decode('utf-16-le', 'replace')

    def us_varchar(self):
        return self.take(self.unpack('<H') * 2).decode('utf-16-le', 'replace')

    def skip_all_headers(self):
        total = self.unpack('<I')
        if total < 4 or total - 4 > self.left():
            raise ProtocolError('ALL_HEADERS length %d' % total)
        self.take(total - 4)


# --- building tokens ---------------------------------------------------------------------------------

def utf16(text):
    return text.encode('utf-16-le', 'surrogatepass')


def b_varchar(text):
    data = utf16(text)
    if len(data) // 2 > 255:
        data = data[:510]
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = utf16(text)[:131070]
    return struct.pack('<H', len(data) // 2) + data


def message(token, number, state, severity, text, server, procedure='', line=1):
    body = (struct.pack('<iBB', number, state, severity) + us_varchar(text) + b_varchar(server)
            + b_varchar(procedure) + struct.pack('<i', line))
    return bytes([token]) + struct.pack('<H', len(body)) + body


def envchange(kind, new, old):
    if isinstance(new, str):
        body = bytes([kind]) + b_varchar(new) + b_varchar(old)
    else:
        body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
    return bytes([ENVCHANGE]) + struct.pack('<H', len(body)) + body


def loginack(tds_version, program, version):
    major, minor, build = version
    body = (bytes([1]) + struct.pack('>I', tds_version) + b_varchar(program)
            + bytes([major, minor, build >> 8, build & 0xFF]))
    return bytes([LOGINACK]) + struct.pack('<H', len(body)) + body


def done(token, status, count=0, command=CMD_OTHER):
    return struct.pack('<BHHQ', token, status, command, max(count, 0))


def returnstatus(value):
    return struct.pack('<Bi', RETURNSTATUS, value)


def returnvalue(ordinal, name, column_type, value):
    return (struct.pack('<BH', RETURNVALUE, ordinal) + b_varchar(name) + bytes([0x01])
            + struct.pack('<IH', 0, 0x0001) + column_type.type_info() + column_type.encode(value))


# --- column types --------------------------------------------------------------------------------------

class IntN:
    name = 'int'

    def __init__(self, size=4):
        self.size = size
        if size == 8:
            self.name = 'bigint'

    def type_info(self):
        return bytes([0x26, self.size])

    def encode(self, value):
        if value is None:
            return b'\x00'
        return bytes([self.size]) + int(value).to_bytes(self.size, 'little', signed=True)


class BitN:
    name = 'bit'

    def type_info(self):
        return b'\x68\x01'

    def encode(self, value):
        return b'\x00' if value is None else bytes([1, 1 if value else 0])


class FltN:
    name = 'float'

    def type_info(self):
        return b'\x6D\x08'

    def encode(self, value):
        return b'\x00' if value is None else b'\x08' + struct.pack('<d', float(value))


GUID_TEXT = re.compile(r'^\{?[0-9A-Fa-f]{8}-(?:[0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}\}?$')


class Guid:
    name = 'uniqueidentifier'

    def type_info(self):
        return b'\x24\x10'

    def encode(self, value):
        if value is None:
            return b'\x00'
        return b'\x10' + uuid.UUID(str(value)).bytes_le


class NVarChar:
    """nvarchar(n); n above 4000 characters is nvarchar(max), sent in PLP chunks."""

    def __init__(self, chars=4000):
        self.chars = chars
        self.plp = chars > 4000
        self.name = 'nvarchar(max)' if self.plp else 'nvarchar(%d)' % chars

    def type_info(self):
        return bytes([0xE7]) + struct.pack('<H', 0xFFFF if self.plp else self.chars * 2) + COLLATION

    def encode(self, value):
        if value is None:
            return b'\xFF' * (8 if self.plp else 2)
        data = utf16(value if isinstance(value, str) else text_of(value))
        return plp(data) if self.plp else struct.pack('<H', len(data)) + data


class VarBinary:
    def __init__(self, size=8000):
        self.size = size
        self.plp = size > 8000
        self.name = 'varbinary(max)' if self.plp else 'varbinary(%d)' % size

    def type_info(self):
        return bytes([0xA5]) + struct.pack('<H', 0xFFFF if self.plp else self.size)

    def encode(self, value):
        if value is None:
            return b'\xFF' * (8 if self.plp else 2)
        data = bytes(value)
        return plp(data) if self.plp else struct.pack('<H', len(data)) + data


def plp(data):
    out = struct.pack('<Q', len(data))
    if data:
        out += struct.pack('<I', len(data)) + data
    return out + struct.pack('<I', 0)


def text_of(value):
    if isinstance(value, float) and value.is_integer():
        return repr(value)
    if isinstance(value, bytes):
        return value.hex()
    return str(value)


def utf16_length(text):
    return len(utf16(text)) // 2


def colmetadata(columns):
    out = bytearray([COLMETADATA]) + struct.pack('<H', len(columns))
    for name, column_type in columns:
        out += struct.pack('<IH', 0, 0x0001 | 0x0008) + column_type.type_info() + b_varchar(name)
    return bytes(out)


def row(types, values):
    out = bytearray([ROW])
    for column_type, value in zip(types, values):
        out += column_type.encode(value)
    return bytes(out)


# --- reading parameter values ----------------------------------------------------------------------------

FIXED = {0x1F: ('null', 0), 0x30: ('tinyint', 1), 0x32: ('bit', 1), 0x34: ('smallint', 2),
         0x38: ('int', 4), 0x7F: ('bigint', 8), 0x3B: ('real', 4), 0x3E: ('float', 8),
         0x3C: ('money', 8), 0x7A: ('smallmoney', 4), 0x3D: ('datetime', 8), 0x3A: ('smalldatetime', 4)}
BYTELEN = {0x24: 'uniqueidentifier', 0x26: 'intn', 0x68: 'bitn', 0x6D: 'floatn', 0x6E: 'moneyn',
           0x6F: 'datetimen', 0x6A: 'decimal', 0x6C: 'numeric', 0x37: 'decimal', 0x3F: 'numeric',
           0x25: 'varbinary', 0x2D: 'binary', 0x27: 'varchar', 0x2F: 'char'}
USHORTLEN = {0xA5: 'varbinary', 0xA7: 'varchar', 0xAD: 'binary', 0xAF: 'char', 0xE7: 'nvarchar',
             0xEF: 'nchar'}
LONGLEN = {0x22: 'image', 0x23: 'text', 0x63: 'ntext'}
CHARACTER = {0xA7, 0xAF, 0xE7, 0xEF, 0x23, 0x63}
TIMES = {0x28: 'date', 0x29: 'time', 0x2A: 'datetime2', 0x2B: 'datetimeoffset'}

EPOCH_1900 = datetime.datetime(1900, 1, 1)


class Param:
    def __init__(self, name, status, type_name, value):
        self.name = name
        self.status = status
        self.type_name = type_name
        self.value = value

    @property
    def output(self):
        return bool(self.status & 0x01)

    def __repr__(self):
        shown = self.value
        if isinstance(shown, str) and len(shown) > 200:
            shown = shown[:200] + '...'
        return '%s %s=%r' % (self.name or '(unnamed)', self.type_name, shown)


def read_param(r):
    name = r.b_varchar()
    status = r.u8()
    type_name, value = read_typed_value(r)
    return Param(name, status, type_name, value)


def code_page(collation):
    if collation and len(collation) == 5 and collation[3] & 0x04:  # UTF-8 collation (TDS 7.4 and later)
        return 'utf-8'
    return 'cp1252'


def read_typed_value(r):
    t = r.u8()
    if t in FIXED:
        name, size = FIXED[t]
        return name, fixed_value(t, r.take(size))
    if t in BYTELEN:
        name = BYTELEN[t]
        r.u8()  # maximum length
        scale = 0
        if t in (0x6A, 0x6C, 0x37, 0x3F):
            r.u8()  # precision
            scale = r.u8()
        size = r.u8()
        if size == 0 and t not in (0x27, 0x2F, 0x25, 0x2D):
            return name, None
        data = r.take(size)
        return name, bytelen_value(t, data, scale)
    if t in TIMES:
        scale = r.u8() if t != 0x28 else 0
        size = r.u8()
        if size == 0:
            return TIMES[t], None
        return TIMES[t], time_value(t, r.take(size), scale)
    if t in USHORTLEN:
        name = USHORTLEN[t]
        maximum = r.unpack('<H')
        collation = r.take(5) if t in CHARACTER else None
        if maximum == 0xFFFF:
            data = read_plp(r)
            name += '(max)'
        else:
            size = r.unpack('<H')
            data = None if size == 0xFFFF else r.take(size)
        return name, character_value(t, data, collation)
    if t in LONGLEN:
        name = LONGLEN[t]
        r.unpack('<I')
        collation = r.take(5) if t in CHARACTER else None
        size = r.unpack('<I')
        data = None if size == 0xFFFFFFFF else r.take(size)
        return name, character_value(t, data, collation)
    raise ProtocolError('parameter of TDS type 0x%02X' % t)


def read_plp(r):
    total = r.unpack('<Q')
    if total == 0xFFFFFFFFFFFFFFFF:
        return None
    chunks = []
    while True:
        size = r.unpack('<I')
        if size == 0:
            break
        chunks.append(r.take(size))
    return b''.join(chunks)


def character_value(t, data, collation):
    if data is None:
        return None
    if t in (0xE7, 0xEF, 0x63):
        return data.decode('utf-16-le', 'replace')
    if t in (0xA7, 0xAF, 0x23, 0x27, 0x2F):
        return data.decode(code_page(collation), 'replace')
    return bytes(data)


def fixed_value(t, data):
    if t == 0x1F:
        return None
    if t in (0x30, 0x32):
        return data[0]
    if t == 0x34:
        return struct.unpack('<h', data)[0]
    if t == 0x38:
        return struct.unpack('<i', data)[0]
    if t == 0x7F:
        return struct.unpack('<q', data)[0]
    if t == 0x3B:
        return struct.unpack('<f', data)[0]
    if t == 0x3E:
        return struct.unpack('<d', data)[0]
    return bytelen_value({0x3C: 0x6E, 0x7A: 0x6E, 0x3D: 0x6F, 0x3A: 0x6F}[t], data, 0)


def bytelen_value(t, data, scale):
    if t == 0x24:
        return '{%s}' % str(uuid.UUID(bytes_le=bytes(data))).upper()
    if t == 0x26:
        return int.from_bytes(data, 'little', signed=True)
    if t == 0x68:
        return 1 if data[0] else 0
    if t == 0x6D:
        return struct.unpack('<f' if len(data) == 4 else '<d', data)[0]
    if t == 0x6E:
        if len(data) == 4:
            cents = struct.unpack('<i', data)[0]
        else:
            high, low = struct.unpack('<iI', data)
            cents = (high << 32) | low
        return cents / 10000
    if t == 0x6F:
        if len(data) == 4:
            days, minutes = struct.unpack('<HH', data)
            moment = EPOCH_1900 + datetime.timedelta(days=days, minutes=minutes)
        else:
            days, ticks = struct.unpack('<iI', data)
            moment = EPOCH_1900 + datetime.timedelta(days=days, milliseconds=round(ticks * 10 / 3))
        return moment.isoformat(sep=' ', timespec='milliseconds')
    if t in (0x6A, 0x6C, 0x37, 0x3F):
        sign = 1 if data[0] else -1
        magnitude = int.from_bytes(data[1:], 'little')
        return sign * magnitude if scale == 0 else sign * magnitude / (10 ** scale)
    if t in (0x27, 0x2F):
        return bytes(data).decode('cp1252', 'replace')
    return bytes(data)


def time_value(t, data, scale):
    def clock(raw):
        ticks = int.from_bytes(raw, 'little')
        micro = ticks * 10 ** 6 // 10 ** scale
        return datetime.time(micro // 3600000000, micro // 60000000 % 60, micro // 1000000 % 60,
                             micro % 1000000)

    def day(raw):
        return datetime.date(1, 1, 1) + datetime.timedelta(days=int.from_bytes(raw, 'little'))

    if t == 0x28:
        return day(data).isoformat()
    size = {0: 3, 1: 3, 2: 3, 3: 4, 4: 4, 5: 5, 6: 5, 7: 5}.get(scale, 5)
    if t == 0x29:
        return clock(data[:size]).isoformat()
    moment = datetime.datetime.combine(day(data[size:size + 3]), clock(data[:size]))
    if t == 0x2B:
        offset = struct.unpack('<h', data[size + 3:size + 5])[0]
        zone = datetime.timezone(datetime.timedelta(minutes=offset))
        return (moment.replace(tzinfo=datetime.timezone.utc).astimezone(zone)).isoformat(sep=' ')
    return moment.isoformat(sep=' ')


def free_port_socket(host, port):
    family = socket.AF_INET6 if ':' in host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, port))
    listener.listen(32)
    return listener

"""The server's half of an NTLMv2 sign-in: the CHALLENGE it sends and the check of the AUTHENTICATE's
response against a configured account. MD4 is written out here: OpenSSL 3 keeps it in its legacy provider,
which Debian does not load by default, so hashlib cannot be counted on for it."""

import hmac
import os
import struct
import time

SIGNATURE = b'NTLMSSP\0'
NEGOTIATE, CHALLENGE, AUTHENTICATE = 1, 2, 3

NEGOTIATE_UNICODE = 0x00000001
REQUEST_TARGET = 0x00000004
NEGOTIATE_NTLM = 0x00000200
NEGOTIATE_ALWAYS_SIGN = 0x00008000
TARGET_TYPE_DOMAIN = 0x00010000
NEGOTIATE_EXTENDED_SESSIONSECURITY = 0x00080000
NEGOTIATE_TARGET_INFO = 0x00800000
NEGOTIATE_VERSION = 0x02000000
NEGOTIATE_128 = 0x20000000
NEGOTIATE_56 = 0x80000000

AV_EOL, AV_NB_COMPUTER, AV_NB_DOMAIN, AV_DNS_COMPUTER, AV_DNS_DOMAIN, AV_TIMESTAMP = 0, 1, 2, 3, 4, 7

# Windows file time of the Unix epoch, in 100 ns units.
EPOCH_AS_FILETIME = 116444736000000000


class NtlmError(Exception):
    pass


# --- MD4 (RFC 1320) ---------------------------------------------------------------------------------------

def _rotl(x, n):
    x &= 0xFFFFFFFF
    return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF


def md4(data):
    data = bytes(data)
    length = len(data) * 8
    data += b'\x80' + b'\0' * ((55 - len(data)) % 64) + struct.pack('<Q', length & 0xFFFFFFFFFFFFFFFF)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for block in range(0, len(data), 64):
        x = struct.unpack('<16I', data[block:block + 64])
        aa, bb, cc, dd = a, b, c, d

        def f(x_, y, z):
            return (x_ & y) | (~x_ & z)

        def g(x_, y, z):
            return (x_ & y) | (x_ & z) | (y & z)

        def h(x_, y, z):
            return x_ ^ y ^ z

        for i in range(16):  # round 1
            k, s = i, (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, _rotl(a + f(b, c, d) + x[k], s), b, c
        for i in range(16):  # round 2
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, _rotl(a + g(b, c, d) + x[k] + 0x5A827999, s), b, c
        for i in range(16):  # round 3
            k, s = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i], (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, _rotl(a + h(b, c, d) + x[k] + 0x6ED9EBA1, s), b, c
        a, b, c, d = (a + aa) & 0xFFFFFFFF, (b + bb) & 0xFFFFFFFF, (c + cc) & 0xFFFFFFFF, (d + dd) & 0xFFFFFFFF
    return struct.pack('<4I', a, b, c, d)


# --- NTLMv2 -----------------------------------------------------------------------------------------------

def hmac_md5(key, data):
    return hmac.new(key, data, 'md5').digest()


def nt_owf_v2(password, user, domain):
    """NTOWFv2: the key of an account's NTLMv2 responses."""
    return hmac_md5(md4(password.encode('utf-16-le')), (user.upper() + domain).encode('utf-16-le'))


def nt_proof(password, user, domain, server_challenge, blob):
    """NTProofStr of an NTLMv2 response whose remainder (the client's blob) is given."""
    return hmac_md5(nt_owf_v2(password, user, domain), server_challenge + blob)


def av_pairs(pairs):
    out = bytearray()
    for kind, value in pairs:
        out += struct.pack('<HH', kind, len(value)) + value
    return bytes(out + struct.pack('<HH', AV_EOL, 0))


def filetime(now=None):
    seconds = time.time() if now is None else now
    return struct.pack('<Q', EPOCH_AS_FILETIME + int(seconds * 10 ** 7))


class Server:
    """One sign-in's exchange: challenge() answers the NEGOTIATE, verify() checks the AUTHENTICATE."""

    def __init__(self, domain, computer, dns_domain):
        self.domain = domain
        self.computer = computer
        self.dns_domain = dns_domain
        self.server_challenge = os.urandom(8)

    def challenge(self, negotiate):
        if negotiate[:8] != SIGNATURE or len(negotiate) < 16 or struct.unpack('<I', negotiate[8:12])[0] != NEGOTIATE:
            raise NtlmError('not an NTLM NEGOTIATE message')
        asked = struct.unpack('<I', negotiate[12:16])[0]
        flags = (NEGOTIATE_UNICODE | REQUEST_TARGET | NEGOTIATE_NTLM | NEGOTIATE_ALWAYS_SIGN | TARGET_TYPE_DOMAIN
                 | NEGOTIATE_TARGET_INFO | NEGOTIATE_VERSION
                 | (asked & (NEGOTIATE_EXTENDED_SESSIONSECURITY | NEGOTIATE_128 | NEGOTIATE_56)))
        target = self.domain.encode('utf-16-le')
        info = av_pairs([(AV_NB_DOMAIN, target), (AV_NB_COMPUTER, self.computer.encode('utf-16-le')),
                         (AV_DNS_DOMAIN, self.dns_domain.encode('utf-16-le')),
                         (AV_DNS_COMPUTER, ('%s.%s' % (self.computer.lower(), self.dns_domain)).encode('utf-16-le')),
                         (AV_TIMESTAMP, filetime())])
        head = 8 + 4 + 8 + 4 + 8 + 8 + 8 + 8  # through the version
        version = bytes([10, 0]) + struct.pack('<H', 20348) + b'\0\0\0\x0F'
        return (SIGNATURE + struct.pack('<I', CHALLENGE) + struct.pack('<HHI', len(target), len(target), head)
                + struct.pack('<I', flags) + self.server_challenge + b'\0' * 8
                + struct.pack('<HHI', len(info), len(info), head + len(target)) + version + target + info)

    @staticmethod
    def parse(message):
        """(domain, user, workstation, NT response) of an AUTHENTICATE message."""
        if message[:8] != SIGNATURE or len(message) < 64 or struct.unpack('<I', message[8:12])[0] != AUTHENTICATE:
            raise NtlmError('not an NTLM AUTHENTICATE message')
        flags = struct.unpack('<I', message[60:64])[0]

        def field(at):
            length, _, offset = struct.unpack('<HHI', message[at:at + 8])
            if offset + length > len(message):
                raise NtlmError('AUTHENTICATE field at %d runs past the message' % at)
            return message[offset:offset + length]

        def text(at):
            raw = field(at)
            return raw.decode('utf-16-le' if flags & NEGOTIATE_UNICODE else 'latin-1', 'replace')

        return text(28), text(36), text(44), field(20)

    def verify(self, message, account, password):
        """The signed-in DOMAIN\\user when the AUTHENTICATE holds a valid NTLMv2 response for account
        (DOMAIN\\user, matched ignoring case) and password; raises NtlmError naming the user otherwise."""
        domain, user, _, response = self.parse(message)
        name = '%s\\%s' % (domain, user) if domain else user
        if account is None or name.lower() != account.lower():
            raise NtlmError(name)
        if len(response) <= 24:  # NTLMv1 (or anonymous): not taken
            raise NtlmError(name)
        proof, blob = response[:16], response[16:]
        if not hmac.compare_digest(proof, nt_proof(password, user, domain, self.server_challenge, blob)):
            raise NtlmError(name)
        return account

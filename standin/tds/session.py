"""One client connection: pre-login, sign-in, then SQL batches, RPCs and cancels until the client leaves."""

import queue
import re
import ssl
import struct
import threading

from . import ntlm
from . import protocol as p
from .engine import CURSOR_REFUSED, Cancelled, Count, Engine, EnvChange, Failure, ProcedureDone, Rows
from .secure import TlsChannel
from .translate import TsqlError

PROCEDURE_IDS = {'sp_cursor': 1, 'sp_cursoropen': 2, 'sp_cursorprepare': 3, 'sp_cursorexecute': 4,
                 'sp_cursorprepexec': 5, 'sp_cursorunprepare': 6, 'sp_cursorfetch': 7, 'sp_cursoroption': 8,
                 'sp_cursorclose': 9, 'sp_executesql': 10, 'sp_prepare': 11, 'sp_execute': 12,
                 'sp_prepexec': 13, 'sp_prepexecrpc': 14, 'sp_unprepare': 15}
PROCEDURE_NAMES = {number: name for name, number in PROCEDURE_IDS.items()}
# sp_cursorfetch's fetch types.
FETCH_FIRST, FETCH_NEXT, FETCH_PREV, FETCH_LAST = 0x01, 0x02, 0x04, 0x08
FETCH_ABSOLUTE, FETCH_RELATIVE, FETCH_REFRESH, FETCH_INFO = 0x10, 0x20, 0x80, 0x100
SCROLL_STATIC, CONCURRENCY_READ_ONLY = 0x0008, 0x0001
# PRELOGIN's encryption option, and what the two sides agree on.
ENCRYPT_OFF, ENCRYPT_ON, ENCRYPT_NOT_SUP, ENCRYPT_REQ = 0, 1, 2, 3
ENCRYPTION_NAMES = {0: 'OFF', 1: 'ON', 2: 'NOT_SUP', 3: 'REQ'}
NO_TLS, LOGIN_TLS, FULL_TLS, REFUSED = 'none', 'sign-in', 'session', 'refused'


class Context:
    """What a statement may ask of its session: @@ variables, the login, the database."""

    def __init__(self, config, spid, login):
        self.config = config
        self.database = config.database
        self.server_name = config.server_name
        self.product_version = config.product_version
        self.version_text = config.version_text
        self.spid = spid
        self.login = login
        self.auth_scheme = 'SQL'
        self.encrypt_option = 'FALSE'
        self.packet_size = 4096
        self.peer = ('', 0)
        self.local = ('', 0)
        self.engine = None

    @property
    def textsize(self):
        return self.engine.textsize if self.engine else 4096

    def trancount(self):
        return self.engine.trancount() if self.engine else 0


class LoginRefused(Exception):
    pass


class Session:
    def __init__(self, sock, peer, config, spid):
        self.sock = sock
        self.channel = sock  # a TlsChannel once the session is encrypted
        self.peer = peer
        self.config = config
        self.spid = spid
        self.lock = threading.Lock()
        self.packet_size = 4096
        self.tds_version = p.TDS74
        self.engine = None
        self.attention = threading.Event()
        self.busy = False
        self.cursors = {}  # handle -> [columns, rows, position before the current block, block size]
        self.next_cursor = 180150000
        # How the client signed in, as sys.dm_exec_connections and SUSER_SNAME() report it.
        self.login_name = None
        self.auth_scheme = None
        self.encrypt_option = 'FALSE'

    def trace(self, text):
        self.config.trace('spid %d %s' % (self.spid, text))

    def writer(self):
        return p.MessageWriter(self.channel, self.lock, self.packet_size, self.spid)

    def run(self):
        try:
            if self.handshake():
                self.serve()
        except (p.ConnectionClosed, OSError):
            pass
        except p.ProtocolError as e:
            self.trace('protocol error: %s' % e)
        finally:
            if self.engine is not None:
                self.engine.close()
            try:
                self.sock.close()
            except OSError:
                pass
            self.trace('gone')

    # --- pre-login and sign-in ----------------------------------------------------------------------------

    def handshake(self):
        kind, _, payload = p.read_message(self.sock)
        mode = NO_TLS
        if kind == p.PRELOGIN:
            mode = self.prelogin(payload)
            if mode == REFUSED:
                return False
            if mode != NO_TLS:
                tls = TlsChannel(self.sock, self.config.tls)
                try:
                    tls.handshake(self.spid)
                except ssl.SSLError as e:
                    self.trace('TLS handshake failed: %s' % e)
                    return False
                except p.ConnectionClosed:
                    self.trace('TLS handshake failed: the client left (it trusts neither the certificate nor '
                               'the name in it?)')
                    return False
                self.trace('%s, %s' % (tls.version, 'whole session' if mode == FULL_TLS else 'sign-in only'))
                self.channel = tls
            kind, _, payload = p.read_message(self.channel)
        elif self.config.force_encryption:
            self.trace('a client without PRELOGIN cannot encrypt, and this server requires it')
            return False
        if mode == LOGIN_TLS:
            self.channel = self.sock  # the client drops TLS once its LOGIN7 is through
        self.encrypt_option = 'TRUE' if mode == FULL_TLS else 'FALSE'
        if kind != p.LOGIN7:
            raise p.ProtocolError('expected a LOGIN7 message, got type %d' % kind)
        try:
            self.login(payload)
        except LoginRefused as refusal:
            self.trace('sign-in refused: %s' % refusal)
            return False
        return True

    def prelogin(self, payload):
        """Answers the client's PRELOGIN as SQL Server does; the encryption the two agreed on."""
        r = p.Reader(payload)
        asked = ENCRYPT_OFF
        while True:
            token = r.u8()
            if token == 0xFF:
                break
            offset, length = r.unpack('>HH')
            if token == 0x01 and length >= 1 and offset < len(payload):
                asked = payload[offset]
        mode = NO_TLS
        if self.config.tls is None:
            answer = ENCRYPT_NOT_SUP
        elif asked == ENCRYPT_NOT_SUP:
            answer = ENCRYPT_REQ if self.config.force_encryption else ENCRYPT_NOT_SUP
            if self.config.force_encryption:
                mode = REFUSED
        elif self.config.force_encryption or asked in (ENCRYPT_ON, ENCRYPT_REQ):
            answer, mode = ENCRYPT_ON, FULL_TLS
        else:
            answer, mode = ENCRYPT_OFF, LOGIN_TLS
        self.trace('pre-login: client encryption %s, answered %s' % (ENCRYPTION_NAMES.get(asked, asked),
                                                                   ENCRYPTION_NAMES[answer]))
        major, minor, build = self.config.product_version
        options = [(0x00, bytes([major, minor]) + struct.pack('>HH', build, 0)),
                   (0x01, bytes([answer])),
                   (0x02, b'\x00'),
                   (0x03, b''),
                   (0x04, b'\x00')]
        offset = len(options) * 5 + 1
        head = bytearray()
        body = bytearray()
        for token, data in options:
            head += struct.pack('>BHH', token, offset + len(body), len(data))
            body += data
        w = self.writer()
        w.write(bytes(head) + b'\xFF' + bytes(body))
        w.end()
        if mode == REFUSED:
            self.trace('the client refuses encryption, which this server requires')
        return mode

    def refuse(self, errors):
        w = self.writer()
        for number, severity, text in errors:
            w.write(p.message(p.ERROR, number, 1, severity, text, self.config.server_name))
        w.write(p.done(p.DONE, p.DONE_ERROR))
        w.end()
        raise LoginRefused(errors[-1][2])

    def login(self, payload):
        if len(payload) < 94:
            raise p.ProtocolError('LOGIN7 of %d bytes' % len(payload))
        version, packet_size = struct.unpack('<II', payload[4:12])
        flags2, _, flags3 = payload[25], payload[26], payload[27]

        def field(at):
            offset, length = struct.unpack('<HH', payload[at:at + 4])
            return payload[offset:offset + length * 2]

        # FreeTDS's SQLConnectW counts a closing NUL into the name and password; SQL Server ignores it too.
        user = field(40).decode('utf-16-le', 'replace').rstrip('\0')
        application = field(48).decode('utf-16-le', 'replace')
        database = field(68).decode('utf-16-le', 'replace')
        sspi_offset, sspi_length = struct.unpack('<HH', payload[78:82])
        if sspi_length == 0xFFFF:
            sspi_length = struct.unpack('<I', payload[90:94])[0]
        sspi = payload[sspi_offset:sspi_offset + sspi_length]
        self.packet_size = packet_size if 512 <= packet_size <= 32767 else 4096
        integrated = bool(flags2 & 0x80 or sspi)
        self.trace('sign-in from %s: %s, application %r, database %r, TDS 0x%08X, packet size %d'
                   % (self.peer, 'integrated' if integrated else 'user %r' % user, application, database,
                      version, packet_size))
        if version < p.TDS72:
            self.refuse([(18456, 14, "Login failed for user '%s'. The stand-in speaks TDS 7.2 to 7.4 "
                                     "(TDS_Version=7.4)." % user)])
        self.tds_version = min(version, p.TDS74)
        mutual = None
        if not integrated:
            password = bytes(((b ^ 0xA5) << 4 & 0xF0) | ((b ^ 0xA5) >> 4) for b in field(44)) \
                .decode('utf-16-le', 'replace').rstrip('\0')
            if self.config.password is None or user.lower() != self.config.login.lower() \
                    or password != self.config.password:
                self.refuse([(18456, 14, "Login failed for user '%s'." % user)])
            self.login_name, self.auth_scheme = self.config.login, 'SQL'
        elif sspi.startswith(ntlm.SIGNATURE):
            self.login_name, self.auth_scheme = self.ntlm_sign_in(sspi), 'NTLM'
        else:
            self.login_name, mutual = self.kerberos_sign_in(sspi)
            self.auth_scheme = 'KERBEROS'
        user = self.login_name
        self.trace('signed in: %s by %s, encryption %s' % (user, self.auth_scheme, self.encrypt_option))
        if database and database.lower() != self.config.database.lower():
            self.refuse([(4060, 11, 'Cannot open database "%s" requested by the login. The login failed.'
                          % database), (18456, 14, "Login failed for user '%s'." % user)])
        context = Context(self.config, self.spid, self.login_name)
        context.auth_scheme = self.auth_scheme
        context.encrypt_option = self.encrypt_option
        context.packet_size = self.packet_size
        context.peer = self.sock.getpeername()[:2]
        context.local = self.sock.getsockname()[:2]
        try:
            self.engine = Engine(self.config, context)
        except Exception as e:  # the stand-in file is missing, locked away or damaged
            self.trace('cannot open %s: %s' % (self.config.db_path, e))
            self.refuse([(4060, 11, 'Cannot open database "%s" requested by the login. The login failed.'
                          % self.config.database), (18456, 14, "Login failed for user '%s'." % user)])
        context.engine = self.engine
        self.engine.cancelled = self.attention.is_set
        name = self.config.database
        server = self.config.server_name
        w = self.writer()
        if mutual:
            w.write(sspi_token(mutual))
        w.write(p.envchange(1, name, 'master'))
        w.write(p.message(p.INFO, 5701, 2, 0, "Changed database context to '%s'." % name, server))
        w.write(p.envchange(7, p.COLLATION, b''))
        w.write(p.envchange(2, 'us_english', ''))
        w.write(p.message(p.INFO, 5703, 1, 0, 'Changed language setting to us_english.', server))
        w.write(p.loginack(self.tds_version, 'Microsoft SQL Server', self.config.product_version))
        if flags3 & 0x10:
            w.write(bytes([p.FEATUREEXTACK, 0xFF]))  # no feature extension is taken up
        w.write(p.envchange(4, str(self.packet_size), '4096'))
        w.write(p.done(p.DONE, p.DONE_FINAL))
        w.end()

    def ntlm_sign_in(self, negotiate):
        """NEGOTIATE in LOGIN7 -> CHALLENGE in an SSPI token -> AUTHENTICATE in an SSPI message: the account
        signed in, or 18456."""
        config = self.config
        exchange = ntlm.Server(config.ntlm_domain, config.server_name, config.ntlm_dns_domain)
        try:
            challenge = exchange.challenge(negotiate)
        except ntlm.NtlmError as e:
            raise p.ProtocolError(str(e))
        w = self.writer()
        w.write(sspi_token(challenge))
        w.end()
        kind, _, message = p.read_message(self.channel)
        if kind != p.SSPI:
            raise p.ProtocolError('expected an SSPI message, got type %d' % kind)
        try:
            return exchange.verify(message, config.ntlm_account, config.ntlm_password)
        except ntlm.NtlmError as e:
            self.refuse([(18456, 14, "Login failed for user '%s'." % e)])

    def kerberos_sign_in(self, token):
        """A raw Kerberos 5 AP-REQ (FreeTDS sends no SPNEGO): (the client's principal, the AP-REP for mutual
        authentication or None), or 18452."""
        untrusted = [(18452, 14, 'Login failed. The login is from an untrusted domain and cannot be used with '
                                 'Integrated authentication.')]
        if self.config.acceptor is None:
            self.trace('Kerberos sign-in without a keytab (--keytab)')
            self.refuse(untrusted)
        import gssapi
        try:
            context = gssapi.SecurityContext(creds=self.config.acceptor(), usage='accept')
            reply = context.step(token)
            if not context.complete:
                self.trace('Kerberos sign-in wants another round, which FreeTDS never sends')
                self.refuse(untrusted)
            return str(context.initiator_name), reply
        except gssapi.exceptions.GSSError as e:
            self.trace('Kerberos token refused: %s' % ' '.join(str(e).split()))
            self.refuse(untrusted)

    # --- requests ----------------------------------------------------------------------------------------

    def serve(self):
        requests = queue.Queue()
        reader = threading.Thread(target=self.read_requests, args=(requests,), daemon=True)
        reader.start()
        while True:
            request = requests.get()
            if request is None:
                return
            kind, status, payload = request
            if kind == p.ATTENTION:
                self.trace('attention')
                self.attention.clear()
                w = self.writer()
                w.write(p.done(p.DONE, p.DONE_ATTN))
                w.end()
                continue
            if self.attention.is_set():
                continue  # cancelled before it began; the attention's answer follows
            w = self.writer()
            self.busy = True
            try:
                if status & p.STATUS_RESET:
                    self.engine.reset()
                if kind == p.SQL_BATCH:
                    self.sql_batch(w, payload)
                elif kind == p.RPC:
                    self.rpc(w, payload)
                elif kind == p.TRANSACTION_MANAGER:
                    self.transaction_request(w, payload)
                else:
                    self.trace('request of type %d refused' % kind)
                    w.write(p.message(p.ERROR, 4002, 1, 16, 'The stand-in does not take requests of TDS type %d.'
                                      % kind, self.config.server_name))
                    w.write(p.done(p.DONE, p.DONE_ERROR))
            except Cancelled:
                self.trace('cancelled')
            except (p.ProtocolError, p.ConnectionClosed, OSError):
                raise
            except Exception as e:  # a fault of this server: the client hears of it, the connection stays
                self.trace('internal error: %r' % e)
                w.write(p.message(p.ERROR, 50000, 1, 16, 'The stand-in failed on this request: %r' % e,
                                  self.config.server_name))
                w.write(p.done(p.DONE, p.DONE_ERROR))
            finally:
                self.busy = False
                w.end()

    def read_requests(self, requests):
        try:
            while True:
                request = p.read_message(self.channel)
                if request[0] == p.ATTENTION:
                    self.attention.set()
                    if self.busy:
                        self.engine.interrupt()
                requests.put(request)
        except (p.ConnectionClosed, p.ProtocolError, OSError):
            requests.put(None)

    def error(self, failure):
        return p.message(p.ERROR, failure.number, failure.state, failure.severity, failure.message,
                         self.config.server_name)

    def emit(self, w, results, in_procedure):
        """Writes each result with its DONE (DONEINPROC inside a procedure); True when none failed.
        The last DONE is left to the caller: (token, status, count, command) or None."""
        statement_done = p.DONEINPROC if in_procedure else p.DONE
        pending = None
        ok = True
        for result in results:
            if pending is not None:
                w.write(p.done(pending[0], pending[1] | p.DONE_MORE, pending[2], pending[3]))
                pending = None
            counted = 0 if self.engine.nocount else p.DONE_COUNT
            if isinstance(result, Rows):
                self.write_rows(w, result)
                pending = (statement_done, counted, len(result.rows), p.CMD_SELECT)
            elif isinstance(result, Count):
                if result.count is None:
                    pending = (statement_done, 0, 0, result.command)
                else:
                    pending = (statement_done, counted, result.count, result.command)
            elif isinstance(result, ProcedureDone):
                if in_procedure:
                    pending = (p.DONEINPROC, 0, 0, p.CMD_EXECUTE)
                else:
                    w.write(p.returnstatus(result.status))
                    pending = (p.DONEPROC, 0, 0, p.CMD_EXECUTE)
            elif isinstance(result, EnvChange):
                w.write(result.token)
                w.write(p.message(p.INFO, 5701, 1, 0, result.info, self.config.server_name))
                pending = (statement_done, 0, 0, p.CMD_OTHER)
            elif isinstance(result, Failure):
                self.trace('error %d: %s' % (result.number, result.message))
                w.write(self.error(result))
                pending = (statement_done, p.DONE_ERROR, 0, p.CMD_OTHER)
                ok = False
            if self.attention.is_set():
                raise Cancelled()
        return ok, pending

    def write_rows(self, w, result):
        types = [t for _, t in result.columns]
        w.write(p.colmetadata(result.columns))
        for i, values in enumerate(result.rows):
            if i % 64 == 0 and self.attention.is_set():
                raise Cancelled()
            w.write(p.row(types, values))

    def sql_batch(self, w, payload):
        r = p.Reader(payload)
        r.skip_all_headers()
        text = r.take(r.left()).decode('utf-16-le', 'replace')
        self.trace('batch: %s' % text)
        _, pending = self.emit(w, self.engine.run_text(text), False)
        if pending is None:
            pending = (p.DONE, 0, 0, p.CMD_OTHER)
        w.write(p.done(*pending))

    # --- RPC ----------------------------------------------------------------------------------------------

    def rpc(self, w, payload):
        r = p.Reader(payload)
        r.skip_all_headers()
        calls = []
        while True:
            length = r.unpack('<H')
            if length == 0xFFFF:
                number = r.unpack('<H')
                name = PROCEDURE_NAMES.get(number, 'procedure #%d' % number)
            else:
                name = r.take(length * 2).decode('utf-16-le', 'replace')
                number = PROCEDURE_IDS.get(bare_name(name).lower())
            options = r.unpack('<H')  # 0x01 recompile, 0x02 no metadata
            params = []
            while r.left() and r.peek() not in (0x80, 0xFE, 0xFF):
                params.append(p.read_param(r))
            calls.append((number, name, options, params))
            if not r.left():
                break
            r.u8()  # batch separator
            if not r.left():
                break
        for i, (number, name, options, params) in enumerate(calls):
            self.no_metadata = bool(options & 0x02)
            self.trace('rpc %s%s: %s' % (name, '' if number is None else ' (id %d)' % number,
                                         ', '.join(repr(x) for x in params)))
            more = p.DONE_MORE if i + 1 < len(calls) else 0
            try:
                self.call(w, number, name, params, more)
            except TsqlError as e:
                failure = Failure(e.number, e.severity, e.state, e.message)
                self.trace('error %d: %s' % (failure.number, failure.message))
                w.write(self.error(failure))
                w.write(p.done(p.DONEPROC, p.DONE_ERROR | more, 0, p.CMD_EXECUTE))

    def call(self, w, number, name, params, more):
        engine = self.engine
        outputs = []
        if number is None:
            arguments = [(x.name[1:] if x.name else None, '?', [x.value]) for x in params]
            results = engine.run_call(bare_name(name), arguments)
            self.finish_procedure(w, self.run_procedure(w, results), outputs, more)
            return
        if number in range(1, 10):
            self.cursor_call(w, number, name, params, more)
            return
        if number == 10:  # sp_executesql @stmt, @params, values...
            text = param_text(params, 0, 'stmt')
            declaration = param_declaration(params, 1)
            values = bind(declaration, params[2:])
        elif number == 13:  # sp_prepexec @handle OUTPUT, @params, @stmt, values...
            declaration = param_declaration(params, 1)
            text = param_text(params, 2, 'stmt')
            values = bind(declaration, params[3:])
            handle = engine.prepare(text, declaration)
            outputs.append((0, params[0].name, handle))
        elif number == 11:  # sp_prepare @handle OUTPUT, @params, @stmt, @options
            declaration = param_declaration(params, 1)
            text = param_text(params, 2, 'stmt')
            handle = engine.prepare(text, declaration)
            columns = engine.describe_text(text, declaration)
            if columns:
                w.write(p.colmetadata(columns))
                w.write(p.done(p.DONEINPROC, p.DONE_MORE, 0, p.CMD_SELECT))
            self.finish_procedure(w, True, [(0, params[0].name, handle)], more)
            return
        elif number == 12:  # sp_execute @handle, values...
            text, declaration = engine.prepared_statement(param_int(params, 0, 'handle'))
            values = bind(declaration, params[1:])
        elif number == 15:  # sp_unprepare @handle
            engine.unprepare(param_int(params, 0, 'handle'))
            self.finish_procedure(w, True, [], more)
            return
        else:
            raise TsqlError(2812, "Could not find stored procedure '%s'." % name, 16, 62)
        self.finish_procedure(w, self.run_procedure(w, engine.run_text(text, values)), outputs, more)

    def run_procedure(self, w, results):
        ok, pending = self.emit(w, results, True)
        if pending is not None:
            w.write(p.done(p.DONEINPROC, pending[1] | p.DONE_MORE, pending[2], pending[3]))
        return ok

    def finish_procedure(self, w, ok, outputs, more):
        if ok:
            w.write(p.returnstatus(0))
            for ordinal, name, value in outputs:
                w.write(p.returnvalue(ordinal, name, p.IntN(4), value))
        w.write(p.done(p.DONEPROC, (0 if ok else p.DONE_ERROR) | more, 0, p.CMD_EXECUTE))

    def cursor_call(self, w, number, name, params, more):
        if number in (6, 9):  # sp_cursorunprepare, sp_cursorclose
            if number == 9 and params:
                self.cursors.pop(params[0].value, None)
            self.finish_procedure(w, True, [], more)
            return
        if number == 2 and self.engine.only_settings(param_text(params, 1, 'stmt')):
            # SQL Server runs a statement without rows directly and says so; Qt's QODBC opens each
            # connection to SQL Server with SET QUOTED_IDENTIFIER ON on a static cursor.
            ok, pending = self.emit(w, self.engine.run_text(params[1].value), True)
            if ok:
                w.write(p.message(p.INFO, 16954, 1, 10, 'Executing SQL directly; no cursor.',
                                  self.config.server_name))
            self.finish_procedure(w, ok, [(0, params[0].name, 0)], more)
            return
        if self.config.strict_cursors or number not in (2, 7, 8):
            raise TsqlError(16937, CURSOR_REFUSED, 16, 1)
        if number == 8:  # sp_cursoroption: names and text pointers are no concern of a read-only cursor
            self.finish_procedure(w, True, [], more)
        elif number == 2:
            self.cursor_open(w, params, more)
        else:
            self.cursor_fetch(w, params, more, self.no_metadata)

    def cursor_open(self, w, params, more):
        """sp_cursoropen @cursor OUTPUT, @stmt, @scrollopt OUTPUT, @ccopt OUTPUT, @rowcount OUTPUT,
        [@paramdef, values...]: a static read-only cursor over a plain SELECT."""
        text = param_text(params, 1, 'stmt')
        values = bind(param_declaration(params, 5), params[6:]) if len(params) > 5 else {}
        rows = self.engine.select_for_cursor(text, values)
        if isinstance(rows, Failure):
            self.trace('error %d: %s' % (rows.number, rows.message))
            w.write(self.error(rows))
            w.write(p.done(p.DONEPROC, p.DONE_ERROR | more, 0, p.CMD_EXECUTE))
            return
        handle = self.next_cursor
        self.next_cursor += 1
        self.cursors[handle] = [rows.columns, rows.rows, -1, 0]
        w.write(p.colmetadata(rows.columns))
        w.write(p.done(p.DONEINPROC, p.DONE_MORE, 0, p.CMD_SELECT))
        outputs = [(0, params[0].name, handle)]
        for ordinal, value in ((2, SCROLL_STATIC), (3, CONCURRENCY_READ_ONLY), (4, len(rows.rows))):
            if ordinal < len(params) and params[ordinal].output:
                outputs.append((ordinal, params[ordinal].name, value))
        self.finish_procedure(w, True, outputs, more)

    def cursor_fetch(self, w, params, more, no_metadata):
        """sp_cursorfetch @cursor, @fetchtype, @rownum, @nrows."""
        handle = param_int(params, 0, 'cursor')
        if handle not in self.cursors:
            raise TsqlError(16999, 'The cursor identifier value provided (%x) is not valid.' % handle, 16, 1)
        columns, rows, start, size = self.cursors[handle]
        kind = params[1].value if len(params) > 1 and params[1].value is not None else FETCH_NEXT
        number = params[2].value if len(params) > 2 and params[2].value is not None else 0
        count = params[3].value if len(params) > 3 and params[3].value is not None else 1
        if kind & FETCH_INFO:
            current = start + 1 if 0 <= start < len(rows) else 0
            outputs = [(2, params[2].name, current), (3, params[3].name, len(rows))] if len(params) > 3 else []
            self.finish_procedure(w, True, outputs, more)
            return
        if kind & FETCH_FIRST:
            start = 0
        elif kind & FETCH_NEXT:
            start = max(start, -1) + max(size, 1) if start >= 0 else 0
        elif kind & FETCH_PREV:
            start = max(start, len(rows)) - count
        elif kind & FETCH_LAST:
            start = len(rows) - count
        elif kind & FETCH_ABSOLUTE:
            start = number - 1 if number > 0 else len(rows) + number
        elif kind & FETCH_RELATIVE:
            start = start + number
        start = max(start, -1)
        start = min(start, len(rows))
        block = rows[max(start, 0):max(start, 0) + count] if start >= 0 else []
        self.cursors[handle] = [columns, rows, start, count]
        w.write(b'\x81\xff\xff' if no_metadata else p.colmetadata(columns))
        types = [t for _, t in columns]
        for values in block:
            w.write(p.row(types, values))
        w.write(p.done(p.DONEINPROC, p.DONE_MORE | p.DONE_COUNT, len(block), p.CMD_SELECT))
        self.finish_procedure(w, True, [], more)

    # --- transaction manager requests (SQLSetConnectAttr autocommit off and its commits) -----------------

    def transaction_request(self, w, payload):
        r = p.Reader(payload)
        r.skip_all_headers()
        request = r.unpack('<H')
        engine = self.engine
        descriptor = struct.pack('<Q', self.spid)
        self.trace('transaction request %d' % request)
        if request == 5:  # TM_BEGIN_XACT
            if engine.transactions == 0:
                engine.execute('BEGIN')
            engine.transactions += 1
            w.write(p.envchange(8, descriptor, b''))
        elif request in (7, 8):  # TM_COMMIT_XACT, TM_ROLLBACK_XACT
            flags = 0
            if r.left() >= 2:
                r.take(r.u8())  # transaction name
                flags = r.u8() if r.left() else 0
            if engine.transactions:
                engine.execute('COMMIT' if request == 7 else 'ROLLBACK')
                engine.transactions = 0
            w.write(p.envchange(9 if request == 7 else 10, b'', descriptor))
            if flags & 0x01:  # fBeginXact: a new transaction at once
                engine.execute('BEGIN')
                engine.transactions = 1
                w.write(p.envchange(8, descriptor, b''))
        elif request == 0:  # TM_GET_DTC_ADDRESS: no distributed transactions here
            w.write(p.colmetadata([('Address', p.VarBinary(16))]))
            w.write(p.done(p.DONE, p.DONE_COUNT | p.DONE_MORE, 0, p.CMD_SELECT))
        else:
            w.write(p.message(p.ERROR, 8509, 1, 16, 'Distributed transactions are not available here.',
                              self.config.server_name))
            w.write(p.done(p.DONE, p.DONE_ERROR))
            return
        w.write(p.done(p.DONE, 0))


def sspi_token(data):
    return bytes([0xED]) + struct.pack('<H', len(data)) + data


def bare_name(name):
    """dbo.sp_x, [master].[dbo].[sp_x], sp_x;1 -> sp_x"""
    last = re.split(r'\.(?![^\[]*\])', name.strip())[-1]
    return last.strip('[]"').split(';')[0]


def param_text(params, index, name):
    if index >= len(params) or not isinstance(params[index].value, str):
        raise TsqlError(214, "Procedure expects parameter '@%s' of type 'ntext/nchar/nvarchar'." % name, 16, 2)
    return params[index].value


def param_declaration(params, index):
    # FreeTDS sends NULL for a statement without parameters.
    if index < len(params) and params[index].value is None:
        return ''
    return param_text(params, index, 'params') if index < len(params) else ''


def param_int(params, index, name):
    if index >= len(params) or not isinstance(params[index].value, int):
        raise TsqlError(201, "Procedure or function expects parameter '@%s', which was not supplied." % name,
                        16, 4)
    return params[index].value


def bind(declaration, params):
    """Values of a parameterised statement by lower-case name: named ones by name, the others in the
    declaration's order."""
    declared = re.findall(r'@([\w#$@]+)', declaration or '')
    values = {}
    for i, param in enumerate(params):
        name = param.name.lstrip('@') if param.name else (declared[i] if i < len(declared) else None)
        if name is None:
            raise TsqlError(8144, 'Procedure or function has too many arguments specified.', 16, 2)
        values[name.lower()] = param.value
    for name in declared:
        if name.lower() not in values:
            raise TsqlError(8178, "The parameterized query '(%s)' expects the parameter '@%s', which was not "
                            "supplied." % (declaration[:100], name), 16, 1)
    return values

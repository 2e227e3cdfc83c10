#!/usr/bin/python3
"""standin/tds-server's sign-ins and encryption through FreeTDS's own clients (tsql, and isql over the ODBC
driver), in the C locale, against one realm, set of certificates and host names made by standin/test-realm
for this process; and its MD4 and NTLMv2 against published test vectors."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'standin'))

from tds import ntlm  # noqa: E402

SERVER = os.path.join(ROOT, 'standin', 'tds-server')
REALM = os.path.join(ROOT, 'standin', 'test-realm')
NEW_ORVANEDB = os.path.join(ROOT, 'standin', 'new-orvanedb')
TDS_DRIVERS = ['/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so', '/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so',
               '/usr/lib/odbc/libtdsodbc.so']
LOGIN = 'culvane'
PASSWORD = 'Sql-Pa55word'
WHO = ('SELECT SUSER_SNAME() AS who, auth_scheme, encrypt_option FROM sys.dm_exec_connections '
       'WHERE session_id = @@SPID')
FAILED = 'Adaptive Server connection failed'
UNTRUSTED = ('Login failed. The login is from an untrusted domain and cannot be used with Integrated '
             'authentication.')


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class World:
    """The realm, the servers and the clients' settings that every case shares."""


world = World()


def setUpModule():
    if not os.path.exists('/usr/sbin/krb5kdc') or not any(os.path.exists(d) for d in TDS_DRIVERS):
        raise unittest.SkipTest('krb5-kdc or tdsodbc missing; run scripts/install-deps')
    try:
        set_up()
    except BaseException:
        tearDownModule()  # unittest skips it when this fails; the KDC and servers must not outlive the test
        raise


def set_up():
    w = world
    w.servers = {}
    w.work = tempfile.TemporaryDirectory(prefix='tds-signin-test.')
    w.folder = w.work.name
    w.ports = {name: free_port() for name in ('main', 'forced', 'rogue', 'foreign', 'denying')}
    realm_dir = os.path.join(w.folder, 'realm')
    w.realm_dir = realm_dir
    started = subprocess.run([REALM, 'start', realm_dir, '--service', 'sql.culvane.test:%d' % w.ports['main'],
                              '--service', 'sql.culvane.test:%d' % w.ports['forced'],
                              '--service', 'sql.culvane.test:%d' % w.ports['foreign']],
                             capture_output=True, text=True)
    if started.returncode != 0:
        raise AssertionError('test-realm: %s' % started.stderr)
    w.realm = dict(line.split('=', 1) for line in started.stdout.splitlines())
    r = w.realm
    w.env = dict(os.environ, LC_ALL='C', LANG='C', FREETDSCONF=os.path.join(w.folder, 'freetds.conf'),
                 ODBCSYSINI=w.folder, ODBCINI=os.path.join(w.folder, 'odbc.ini'))
    w.env.update((k, v) for k, v in r.items() if not k.startswith('TEST_'))
    with open(r['TEST_NTLM_PASSWORD_FILE'], encoding='utf-8') as f:
        w.ntlm_password = f.readline().strip()
    # A ticket that has run out by the time its case runs, then the one every other case signs in with.
    w.expired_cache = os.path.join(w.folder, 'expired.ccache')
    kinit(dict(w.env, KRB5CCNAME='FILE:' + w.expired_cache), '-l', '2s')
    kinit(w.env)

    w.db = os.path.join(w.folder, 'OrvaneDb')
    subprocess.run([NEW_ORVANEDB, w.db, '20'], check=True, capture_output=True)
    w.password_file = os.path.join(w.folder, 'password')
    with open(w.password_file, 'w', encoding='utf-8') as f:
        f.write(PASSWORD + '\n')
    # A keytab with some other service's key: the server cannot read tickets made for it.
    w.foreign_keytab = os.path.join(w.folder, 'foreign.keytab')
    subprocess.run([REALM, 'add-service', realm_dir, 'elsewhere.culvane.test:1', '--keytab', w.foreign_keytab],
                   check=True, capture_output=True)
    everyone = ['--password-file', w.password_file, '--ntlm-user', r['TEST_NTLM_USER'], '--ntlm-password-file',
                r['TEST_NTLM_PASSWORD_FILE'], '--keytab', r['KRB5_KTNAME']]
    certificate = ['--cert', r['TEST_REALM_CERT'], '--key', r['TEST_REALM_KEY']]
    for name, options in (
        ('main', everyone + certificate + ['--service-host', 'sql.culvane.test']),
        ('forced', everyone + certificate + ['--force-encryption']),
        ('rogue', everyone + ['--cert', r['TEST_REALM_ROGUE_CERT'], '--key', r['TEST_REALM_ROGUE_KEY']]),
        ('foreign', ['--keytab', w.foreign_keytab]),
        ('denying', ['--password-file', w.password_file, '--deny-view-server-state'])):
        w.servers[name] = Server(name, *options)

    sections = {'plain': ('main', 'off'), 'login': ('main', 'request'), 'full': ('main', 'require'),
                'forced-off': ('forced', 'off'), 'forced-request': ('forced', 'request'),
                'rogue': ('rogue', 'require'), 'foreign': ('foreign', 'off'), 'denying': ('denying', 'off')}
    with open(w.env['FREETDSCONF'], 'w', encoding='utf-8') as f:
        f.write('[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n')
        for name, (server, encryption) in sections.items():
            f.write('[%s]\n\thost = %s\n\tport = %d\n\tencryption = %s\n\tca file = %s\n'
                    % (name, r['TEST_REALM_HOST'], w.ports[server], encryption, r['TEST_REALM_CA']))
        # Names the realm and the certificate do not know.
        f.write('[stray]\n\thost = %s\n\tport = %d\n\tencryption = off\n'
                % (r['TEST_REALM_STRAY_HOST'], w.ports['main']))
        f.write('[stray-tls]\n\thost = %s\n\tport = %d\n\tencryption = require\n\tca file = %s\n'
                % (r['TEST_REALM_STRAY_HOST'], w.ports['main'], r['TEST_REALM_CA']))
    with open(os.path.join(w.folder, 'odbcinst.ini'), 'w') as f:
        f.write('[FreeTDS]\nDriver=%s\n' % next(d for d in TDS_DRIVERS if os.path.exists(d)))
    with open(w.env['ODBCINI'], 'w') as f:
        # Only Servername= reads freetds.conf, and with it the ca file.
        f.write('[Encrypted]\nDriver=FreeTDS\nServername=full\nDatabase=OrvaneDb\nTDS_Version=7.4\n'
                'ClientCharset=UTF-8\n')


def tearDownModule():
    for server in getattr(world, 'servers', {}).values():
        server.stop()
    if hasattr(world, 'realm_dir'):
        subprocess.run([REALM, 'stop', world.realm_dir])
    if hasattr(world, 'work'):
        world.work.cleanup()


def kinit(env, *options):
    r = world.realm
    subprocess.run(['kinit', *options, '-k', '-t', r['TEST_REALM_USER_KEYTAB'], r['TEST_REALM_USER']], env=env,
                   check=True, capture_output=True)


class Server:
    def __init__(self, name, *options):
        self.name = name
        self.trace = os.path.join(world.folder, 'trace-%s.log' % name)
        self.process = subprocess.Popen(
            [sys.executable, SERVER, '--db', world.db, '--port', str(world.ports[name]), '--trace', self.trace]
            + list(options), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=world.env)
        line = self.process.stdout.readline().strip()
        if not line.startswith('tds-server: listening on'):
            self.process.kill()
            raise AssertionError('tds-server %s did not start: %r %s' % (name, line, self.process.stderr.read()))

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
        self.output = self.process.stdout.read() + self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()

    def log(self):
        with open(self.trace, encoding='utf-8') as f:
            return f.read()


def tsql(section, user=None, password=None, sql=WHO, env=None, dump=None):
    command = ['tsql', '-S', section]
    if user is not None:
        command += ['-U', user, '-P', password]
    env = dict(env or world.env)
    if dump:
        env['TDSDUMP'] = dump
    run = subprocess.run(command, input=sql + '\ngo\nexit\n', capture_output=True, text=True, env=env, timeout=30)
    return run.stdout + run.stderr


def row_of(output):
    """The one row of WHO that tsql printed: (login, scheme, encryption)."""
    rows = [line.split('\t') for line in output.splitlines() if line.count('\t') == 2 and 'auth_scheme' not in line]
    return tuple(rows[-1]) if rows else output


class SignInTest(unittest.TestCase):
    def test_each_sign_in_with_each_encryption(self):
        r = world.realm
        main = world.servers['main']
        accounts = [('SQL', LOGIN, PASSWORD, LOGIN), ('NTLM', r['TEST_NTLM_USER'], world.ntlm_password,
                                                      r['TEST_NTLM_USER']),
                    ('KERBEROS', None, None, r['TEST_REALM_USER'])]
        for scheme, user, password, name in accounts:
            for section, encrypted, tls in (('plain', 'FALSE', None), ('login', 'FALSE', 'sign-in only'),
                                            ('full', 'TRUE', 'whole session')):
                with self.subTest(scheme=scheme, encryption=section):
                    before = len(main.log())
                    self.assertEqual(row_of(tsql(section, user, password)), (name, scheme, encrypted))
                    log = main.log()[before:]
                    if tls:
                        self.assertIn('TLSv1.2, %s' % tls, log)
                    else:
                        self.assertIn('answered NOT_SUP', log)
                        self.assertNotIn('TLSv1', log)
        # A server that forces encryption encrypts a client's whole session even when it only asks.
        for scheme, user, password, name in accounts:
            with self.subTest(scheme=scheme, encryption='forced'):
                self.assertEqual(row_of(tsql('forced-request', user, password)), (name, scheme, 'TRUE'))

    def test_odbc_data_source_with_encryption_and_the_servers_certificate(self):
        r = world.realm
        for user, password, name, scheme in ((LOGIN, PASSWORD, LOGIN, 'SQL'),
                                              (r['TEST_NTLM_USER'], world.ntlm_password, r['TEST_NTLM_USER'], 'NTLM'),
                                              ('', '', r['TEST_REALM_USER'], 'KERBEROS')):
            with self.subTest(scheme=scheme):
                command = ['isql', '-b', '-v', '-c', '-d,', 'Encrypted'] + ([user, password] if user else [])
                run = subprocess.run(command, input=WHO + '\n', capture_output=True, text=True, env=world.env,
                                     timeout=30)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertIn('%s,%s,TRUE' % (name, scheme), run.stdout)

    def test_suser_sname_alone_and_refused_server_state(self):
        self.assertIn(LOGIN, tsql('plain', LOGIN, PASSWORD, 'SELECT SUSER_SNAME()'))
        output = tsql('denying', LOGIN, PASSWORD)
        self.assertIn('Msg 300 (severity 14, state 1)', output)
        self.assertIn('"VIEW SERVER STATE permission was denied on object \'server\', database \'master\'."', output)
        self.assertIn('Msg 297 (severity 16, state 1)', output)
        self.assertIn(LOGIN, tsql('denying', LOGIN, PASSWORD, 'SELECT SUSER_SNAME()'))

    def test_kerberos_names_and_failures(self):
        dump = os.path.join(world.folder, 'dump-kerberos')
        # A host name without a dot: FreeTDS asks for the service of its canonical name.
        port = world.ports['main']
        run = subprocess.run(['tsql', '-H', 'sql', '-p', str(port)], input=WHO + '\ngo\nexit\n', capture_output=True,
                             text=True, env=dict(world.env, TDSDUMP=dump), timeout=30)
        self.assertEqual(row_of(run.stdout), (world.realm['TEST_REALM_USER'], 'KERBEROS', 'FALSE'))
        self.assertIn('using kerberos name MSSQLSvc/sql.culvane.test:%d' % port, read(dump))
        # No ticket at all: FreeTDS gives up before it signs in.
        output = tsql('plain', env=dict(world.env, KRB5CCNAME='FILE:' + os.path.join(world.folder, 'none')),
                      dump=dump)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        self.assertNotIn('Msg 18', output)
        self.assertIn('GSS_S_NO_CRED', read(dump))
        # An expired ticket: the KDC says so (KRB5KRB_AP_ERR_TKT_EXPIRED), the client the same 20002.
        time.sleep(max(0.0, 2.5 - (time.time() - os.stat(world.expired_cache).st_mtime)))
        output = tsql('plain', env=dict(world.env, KRB5CCNAME='FILE:' + world.expired_cache), dump=dump)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        self.assertIn('min_stat 2529638944', read(dump))
        # A host name whose service principal the KDC does not know (KDC_ERR_S_PRINCIPAL_UNKNOWN).
        output = tsql('stray', dump=dump)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        dumped = read(dump)
        stray = 'MSSQLSvc/%s:%d' % (world.realm['TEST_REALM_STRAY_HOST'], world.ports['main'])
        self.assertIn('using kerberos name ' + stray, dumped)
        self.assertIn('min_stat 2529638919', dumped)
        # A ticket the server cannot read: 18452 from the server.
        output = tsql('foreign')
        self.assertIn('Msg 18452 (severity 14, state 1)', output)
        self.assertIn('"%s"' % UNTRUSTED, output)
        self.assertIn('not found in keytab', world.servers['foreign'].log())

    def test_wrong_passwords_and_the_log(self):
        r = world.realm
        output = tsql('full', r['TEST_NTLM_USER'], 'not-' + world.ntlm_password)
        self.assertIn('Msg 18456 (severity 14, state 1)', output)
        self.assertIn('"Login failed for user \'%s\'."' % r['TEST_NTLM_USER'], output)
        output = tsql('plain', 'OTHERDOM\\bob', world.ntlm_password)
        self.assertIn('"Login failed for user \'OTHERDOM\\bob\'."', output)
        output = tsql('login', LOGIN, 'not-' + PASSWORD)
        self.assertIn('"Login failed for user \'%s\'."' % LOGIN, output)
        # Every sign-in so far went through the main server; none of its passwords is in its log.
        main = world.servers['main']
        log = main.log()
        self.assertIn('signed in: %s by NTLM' % r['TEST_NTLM_USER'], log)
        for secret in (PASSWORD, world.ntlm_password, r['TEST_NTLM_USER'] + world.ntlm_password):
            self.assertNotIn(secret, log)

    def test_encryption_failures(self):
        dump = os.path.join(world.folder, 'dump-tls')
        # A server that requires encryption and a client that refuses it.
        output = tsql('forced-off', LOGIN, PASSWORD)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        self.assertIn('the client refuses encryption, which this server requires', world.servers['forced'].log())
        # A certificate the data source's CA did not sign.
        output = tsql('rogue', LOGIN, PASSWORD, dump=dump)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        dumped = read(dump)
        self.assertTrue('Certificate status: ' in dumped and 'handshake failed: Error in the certificate.' in dumped)
        self.assertNotIn('Certificate hostname does not match', dumped)
        self.assertIn('TLS handshake failed', world.servers['rogue'].log())
        self.assertNotIn('signed in', world.servers['rogue'].log())
        # A host name the certificate does not name.
        output = tsql('stray-tls', LOGIN, PASSWORD, dump=dump)
        self.assertIn('Error 20002 (severity 9):\n\t%s' % FAILED, output)
        dumped = read(dump)
        self.assertTrue('Certificate hostname does not match' in dumped and 'handshake failed' in dumped)


def read(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        return f.read()


class NtlmVectorsTest(unittest.TestCase):
    def test_md4_rfc_1320(self):
        vectors = {b'': '31d6cfe0d16ae931b73c59d7e0c089c0', b'a': 'bde52cb31de33e46245e05fbdbd6fb24',
                   b'abc': 'a448017aaf21d8525fc10ae87aa6729d', b'message digest': 'd9130a8164549fe818874806e1c7014b',
                   b'abcdefghijklmnopqrstuvwxyz': 'd79e1c308aa5bbcdeea8ed63df412da9',
                   b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789':
                   '043f8582f241db351ce627e153e7f0e4',
                   b'1234567890' * 8: 'e33b4ddc9c38f2199c3e7b164fcc0536'}
        for message, digest in vectors.items():
            self.assertEqual(ntlm.md4(message).hex(), digest, message)

    def test_ntlmv2_ms_nlmp_4_2_4(self):
        # User "User", domain "Domain", password "Password", server challenge 0123456789abcdef, client
        # challenge aa * 8, time 0, target information NbDomainName "Domain", NbComputerName "Server".
        self.assertEqual(ntlm.nt_owf_v2('Password', 'User', 'Domain').hex(), '0c868a403bfd7a93a3001ef22ef02e3f')
        info = ntlm.av_pairs([(ntlm.AV_NB_DOMAIN, 'Domain'.encode('utf-16-le')),
                              (ntlm.AV_NB_COMPUTER, 'Server'.encode('utf-16-le'))])
        blob = bytes([1, 1]) + bytes(6) + bytes(8) + b'\xaa' * 8 + bytes(4) + info + bytes(4)
        self.assertEqual(ntlm.nt_proof('Password', 'User', 'Domain', bytes.fromhex('0123456789abcdef'), blob).hex(),
                         '68cd0ab851e51c96aabc927bebef6a1c')
        # The AUTHENTICATE message of 4.2.4.3, checked as a sign-in.
        authenticate = bytes.fromhex(
            '4e544c4d53535000030000001800180' '06c00000054005400840000000c000c00'
            '48000000080008005400000010001000' '5c000000100010' '00d8000000358288e2'
            '0501280a0000000f44006f006d006100' '69006e0055007300650072004300 4f00'
            '4d0050005500540045005200 86c35097' 'ac9cec102554764a57cccc19aaaaaaaa'
            'aaaaaaaa68cd0ab851e51c96aabc927b' 'ebef6a1c010100000000000000000000'
            '00000000aaaaaaaaaaaaaaaa00000000' '02000c0044006f006d00610069006e00'
            '01000c00530065007200760065007200' '0000000000000000c5dad2544fc97990'
            '94ce1ce90bc9d03e'.replace(' ', ''))
        server = ntlm.Server('Domain', 'Server', 'domain.test')
        server.server_challenge = bytes.fromhex('0123456789abcdef')
        self.assertEqual(server.parse(authenticate)[:3], ('Domain', 'User', 'COMPUTER'))
        self.assertEqual(server.verify(authenticate, 'DOMAIN\\user', 'Password'), 'DOMAIN\\user')
        for account, password in (('DOMAIN\\user', 'password'), ('DOMAIN\\other', 'Password')):
            with self.assertRaises(ntlm.NtlmError):
                server.verify(authenticate, account, password)
        server.server_challenge = bytes(8)
        with self.assertRaises(ntlm.NtlmError):
            server.verify(authenticate, 'DOMAIN\\user', 'Password')

    def test_challenge_carries_target_information(self):
        negotiate = ntlm.SIGNATURE + bytes([1, 0, 0, 0]) + (0xE2088297).to_bytes(4, 'little') + bytes(16)
        server = ntlm.Server('CULVANE', 'SQL01', 'culvane.test')
        challenge = server.challenge(negotiate)
        flags = int.from_bytes(challenge[20:24], 'little')
        self.assertTrue(flags & ntlm.NEGOTIATE_TARGET_INFO)
        self.assertEqual(challenge[24:32], server.server_challenge)
        length, offset = int.from_bytes(challenge[40:42], 'little'), int.from_bytes(challenge[44:48], 'little')
        info = challenge[offset:offset + length]
        pairs = {}
        while info:
            kind, size = int.from_bytes(info[:2], 'little'), int.from_bytes(info[2:4], 'little')
            pairs[kind] = info[4:4 + size]
            info = info[4 + size:]
        self.assertEqual(pairs[ntlm.AV_NB_DOMAIN].decode('utf-16-le'), 'CULVANE')
        self.assertEqual(pairs[ntlm.AV_DNS_COMPUTER].decode('utf-16-le'), 'sql01.culvane.test')
        self.assertEqual(len(pairs[ntlm.AV_TIMESTAMP]), 8)
        self.assertEqual(pairs[ntlm.AV_EOL], b'')


if __name__ == '__main__':
    unittest.main()

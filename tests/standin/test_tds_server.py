#!/usr/bin/python3
"""standin/tds-server through the real FreeTDS clients: tsql, isql and FreeTDS's ODBC driver (through
unixODBC, from a ctypes client) against a fresh stand-in OrvaneDb per test class.

Every statement the program sends is taken word for word from src/server/Statements.h and assembled as
Statements.cpp does; the rows that come back through TDS are compared with what the SQLite file holds."""

import os
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

sys.dont_write_bytecode = True  # nothing of the run stays in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

from odbc_client import (SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC, SQL_GUID, SQL_INTEGER,  # noqa: E402
                         SQL_WVARCHAR, Odbc, OdbcError)

SERVER = os.path.join(ROOT, 'standin', 'tds-server')
NEW_ORVANEDB = os.path.join(ROOT, 'standin', 'new-orvanedb')
STATEMENTS_H = os.path.join(ROOT, 'src', 'server', 'Statements.h')
TDS_DRIVERS = ['/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so', '/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so',
               '/usr/lib/odbc/libtdsodbc.so']
LOGIN = 'culvane'
# ASCII: FreeTDS's ANSI sign-in (isql) sends a password's UTF-8 bytes as Latin-1 characters.
PASSWORD = 'Pa55-w0rd!'
SUBSCRIBERS = 300
# Clients run in the C locale: texts must come through by ClientCharset=UTF-8 alone.
CLIENT_ENV = {'LC_ALL': 'C', 'LANG': 'C'}


def program_statements():
    """The program's fixed statements and fragments (Statements.h), and its sample values."""
    with open(STATEMENTS_H, encoding='utf-8') as f:
        source = f.read()
    texts = {}
    constant = r'inline const QString (\w+)\s*=\s*QStringLiteral\(\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\)'
    for name, literals in re.findall(constant, source):
        parts = re.findall(r'"((?:[^"\\]|\\.)*)"', literals)
        texts[name] = ''.join(p.replace('\\"', '"').replace('\\\\', '\\') for p in parts)
    texts['DirectorySyncFlags'] = int(re.search(r'DirectorySyncFlags\s*=\s*(\d+)', source).group(1))
    sample = dict(re.findall(r'QString (\w+) = QStringLiteral\("([^"]*)"\);', source))
    sample['switchId'] = int(re.search(r'switchId\s*=\s*(\d+)', source).group(1))
    return texts, sample


class Statements:
    """The program's statements, assembled as src/server/Statements.cpp assembles them."""

    def __init__(self):
        texts, self.sample = program_statements()
        missing = [n for n in ('SelectA', 'SelectC', 'SelectD', 'TypeFilter', 'R1', 'CsvByAliasStem',
                               'TicketPollStem', 'DeleteSubscriberProcedure') if n not in texts]
        if missing:
            raise AssertionError('Statements.h no longer defines %s; update this test' % ', '.join(missing))
        self.t = texts

    def __getattr__(self, name):
        return self.t[name]

    @staticmethod
    def quoted(value):
        return value.replace("'", "''")

    @staticmethod
    def on_sqlite(sql):
        """The statement as SQLite reads it: its Unicode literals N'...' as plain ones."""
        return re.sub(r"(?<![A-Za-z0-9_'])N'", "'", sql)

    def pad(self, typed):
        return (self.ExtensionPadding + typed)[-len(self.ExtensionPadding):]

    def all_subscribers(self):
        return self.SelectA + self.TypeFilter + self.OrderByAlias

    def extension_range(self, low, high):
        return (self.R1 + self.R2 + self.R3 + self.TypeFilter + self.R4 + self.pad(low) + self.R5 + self.pad(high)
                + self.Apostrophe)

    def subscriber_detail(self, object_id):
        return self.SelectD + object_id + self.Apostrophe

    def by_criterion(self, condition, value):
        return self.SelectC + self.TypeFilter + condition + self.quoted(value) + self.QuotedOrderByAlias

    def by_switch(self, switch):
        condition = self.UnassignedSwitchCondition if switch == 0 else self.SwitchCondition + str(switch)
        return self.S1 + self.S2 + self.S3 + self.S4 + self.S5 + self.TypeFilter + self.And + condition + \
            self.SwitchOrderByAlias

    def csv_by_extension(self, extension):
        return self.CsvByExtensionStem + extension + self.CsvClosing

    def csv_by_alias(self, alias):
        return self.CsvByAliasStem + self.quoted(alias) + self.CsvClosing

    def ticket_poll(self, ticket):
        return self.TicketPollStem + ticket + self.Apostrophe

    def delete_subscriber(self):
        names = [self.SubscriberObjectIDParameter, self.DirectorySyncParameter, self.DirectorySyncFlagsParameter,
                 self.ForceRemoveParameter, self.ForceRemoveEAdminParameter, self.DirectorySyncTicketParameter]
        return 'EXEC %s %s' % (self.DeleteSubscriberProcedure, ', '.join(n + '=?' for n in names))

    def delete_ticket(self):
        return 'EXEC %s %s=?' % (self.DeleteTicketProcedure, self.TicketParameter)

    def samples(self):
        """(name, statement, ordered): every statement of the program with the sample values."""
        s = self.sample
        return [
            ('distribution lists', self.DistributionListsStatement, True),
            ('classes of service', self.CosStatement, True),
            ('archived mailbox count', self.ArchivedCountStatement, True),
            ('mail servers', self.MailServersStatement, False),
            ('locations', self.LocationsStatement, False),
            ('networking nodes', self.NetworkNodesStatement, True),
            ('all subscribers', self.all_subscribers(), True),
            ('archived mailboxes', self.ArchivedStatement, True),
            ('subscriber detail', self.subscriber_detail(s['subscriberObjectId']), True),
            ('class of service', self.by_criterion(self.CosCondition, s['cosObjectId']), True),
            ('switch', self.by_switch(s['switchId']), True),
            ('switch 0', self.by_switch(0), True),
            ('mail server', self.by_criterion(self.HomeServerCondition, s['homeServer']), True),
            ('location', self.by_criterion(self.LocationCondition, s['locationObjectId']), True),
            ('networking node', self.by_criterion(self.RemoteNodeCondition, s['remoteNode']), True),
            ('CSV extension', self.csv_by_extension(s['extension']), True),
            ('CSV second extension', self.csv_by_extension(s['secondExtension']), True),
            ('CSV alias', self.csv_by_alias(s['alias']), True),
            ('ticket poll', self.ticket_poll(s['ticket']), True),
        ]


def tds_driver():
    for candidate in TDS_DRIVERS:
        if os.path.exists(candidate):
            return candidate
    raise unittest.SkipTest('FreeTDS ODBC driver (tdsodbc) missing; run scripts/install-deps')


class Server:
    """standin/tds-server as a child process on a port of its own (or the one given)."""

    def __init__(self, folder, db, *options, port=0):
        self.folder = folder
        self.db = db
        self.options = list(options)
        self.port = port
        self.trace = os.path.join(folder, 'trace-%d.log' % len(os.listdir(folder)))
        self.password_file = os.path.join(folder, 'password')
        with open(self.password_file, 'w', encoding='utf-8') as f:
            f.write(PASSWORD + '\n')
        self.process = None

    def start(self):
        self.process = subprocess.Popen(
            [sys.executable, SERVER, '--db', self.db, '--login', LOGIN, '--password-file', self.password_file,
             '--port', str(self.port), '--trace', self.trace] + self.options,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().strip()
        m = re.fullmatch(r'tds-server: listening on 127\.0\.0\.1:(\d+)', line)
        if not m:
            self.process.kill()
            raise AssertionError('tds-server did not start: %r %s' % (line, self.process.stderr.read()))
        self.port = int(m.group(1))
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
        if self.process:
            self.process.stdout.close()
            self.process.stderr.close()

    def kill(self):
        self.process.kill()
        self.process.wait(10)
        self.process.stdout.close()
        self.process.stderr.close()

    def trace_lines(self):
        with open(self.trace, encoding='utf-8') as f:
            return f.read().splitlines()

    def connection_text(self, user=LOGIN, password=PASSWORD, database='OrvaneDb'):
        return ('DRIVER={%s};Server=127.0.0.1;Port=%d;Database=%s;TDS_Version=7.4;ClientCharset=UTF-8;'
                'UID=%s;PWD=%s' % (tds_driver(), self.port, database, user, password))


class TdsServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tds_driver()
        cls.work = tempfile.TemporaryDirectory(prefix='tds-server-test.')
        cls.folder = cls.work.name
        cls.db = os.path.join(cls.folder, 'OrvaneDb')
        subprocess.run([NEW_ORVANEDB, cls.db, str(SUBSCRIBERS)], check=True)
        cls.server = Server(cls.folder, cls.db).start()
        # The data source a client of the real route defines: odbcinst.ini names the driver, odbc.ini the
        # server. unixODBC reads both once per process, so they are written before the first connection.
        with open(os.path.join(cls.folder, 'odbcinst.ini'), 'w') as f:
            f.write('[FreeTDS]\nDescription=FreeTDS\nDriver=%s\n' % tds_driver())
        with open(os.path.join(cls.folder, 'odbc.ini'), 'w') as f:
            f.write('[OrvaneDb]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=%d\nDatabase=OrvaneDb\nTDS_Version=7.4\n'
                    'ClientCharset=UTF-8\n' % cls.server.port)
        with open(os.path.join(cls.folder, 'freetds.conf'), 'w') as f:
            f.write('[global]\n\ttds version = 7.4\n\tclient charset = UTF-8\n')
        os.environ['ODBCSYSINI'] = cls.folder
        os.environ['ODBCINI'] = os.path.join(cls.folder, 'odbc.ini')
        cls.env = dict(os.environ, FREETDSCONF=os.path.join(cls.folder, 'freetds.conf'), **CLIENT_ENV)
        cls.odbc = Odbc()
        cls.dsn = 'DSN=OrvaneDb;UID=%s;PWD=%s' % (LOGIN, PASSWORD)
        cls.statements = Statements()
        cls.others = []

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        for other in cls.others:
            other.stop()
        cls.work.cleanup()

    def direct(self, sql, args=()):
        """The stand-in file itself, read without the server."""
        db = sqlite3.connect(self.db)
        try:
            return db.execute(sql, args).fetchall()
        finally:
            db.close()

    def connect(self, text=None):
        connection = self.odbc.connect(text or self.dsn)
        self.addCleanup(connection.close)
        return connection

    def tsql(self, sql, password=PASSWORD, port=None):
        script = sql + '\ngo\nexit\n'
        run = subprocess.run(['tsql', '-H', '127.0.0.1', '-p', str(port or self.server.port), '-U', LOGIN, '-P',
                              password, '-D', 'OrvaneDb'], input=script.encode('utf-8'), capture_output=True,
                             env=self.env, timeout=30)
        return run.stdout.decode('utf-8') + run.stderr.decode('utf-8')

    def isql(self, sql, user=LOGIN, password=PASSWORD):
        run = subprocess.run(['isql', '-b', '-v', '-c', '-x0x09', 'OrvaneDb', user, password],
                             input=sql.encode('utf-8') + b'\n', capture_output=True, env=self.env, timeout=30)
        return run.returncode, run.stdout.decode('utf-8') + run.stderr.decode('utf-8')

    def other_server(self, *options):
        server = Server(self.folder, self.db, *options).start()
        type(self).others.append(server)
        return server

    # --- sign-in ---------------------------------------------------------------------------------------

    def test_sign_in(self):
        c = self.connect()
        self.assertEqual(c.execute('SELECT DB_NAME(), SUSER_SNAME()').rows, [('OrvaneDb', LOGIN)])

        with self.assertRaises(OdbcError) as wrong:
            self.odbc.connect(self.server.connection_text(password='wrong'))
        self.assertIn(18456, wrong.exception.natives)
        self.assertIn("Login failed for user 'culvane'.", wrong.exception.text)

        # Login names ignore case, passwords do not.
        with self.assertRaises(OdbcError) as case:
            self.odbc.connect(self.server.connection_text(password=PASSWORD.upper()))
        self.assertIn(18456, case.exception.natives)
        self.connect(self.server.connection_text(user=LOGIN.upper())).execute('SELECT 1')

        # Qt's QODBC passes its connection text's length with the closing NUL counted in.
        counted = self.odbc.connect(self.dsn, length=len(self.dsn) + 1)
        self.addCleanup(counted.close)
        self.assertEqual(counted.execute('SELECT 1').rows, [(1,)])

        with self.assertRaises(OdbcError) as windows:
            self.odbc.connect(self.server.connection_text(user='EXAMPLE\\culvane'))
        self.assertIn(18456, windows.exception.natives)
        self.assertIn('Login failed for user', windows.exception.text)

        with self.assertRaises(OdbcError) as database:
            self.odbc.connect(self.server.connection_text(database='master'))
        self.assertIn(4060, database.exception.natives)

        out = self.tsql('SELECT db_name()', password='nope')
        self.assertIn('Msg 18456', out)
        self.assertIn("Login failed for user 'culvane'.", out)
        code, out = self.isql('SELECT 1', password='nope')
        self.assertNotEqual(code, 0)
        self.assertIn("Login failed for user 'culvane'.", out)

        traced = '\n'.join(self.server.trace_lines())
        self.assertIn("sign-in refused: Login failed for user 'culvane'.", traced)
        self.assertIn('TDS 0x74000004', traced)

    # --- the program's statements -----------------------------------------------------------------------

    def expected_range(self, low, high):
        """Subscribers of the criteria's types with an extension in [low, high], padded as the program pads."""
        s = self.statements
        lo, hi = s.pad(low).rstrip(), s.pad(high).rstrip()
        rows = self.direct('SELECT d.ParentObjectID, d.DTMFAccessID FROM dtmfaccessid d JOIN subscriber s ON '
                           's.SubscriberObjectID = d.ParentObjectID WHERE s.SubscriberType IN (1,2,3,5,7,8,9)')
        return sorted({(parent,) for parent, ext in rows if lo <= ('0' * 20 + ext)[-20:] <= hi})

    def test_program_statements(self):
        c = self.connect()
        for name, sql, ordered in self.statements.samples():
            with self.subTest(statement=name):
                got = c.execute(sql).rows
                want = self.direct(Statements.on_sqlite(sql))
                self.assertEqual(got if ordered else sorted(got), want if ordered else sorted(want))

        s = self.statements
        sample = s.sample
        # The one statement SQLite cannot run as the program writes it: right('000..' + x, 20) between '..'.
        ranged = c.execute(s.extension_range(sample['rangeLow'], sample['rangeHigh'])).rows
        self.assertEqual(sorted(ranged), self.expected_range(sample['rangeLow'], sample['rangeHigh']))
        self.assertIn((sample['subscriberObjectId'],), ranged)  # extension 401
        one = c.execute(s.extension_range(sample['extension'], sample['extension'])).rows
        self.assertEqual(one, [(sample['subscriberObjectId'],)])
        self.assertEqual(c.execute(s.extension_range('99000013', '99000013')).rows, one)

        # Values the generated stand-in is known to hold, as the program reads them.
        detail = c.execute(s.subscriber_detail(sample['subscriberObjectId']))
        self.assertEqual([n for n, _, _ in detail.columns],
                         ['Alias', 'DisplayName', 'FirstName', 'LastName', 'Extension', 'HomeServer', 'COS',
                          'SubscriberObjectID', 'CallHandlerObjectID', 'RemoteNodeID', 'LegacyMailbox'])
        self.assertEqual(detail.rows[0][0], 'user00013')
        self.assertEqual(detail.rows[0][4], '401')
        self.assertEqual([t for _, t, _ in detail.columns][:2], [SQL_WVARCHAR, SQL_WVARCHAR])
        self.assertEqual(c.execute(s.csv_by_alias(sample['alias'])).rows[0][0], "o'brien38")
        everyone = c.execute(s.all_subscribers()).rows
        self.assertIn('José Müller', [row[1] for row in everyone])
        self.assertIn('josé.müller2', [row[0] for row in everyone])
        cos = c.execute(s.CosStatement).rows
        self.assertIn('Élèves et étudiants', [row[2] for row in cos])
        count = c.execute(s.ArchivedCountStatement)
        self.assertEqual(count.columns[0][:2], ('', SQL_INTEGER))  # SQL Server leaves count(*) unnamed
        self.assertEqual(count.rows, self.direct('SELECT count(*) FROM subscriber WHERE SubscriberType = 0 AND '
                                                 'CallHandlerObjectID IS NOT NULL'))
        self.assertGreater(count.rows[0][0], 0)

    def test_texts_through_the_command_line_clients(self):
        s = self.statements
        # isql, through the data source, in the C locale with ClientCharset=UTF-8.
        code, out = self.isql(s.by_criterion(s.CosCondition, s.sample['cosObjectId']))
        self.assertEqual(code, 0, out)
        want = self.direct(Statements.on_sqlite(s.by_criterion(s.CosCondition, s.sample['cosObjectId'])))
        lines = out.splitlines()
        self.assertEqual(lines[0].split('\t')[:3], ['Alias', 'DisplayName', 'FirstName'])
        self.assertEqual([line.split('\t')[0] for line in lines[1:len(want) + 1]], [row[0] for row in want])
        code, out = self.isql("SELECT DisplayName FROM vw_Subscriber WHERE FirstName = N'José' AND "
                              "LastName = 'Müller' ORDER BY Alias")
        self.assertEqual(code, 0, out)
        names = self.direct("SELECT DisplayName FROM subscriber WHERE FirstName = 'José' AND LastName = 'Müller'")
        self.assertTrue(names)
        self.assertEqual(out.count('José Müller'), len(names))

        # tsql, straight to host and port.
        out = self.tsql("SELECT TOP 2 [Alias], DisplayName FROM dbo.[vw_Subscriber] WITH (NOLOCK) WHERE Alias "
                        "LIKE N'josé%' ORDER BY Alias")
        want = self.direct("SELECT Alias, DisplayName FROM subscriber WHERE Alias LIKE 'josé%' ORDER BY Alias "
                           "LIMIT 2")
        for alias, display in want:
            self.assertIn('%s\t%s' % (alias, display), out)
        self.assertIn('(2 rows affected)', out)

    def test_tsql_forms(self):
        c = self.connect()
        rows = c.execute("SELECT N'Zoë' + ' ' + LastName, right('0000' + DTMFAccessID, 6), len('ab  '), "
                         "isnull(RemoteNodeID, 'none') FROM [dbo].[vw_Subscriber] WHERE Alias = N'user00013'").rows
        self.assertEqual(rows, [("Zoë O'Brien", '000401', 2, 'none')])
        # Texts compare ignoring case, as the server's collation does.
        self.assertEqual(c.execute("SELECT Alias FROM vw_subscriber WHERE ALIAS = 'USER00013'").rows,
                         [('user00013',)])
        many = c.execute('SET NOCOUNT ON; SELECT TOP (3) Alias FROM vw_Subscriber ORDER BY Alias; '
                         'SELECT @@SPID, @@TRANCOUNT, CAST(SERVERPROPERTY(\'ProductVersion\') AS nvarchar(20))')
        self.assertEqual(len(many.sets), 2)
        self.assertEqual(many.sets[0][1], self.direct('SELECT Alias FROM subscriber ORDER BY Alias LIMIT 3'))
        spid, trancount, version = many.sets[1][1][0]
        self.assertGreater(spid, 50)
        self.assertEqual((trancount, version), (0, '16.0.1000.0'))
        self.assertEqual(c.execute('USE OrvaneDb; SELECT count(*) FROM vw_COS').rows, [(8,)])
        with self.assertRaises(OdbcError) as use:
            c.execute('USE master')
        self.assertIn(911, use.exception.natives)

    def test_errors(self):
        c = self.connect()
        cases = [('SELECT * FROM vw_NoSuchView', 208, "Invalid object name 'vw_NoSuchView'."),
                 ('SELECT NoSuchColumn FROM vw_Subscriber', 207, "Invalid column name 'NoSuchColumn'."),
                 ('SELECT Alias FROM vw_Subscriber WHERE', 102, 'Incorrect syntax'),
                 ("SELECT 'unclosed FROM vw_Subscriber", 105, 'Unclosed quotation mark'),
                 ('EXEC sp_NoSuchProcedure @A=1', 2812, "Could not find stored procedure 'sp_NoSuchProcedure'."),
                 ("EXEC sp_DeleteDirectorySyncTicket @NoSuch='x'", 8145,
                  '@NoSuch is not a parameter for procedure sp_DeleteDirectorySyncTicket.'),
                 ('SELECT @Undeclared', 137, 'Must declare the scalar variable "@Undeclared".')]
        for sql, number, text in cases:
            with self.subTest(sql=sql):
                with self.assertRaises(OdbcError) as error:
                    c.execute(sql)
                self.assertIn(number, error.exception.natives)
                self.assertIn(text, error.exception.text)
        # The connection goes on after an error, and so does tsql.
        self.assertEqual(c.execute('SELECT 1').rows, [(1,)])
        out = self.tsql('select * from nosuch')
        self.assertIn('Msg 208', out)
        self.assertIn("Invalid object name 'nosuch'.", out)

    # --- procedures ----------------------------------------------------------------------------------------

    def subscriber(self, n):
        return '{%08X-5B5C-4%03X-8%03X-%012X}' % (n * 2654435761 % 2 ** 32, n % 4096, n // 4096 % 4096, n)

    def test_procedures(self):
        s = self.statements
        c = self.connect()
        victim = self.subscriber(101)
        ticket = '{%s}' % str(uuid.uuid4()).upper()
        self.assertEqual(len(self.direct('SELECT 1 FROM subscriber WHERE SubscriberObjectID = ?', (victim,))), 1)
        # As the program calls it: EXEC with named parameters bound to ?, a forward-only prepared statement.
        c.execute(s.delete_subscriber(), [victim, 1, s.DirectorySyncFlags, 1, 1, ticket], prepare=True)
        self.assertEqual(self.direct('SELECT 1 FROM subscriber WHERE SubscriberObjectID = ?', (victim,)), [])
        self.assertEqual(self.direct('SELECT 1 FROM dtmfaccessid WHERE ParentObjectID = ?', (victim,)), [])
        self.assertEqual(self.direct('SELECT SubscriberObjectID, Found, DirectorySync, DirectorySyncFlags, '
                                     'ForceRemove, ForceRemoveEAdmin, DirectorySyncTicket FROM standin_deletions'),
                         [(victim, 1, 1, s.DirectorySyncFlags, 1, 1, ticket)])
        # The ticket the deletion left, read with the program's ticket poll.
        self.assertEqual(c.execute(s.ticket_poll(ticket)).rows, [(ticket, 0, victim)])

        c.execute(s.delete_ticket(), [ticket], prepare=True)
        self.assertEqual(c.execute(s.ticket_poll(ticket)).rows, [])
        self.assertEqual(self.direct('SELECT Ticket, RowsRemoved FROM standin_ticket_deletions'), [(ticket, 1)])

        # Unset parameters arrive as NULL; the procedure called by name ({call}) and in a batch with literals.
        second, third = self.subscriber(102), self.subscriber(103)
        c.execute('{call sp_DeleteSubscriber(?, ?)}', [second, 0])
        c.execute("EXEC dbo.sp_DeleteSubscriber @SubscriberObjectID = N'%s', @DirectorySync = 1, "
                  "@DirectorySyncTicket = N'%s'" % (third, ticket))
        self.assertEqual(self.direct('SELECT SubscriberObjectID, DirectorySync, ForceRemove, DirectorySyncTicket '
                                     'FROM standin_deletions ORDER BY Seq')[1:],
                         [(second, 0, None, None), (third, 1, None, ticket)])
        self.assertEqual(c.execute(s.ticket_poll(ticket)).rows, [(ticket, 0, third)])
        self.assertEqual(self.direct('SELECT count(*) FROM subscriber WHERE SubscriberObjectID IN (?, ?)',
                                     (second, third)), [(0,)])

        routes = [line for line in self.server.trace_lines() if ' rpc ' in line or ' batch: ' in line]
        self.assertTrue(any('rpc sp_prepexec' in line and 'EXEC sp_DeleteSubscriber @SubscriberObjectID=@P1'
                            in line for line in routes))
        self.assertTrue(any('rpc sp_DeleteSubscriber:' in line for line in routes))

    def test_routes_of_bound_parameters(self):
        """What FreeTDS sends for each way of running a statement, and the same rows from each."""
        c = self.connect()
        sql = 'SELECT Alias, SubscriberType FROM vw_Subscriber WHERE Alias = ?'
        want = self.direct('SELECT Alias, SubscriberType FROM subscriber WHERE Alias = ?', ('josé.müller43',))
        self.assertEqual(len(want), 1)
        self.assertEqual(c.execute(sql, ['josé.müller43']).rows, want)
        self.assertEqual(c.execute(sql, ['josé.müller43'], prepare=True).rows, want)
        self.assertEqual(c.execute(sql, ['josé.müller43'], prepare=True, describe_first=True).rows, want)
        self.assertEqual(c.execute(sql, ['josé.müller43'.encode('utf-8')]).rows, want)  # a VARCHAR parameter
        self.assertEqual(c.execute("SELECT Alias, SubscriberType FROM vw_Subscriber WHERE Alias = N'josé.müller43'",
                                   prepare=True).rows, want)
        self.assertEqual(c.execute('SELECT Alias FROM vw_Subscriber WHERE SubscriberObjectID = ?',
                                   [uuid.UUID(self.subscriber(13))]).rows, [('user00013',)])
        updated = c.execute('UPDATE subscriber SET SwitchID = SwitchID WHERE SubscriberType = ?', [2], prepare=True)
        self.assertEqual(updated.rowcount,
                         self.direct('SELECT count(*) FROM subscriber WHERE SubscriberType = 2')[0][0])
        traced = '\n'.join(self.server.trace_lines())
        self.assertIn('rpc sp_executesql (id 10): (unnamed) ntext=\'SELECT Alias, SubscriberType FROM vw_Subscriber '
                      'WHERE Alias = @P1\'', traced)
        self.assertIn("(unnamed) varchar='josé.müller43'", traced)
        self.assertIn('rpc sp_prepexec (id 13)', traced)
        self.assertIn('rpc sp_unprepare (id 15)', traced)
        self.assertIn("rpc sp_prepare (id 11): (unnamed) intn=None, (unnamed) ntext='@P1 NVARCHAR(13)'", traced)
        self.assertIn("rpc sp_execute (id 12): (unnamed) intn=", traced)
        self.assertIn("uniqueidentifier='%s'" % self.subscriber(13), traced)

    def test_transactions(self):
        c = self.connect()
        settings = "SELECT Value FROM standin_settings WHERE Name = 'SyncByService'"
        change = "UPDATE standin_settings SET Value = ? WHERE Name = 'SyncByService'"
        c.set_autocommit(False)
        c.execute(change, [7])
        self.assertEqual(c.execute(settings).rows, [(7,)])
        self.assertEqual(self.direct(settings), [(0,)])  # not yet for anyone else
        c.end_transaction(commit=False)
        self.assertEqual(c.execute(settings).rows, [(0,)])
        c.execute(change, [1])
        c.end_transaction(commit=True)
        self.assertEqual(self.direct(settings), [(1,)])
        c.execute(change, [0])
        c.end_transaction(commit=True)
        c.set_autocommit(True)
        self.assertEqual(c.execute('SELECT @@TRANCOUNT').rows, [(0,)])
        # A batch's own transaction.
        c.execute("BEGIN TRAN; UPDATE standin_settings SET Value = 5 WHERE Name = 'SyncByService'; ROLLBACK TRAN")
        self.assertEqual(self.direct(settings), [(0,)])
        self.assertIn('transaction request 5', '\n'.join(self.server.trace_lines()))

    # --- cursors, identifiers as GUIDs ---------------------------------------------------------------------

    def test_server_cursors(self):
        s = self.statements
        c = self.connect()
        select = s.by_criterion(s.HomeServerCondition, s.sample['homeServer'])
        for cursor in (SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC):
            with self.assertRaises(OdbcError) as refused:
                c.execute(s.delete_ticket(), ['{6F1C0D2E-9A41-4B7E-8C55-0123456789AB}'], prepare=True,
                          cursor_type=cursor)
            self.assertIn(16937, refused.exception.natives)
            self.assertIn('A server cursor is not allowed on a remote stored procedure or stored procedure with '
                          'more than one SELECT statement. Use a default result set or client cursor.',
                          refused.exception.text)
            with self.assertRaises(OdbcError) as strict:
                c.execute(select, cursor_type=cursor)
            self.assertIn(16937, strict.exception.natives)
        self.assertIn('rpc sp_cursoropen (id 2)', '\n'.join(self.server.trace_lines()))
        self.assertEqual(c.execute('SELECT 1').rows, [(1,)])
        # A SET on a cursor runs directly, as SQL Server runs it (Qt's QODBC sends one at each connection).
        c.execute('SET QUOTED_IDENTIFIER ON', cursor_type=SQL_CURSOR_STATIC)
        self.assertIn("rpc sp_cursoropen (id 2): (unnamed) intn=None, (unnamed) ntext='SET QUOTED_IDENTIFIER ON'",
                      '\n'.join(self.server.trace_lines()))

        # Without --strict-cursors a plain SELECT gets a static cursor; a procedure call still none.
        lenient = self.other_server('--no-strict-cursors')
        c2 = self.connect(lenient.connection_text())
        want = self.direct(Statements.on_sqlite(select))
        self.assertGreater(len(want), 1)
        self.assertEqual(c2.execute(select, cursor_type=SQL_CURSOR_KEYSET_DRIVEN).rows, want)
        self.assertEqual(c2.execute('SELECT Alias FROM vw_Subscriber WHERE Alias LIKE ? ORDER BY Alias', ['jos%'],
                                    cursor_type=SQL_CURSOR_STATIC).rows,
                         self.direct("SELECT Alias FROM subscriber WHERE Alias LIKE 'jos%' ORDER BY Alias"))
        with self.assertRaises(OdbcError) as refused:
            c2.execute(s.delete_ticket(), ['x'], cursor_type=SQL_CURSOR_KEYSET_DRIVEN)
        self.assertIn(16937, refused.exception.natives)
        self.assertIn('rpc sp_cursorfetch (id 7)', '\n'.join(lenient.trace_lines()))

    def test_guid_columns(self):
        s = self.statements
        detail = s.subscriber_detail(s.sample['subscriberObjectId'])
        plain = self.connect().execute(detail)
        types = {name: kind for name, kind, _ in plain.columns}
        self.assertEqual(types['SubscriberObjectID'], SQL_WVARCHAR)
        self.assertEqual(plain.rows[0][7], s.sample['subscriberObjectId'])

        guids = self.other_server('--guid-columns')
        c = self.connect(guids.connection_text())
        result = c.execute(detail)
        types = {name: kind for name, kind, _ in result.columns}
        self.assertEqual(types['SubscriberObjectID'], SQL_GUID)
        self.assertEqual(types['CallHandlerObjectID'], SQL_GUID)
        self.assertEqual(types['Alias'], SQL_WVARCHAR)
        stored = self.direct('SELECT SubscriberObjectID, CallHandlerObjectID FROM subscriber WHERE '
                             'SubscriberObjectID = ?', (s.sample['subscriberObjectId'],))[0]
        self.assertEqual((result.rows[0][7], result.rows[0][8]), tuple(v.strip('{}') for v in stored))
        cos = c.execute(s.CosStatement)
        self.assertEqual(cos.columns[0][1], SQL_GUID)
        self.assertEqual([row[0] for row in cos.rows],
                         [row[0].strip('{}') for row in self.direct(s.CosStatement)])
        poll = c.execute(s.ticket_poll('{00000000-0000-0000-0000-000000000000}'))
        self.assertEqual([kind for _, kind, _ in poll.columns], [SQL_GUID, SQL_INTEGER, SQL_GUID])
        # A GUID parameter finds the braced text the stand-in stores.
        self.assertEqual(c.execute('SELECT Alias FROM vw_Subscriber WHERE SubscriberObjectID = ?',
                                   [uuid.UUID(s.sample['subscriberObjectId'])]).rows, [('user00013',)])

    # --- cancel, restart ---------------------------------------------------------------------------------------

    def test_cancel(self):
        c = self.connect()
        started = time.monotonic()
        with self.assertRaises(OdbcError) as timeout:
            c.execute('WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000000000) '
                      'SELECT count(*) FROM n', timeout=1)
        self.assertIn('HYT00', [r[0] for r in timeout.exception.records])
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(c.execute('SELECT 2').rows, [(2,)])

        # A statement waiting for a lock that another writer holds is cancelled as well.
        holder = sqlite3.connect(self.db, isolation_level=None)
        self.addCleanup(holder.close)
        holder.execute('BEGIN IMMEDIATE')
        with self.assertRaises(OdbcError) as locked:
            c.execute("UPDATE standin_settings SET Value = 0 WHERE Name = 'SyncByService'", timeout=1)
        self.assertIn('HYT00', [r[0] for r in locked.exception.records])
        holder.execute('ROLLBACK')
        self.assertEqual(c.execute('SELECT 3').rows, [(3,)])
        self.assertGreaterEqual(sum(line.endswith(' attention') for line in self.server.trace_lines()), 2)

    def test_restart_on_the_same_port(self):
        server = self.other_server()
        text = server.connection_text()
        before = self.connect(text)
        self.assertEqual(before.execute('SELECT count(*) FROM vw_COS').rows, [(8,)])
        server.kill()
        with self.assertRaises(OdbcError):
            before.execute('SELECT count(*) FROM vw_COS')
        with self.assertRaises(OdbcError):
            self.odbc.connect(text, timeout=2)
        again = Server(self.folder, self.db, port=server.port).start()
        type(self).others.append(again)
        self.assertEqual(again.port, server.port)
        after = self.connect(text)
        self.assertEqual(after.execute('SELECT count(*) FROM vw_COS').rows, [(8,)])
        # SIGTERM ends it cleanly.
        again.process.send_signal(signal.SIGTERM)
        self.assertEqual(again.process.wait(10), 0)
        self.assertIn('tds-server: stopped', again.process.stdout.read())


if __name__ == '__main__':
    unittest.main(verbosity=2)

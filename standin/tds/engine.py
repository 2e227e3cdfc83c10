"""One client's session on the stand-in file: runs translated statements and procedure calls on SQLite and
describes the results in SQL Server's terms."""

import re
import sqlite3
import time
import uuid
from dataclasses import dataclass

from . import protocol as p
from .translate import Translator, TsqlError


@dataclass
class Rows:
    columns: list  # (name, column type)
    rows: list


@dataclass
class Count:
    count: object  # rows affected, or None when the statement reports none
    command: int


@dataclass
class ProcedureDone:
    status: int


@dataclass
class EnvChange:
    token: bytes
    info: str


@dataclass
class Failure:
    number: int
    severity: int
    state: int
    message: str


class Cancelled(Exception):
    pass


COMMANDS = {'select': p.CMD_SELECT, 'insert': p.CMD_INSERT, 'delete': p.CMD_DELETE, 'update': p.CMD_UPDATE,
            'with': p.CMD_SELECT}

LOCK_SLICE = 0.1

CURSOR_REFUSED = ('A server cursor is not allowed on a remote stored procedure or stored procedure with more '
                  'than one SELECT statement. Use a default result set or client cursor.')

# The server-wide views that ask for VIEW SERVER STATE.
SERVER_STATE = re.compile(r'\bsys\s*\.\s*dm_exec_', re.I)

DECLARED_LENGTH = re.compile(r'\(\s*(\d+)')


def is_guid_column(name):
    lowered = name.lower()
    return lowered.endswith('objectid') or lowered == 'ticket'


def failure_of(error):
    """SQLite's complaint as the SQL Server error an application would recognise."""
    text = str(error)
    m = re.match(r'no such table: (?:main\.|temp\.)?(.+)', text)
    if m:
        return Failure(208, 16, 1, "Invalid object name '%s'." % m.group(1))
    m = re.match(r'no such column: (.+)', text)
    if m:
        name = m.group(1)
        if '.' in name:
            return Failure(4104, 16, 1, 'The multi-part identifier "%s" could not be bound.' % name)
        return Failure(207, 16, 1, "Invalid column name '%s'." % name)
    m = re.match(r'near "(.*)": syntax error', text, re.S)
    if m:
        return Failure(102, 15, 1, "Incorrect syntax near '%s'." % m.group(1))
    if text.startswith('incomplete input'):
        return Failure(102, 15, 1, 'Incorrect syntax near the end of the statement.')
    m = re.match(r'no such function: (.+)', text)
    if m:
        return Failure(195, 15, 10, "'%s' is not a recognized built-in function name." % m.group(1))
    if 'database is locked' in text or 'database table is locked' in text:
        return Failure(1222, 16, 51, 'Lock request time out period exceeded.')
    m = re.match(r'NOT NULL constraint failed: (\w+)\.(\w+)', text)
    if m:
        return Failure(515, 16, 2, "Cannot insert the value NULL into column '%s', table 'OrvaneDb.dbo.%s'; "
                       "column does not allow nulls. INSERT fails." % (m.group(2), m.group(1)))
    if text.startswith('UNIQUE constraint failed'):
        return Failure(2627, 14, 1, 'Violation of UNIQUE KEY constraint. Cannot insert duplicate key (%s).'
                       % text.split(': ', 1)[-1])
    if 'readonly' in text:
        return Failure(3906, 16, 1, 'Failed to update database because the database is read-only.')
    if text.startswith('cannot commit - no transaction'):
        return Failure(3902, 16, 1, 'The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.')
    if text.startswith('cannot rollback - no transaction'):
        return Failure(3903, 16, 1,
                       'The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.')
    return Failure(50000, 16, 1, 'The stand-in database refused the statement: %s' % text)


class Engine:
    def __init__(self, config, context):
        self.config = config
        self.context = context
        # SQLite waits for a lock only briefly; execute() keeps trying until the busy timeout, so that a
        # client's cancel ends the wait.
        self.db = sqlite3.connect('file:%s?mode=rw' % config.db_uri_path, uri=True, timeout=LOCK_SLICE,
                                  isolation_level=None, check_same_thread=False)
        self.cancelled = lambda: False
        self.execute('SELECT count(*) FROM sqlite_master').fetchone()  # a damaged file fails here
        self._connection_view()
        self.translator = Translator(context)
        self.nocount = False
        self.textsize = 4096
        self.transactions = 0
        self.declared = {}
        self.procedures = {}
        self.prepared = {}
        self.next_handle = 1

    def _connection_view(self):
        """sys.dm_exec_connections with this session's row: how it signed in and whether it is encrypted."""
        c = self.context
        self.db.execute("ATTACH DATABASE ':memory:' AS sys")
        self.db.execute('CREATE TABLE sys.dm_exec_connections (session_id int, most_recent_session_id int, '
                        'connect_time nvarchar(23), net_transport nvarchar(40), protocol_type nvarchar(40), '
                        'protocol_version int, encrypt_option nvarchar(40), auth_scheme nvarchar(40), '
                        'net_packet_size int, client_net_address nvarchar(48), client_tcp_port int, '
                        'local_net_address nvarchar(48), local_tcp_port int, connection_id nvarchar(36))')
        self.db.execute("INSERT INTO sys.dm_exec_connections VALUES (?, ?, strftime('%Y-%m-%d %H:%M:%f', 'now', "
                        "'localtime'), 'TCP', 'TSQL', ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                        (c.spid, c.spid, p.TDS74, c.encrypt_option, c.auth_scheme, c.packet_size, c.peer[0],
                         c.peer[1], c.local[0], c.local[1], str(uuid.uuid4()).upper()))

    def close(self):
        try:
            if self.db.in_transaction:
                self.db.rollback()
        finally:
            self.db.close()

    def reset(self):
        """A client's connection reset: back to a fresh session on the same login."""
        if self.db.in_transaction:
            self.db.rollback()
        self.transactions = 0
        self.nocount = False
        self.textsize = 4096
        self.prepared.clear()

    def interrupt(self):
        self.db.interrupt()

    def execute(self, sql, args=()):
        deadline = time.monotonic() + self.config.busy_timeout
        while True:
            try:
                return self.db.execute(sql, args)
            except sqlite3.OperationalError as e:
                locked = 'database is locked' in str(e) or 'database table is locked' in str(e)
                if not locked or time.monotonic() >= deadline:
                    raise
                if self.cancelled():
                    raise Cancelled() from e

    def trancount(self):
        return self.transactions

    # --- batches and statements ------------------------------------------------------------------

    def run_text(self, text, values=None):
        """Every result of a batch (or of sp_executesql's statement); stops at the first failure.
        values: parameter values by lower-case name, or None where no parameter may appear."""
        try:
            statements = self.translator.batch(text)
        except TsqlError as e:
            yield Failure(e.number, e.severity, e.state, e.message)
            return
        for statement in statements:
            failed = False
            for result in self.run_statement(statement, values):
                yield result
                failed = isinstance(result, Failure)
            if failed:
                return

    def run_statement(self, st, values):
        yield from self._guarded(self._statement(st, values))

    def run_call(self, name, arguments):
        """A procedure called by name over RPC; arguments as call() takes them."""
        yield from self._guarded(self.call(name, arguments))

    def _guarded(self, results):
        try:
            yield from results
        except TsqlError as e:
            yield Failure(e.number, e.severity, e.state, e.message)
        except sqlite3.OperationalError as e:
            if str(e) == 'interrupted':
                raise Cancelled() from e
            yield failure_of(e)
        except sqlite3.Error as e:
            yield failure_of(e)

    def _statement(self, st, values):
        if st.kind == 'set':
            yield self._set(st)
        elif st.kind == 'use':
            yield self._use(st.option)
        elif st.kind == 'exec':
            yield from self.call(st.procedure,
                                 [(name, sql, [self._value(v, values) for v in names])
                                  for name, sql, names in st.arguments])
        elif st.kind == 'begin':
            if self.transactions == 0:
                self.execute('BEGIN')
            self.transactions += 1
            yield Count(None, p.CMD_OTHER)
        elif st.kind in ('commit', 'rollback'):
            if self.transactions == 0:
                self.execute(st.sql)  # SQLite names the missing transaction
            self.transactions = 0 if st.kind == 'rollback' else self.transactions - 1
            if self.transactions == 0:
                self.execute(st.sql)
            yield Count(None, p.CMD_OTHER)
        else:
            if self.config.deny_view_server_state and SERVER_STATE.search(st.text):
                yield Failure(300, 14, 1, "VIEW SERVER STATE permission was denied on object 'server', "
                                          "database 'master'.")
                yield Failure(297, 16, 1, 'The user does not have permission to perform this action.')
                return
            args = [self._value(name, values) for name in st.params]
            yield self._query(st.sql, args, st.text, st.unnamed)

    def _value(self, name, values):
        if values is None or name.lower() not in values:
            raise TsqlError(137, 'Must declare the scalar variable "@%s".' % name, 15, 2)
        return values[name.lower()]

    def _set(self, st):
        if st.option == 'NOCOUNT' and st.value in ('ON', 'OFF'):
            self.nocount = st.value == 'ON'
        elif st.option == 'TEXTSIZE' and st.value.lstrip('-').isdigit():
            self.textsize = int(st.value)
        # Everything else (ANSI_*, QUOTED_IDENTIFIER, DATEFORMAT, LANGUAGE, ...) already holds or does not
        # matter to the stand-in.
        return Count(None, p.CMD_OTHER)

    def _use(self, name):
        if name.lower() != self.config.database.lower():
            raise TsqlError(911, "Database '%s' does not exist. Make sure that the name is entered correctly."
                            % name, 16, 1)
        database = self.config.database
        return EnvChange(p.envchange(1, database, database), "Changed database context to '%s'." % database)

    def _query(self, sql, args, original, unnamed=None):
        cursor = self.execute(sql, args)
        if cursor.description is None:
            first = original.split(None, 1)[0].lower() if original.strip() else ''
            count = cursor.rowcount if cursor.rowcount >= 0 else None
            return Count(count, COMMANDS.get(first, p.CMD_OTHER))
        rows = cursor.fetchall()
        names = [d[0] for d in cursor.description]
        if unnamed and len(unnamed) == len(names):
            names = ['' if blank else name for name, blank in zip(names, unnamed)]
        declared = self._declared(sql, len(names)) if not args else self._declared_shape(sql, args, len(names))
        columns = [(name, self.column_type(name, declared[i], [r[i] for r in rows]))
                   for i, name in enumerate(names)]
        return Rows(columns, rows)

    # --- describing results ------------------------------------------------------------------------

    def _declared(self, sql, count):
        """The declared types of a query's columns, as a temporary view over it reports them."""
        key = sql
        if key not in self.declared:
            types = [''] * count
            try:
                self.db.execute('CREATE TEMP VIEW tds_shape AS ' + sql)
                try:
                    types = [row[2] for row in self.db.execute('PRAGMA temp.table_info(tds_shape)')]
                finally:
                    self.db.execute('DROP VIEW temp.tds_shape')
            except sqlite3.Error:
                pass
            if len(self.declared) > 512:
                self.declared.clear()
            self.declared[key] = types
        types = self.declared[key]
        return types if len(types) == count else [''] * count

    def _declared_shape(self, sql, args, count):
        # A view takes no parameters: the shape comes from the same statement with its values written in.
        try:
            return self._declared(inline_parameters(sql, [None] * len(args)), count)
        except ValueError:
            return [''] * count

    def column_type(self, name, declared, values):
        d = (declared or '').upper()
        present = [v for v in values if v is not None]
        if self.config.guid_columns and is_guid_column(name) and ('CHAR' in d or 'TEXT' in d or not d) \
                and all(isinstance(v, str) and p.GUID_TEXT.match(v) for v in present):
            return p.Guid()
        kinds = {type(v) for v in present}
        if 'INT' in d and kinds <= {int}:
            wide = 'BIGINT' in d or any(not -2 ** 31 <= v < 2 ** 31 for v in present)
            return p.IntN(8 if wide else 4)
        if ('CHAR' in d or 'CLOB' in d or 'TEXT' in d) and kinds <= {str}:
            m = DECLARED_LENGTH.search(d)
            return self._text(int(m.group(1)) if m else 4000, present)
        if ('REAL' in d or 'FLOA' in d or 'DOUB' in d) and kinds <= {int, float}:
            return p.FltN()
        if ('BIT' in d or 'BOOL' in d) and all(v in (0, 1) for v in present):
            return p.BitN()
        if 'BLOB' in d and kinds <= {bytes}:
            return p.VarBinary(max([8000] + [len(v) for v in present]))
        if kinds and kinds <= {int}:
            return p.IntN(4 if all(-2 ** 31 <= v < 2 ** 31 for v in present) else 8)
        if kinds and kinds <= {int, float}:
            return p.FltN()
        if kinds == {bytes}:
            return p.VarBinary(max([8000] + [len(v) for v in present]))
        return self._text(4000, present)

    @staticmethod
    def _text(chars, present):
        longest = max([p.utf16_length(v if isinstance(v, str) else p.text_of(v)) for v in present] or [0])
        return p.NVarChar(max(chars, longest, 1))

    # --- procedures ------------------------------------------------------------------------------------

    def procedure(self, name):
        """(view, its columns) of a stand-in procedure: a view with an INSTEAD OF INSERT trigger."""
        key = name.lower()
        if key not in self.procedures:
            found = self.db.execute(
                "SELECT v.name FROM sqlite_master AS v WHERE v.type = 'view' AND lower(v.name) = ? AND EXISTS "
                "(SELECT 1 FROM sqlite_master AS t WHERE t.type = 'trigger' AND lower(t.tbl_name) = lower(v.name) "
                "AND upper(t.sql) LIKE '%INSTEAD OF INSERT%')", (key,)).fetchone()
            if found is None:
                raise TsqlError(2812, "Could not find stored procedure '%s'." % name, 16, 62)
            columns = [row[1] for row in self.db.execute('PRAGMA table_info("%s")' % found[0].replace('"', '""'))]
            self.procedures[key] = (found[0], columns)
        return self.procedures[key]

    def call(self, name, arguments):
        """A procedure call; arguments: (parameter name without @ or None, value SQL, values for its ?)."""
        if name.lower() in SYSTEM_PROCEDURES:
            names, handler = SYSTEM_PROCEDURES[name.lower()]
            given = {}
            for position, (parameter, sql, values) in enumerate(arguments):
                key = parameter.lower() if parameter else (names[position] if position < len(names) else None)
                if key not in names:
                    raise TsqlError(8145, '@%s is not a parameter for procedure %s.' % (parameter or position, name),
                                    16, 2)
                given[key] = self.db.execute('SELECT ' + sql, values).fetchone()[0]
            yield handler(self, given)
            yield ProcedureDone(0)
            return
        view, columns = self.procedure(name)
        chosen = []
        sql_values = []
        args = []
        for position, (parameter, sql, values) in enumerate(arguments):
            if parameter is None:
                if position >= len(columns):
                    raise TsqlError(8144, 'Procedure or function %s has too many arguments specified.' % view,
                                    16, 2)
                column = columns[position]
            else:
                column = next((c for c in columns if c.lower() == parameter.lower()), None)
                if column is None:
                    raise TsqlError(8145, '@%s is not a parameter for procedure %s.' % (parameter, view), 16, 2)
            if column in chosen:
                raise TsqlError(8143, 'Parameter "@%s" was supplied multiple times.' % column, 16, 1)
            chosen.append(column)
            sql_values.append(sql)
            args.extend(values)
        quoted = '"%s"' % view.replace('"', '""')
        if chosen:
            statement = 'INSERT INTO %s (%s) VALUES (%s)' % (
                quoted, ', '.join('"%s"' % c for c in chosen), ', '.join(sql_values))
        else:
            statement = 'INSERT INTO %s DEFAULT VALUES' % quoted
        self.execute(statement, args)
        yield ProcedureDone(0)

    # --- prepared statements ------------------------------------------------------------------------

    def prepare(self, statement, declaration):
        handle = self.next_handle
        self.next_handle += 1
        self.prepared[handle] = (statement, declaration)
        return handle

    def prepared_statement(self, handle):
        if handle not in self.prepared:
            raise TsqlError(8179, 'Could not find prepared statement with handle %s.' % handle, 16, 2)
        return self.prepared[handle]

    def unprepare(self, handle):
        self.prepared.pop(handle, None)

    def only_settings(self, text):
        """True for a batch of SET statements only."""
        try:
            statements = self.translator.batch(text)
        except TsqlError:
            return False
        return bool(statements) and all(st.kind == 'set' for st in statements)

    def select_for_cursor(self, text, values):
        """The rows of a statement a server cursor may be opened on: one plain SELECT. Anything else (a
        procedure call, several statements, a change) gets error 16937, as a strict server answers."""
        statements = self.translator.batch(text)
        if len(statements) != 1 or statements[0].kind != 'sql' or \
                not statements[0].sql.lstrip().lower().startswith(('select', 'with')):
            raise TsqlError(16937, CURSOR_REFUSED, 16, 1)
        results = list(self.run_statement(statements[0], values))
        if isinstance(results[-1], Failure):
            return results[-1]
        if not isinstance(results[-1], Rows):
            raise TsqlError(16937, CURSOR_REFUSED, 16, 1)
        return results[-1]

    def describe_text(self, text, declaration):
        """The result columns a statement would give, without running it (sp_prepare's metadata)."""
        try:
            statements = self.translator.batch(text)
        except TsqlError:
            return None
        if len(statements) != 1 or statements[0].kind != 'sql':
            return None
        st = statements[0]
        if not st.sql.lstrip().lower().startswith('select'):
            return None
        try:
            cursor = self.db.execute('SELECT * FROM (%s) LIMIT 0' % st.sql, [None] * len(st.params))
        except sqlite3.Error:
            return None
        names = [d[0] for d in cursor.description]
        declared = self._declared_shape(st.sql, [None] * len(st.params), len(names))
        return [(name, self.column_type(name, declared[i], [])) for i, name in enumerate(names)]


def inline_parameters(sql, args):
    """sql with each ? outside quotes replaced by its value as a literal."""
    out = []
    values = iter(args)
    i = 0
    n = len(sql)
    while i < n:
        c = sql[i]
        if c in '\'"':
            j = i + 1
            while j < n:
                if sql[j] == c:
                    if j + 1 < n and sql[j + 1] == c:
                        j += 2
                        continue
                    break
                j += 1
            out.append(sql[i:j + 1])
            i = j + 1
            continue
        if c == '?':
            try:
                out.append(literal(next(values)))
            except StopIteration as e:
                raise ValueError('more placeholders than values') from e
        else:
            out.append(c)
        i += 1
    return ''.join(out)


def literal(value):
    if value is None:
        return 'NULL'
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, bytes):
        return "X'%s'" % value.hex()
    return "'%s'" % str(value).replace("'", "''")


# The types this server sends, as sp_datatype_info describes them (SQLGetTypeInfo asks for it).
TYPE_INFO_COLUMNS = [
    ('TYPE_NAME', 'VARCHAR(128)'), ('DATA_TYPE', 'INT'), ('PRECISION', 'INT'), ('LITERAL_PREFIX', 'VARCHAR(32)'),
    ('LITERAL_SUFFIX', 'VARCHAR(32)'), ('CREATE_PARAMS', 'VARCHAR(32)'), ('NULLABLE', 'INT'),
    ('CASE_SENSITIVE', 'INT'), ('SEARCHABLE', 'INT'), ('UNSIGNED_ATTRIBUTE', 'INT'), ('MONEY', 'INT'),
    ('AUTO_INCREMENT', 'INT'), ('LOCAL_TYPE_NAME', 'VARCHAR(128)'), ('MINIMUM_SCALE', 'INT'),
    ('MAXIMUM_SCALE', 'INT'), ('SQL_DATA_TYPE', 'INT'), ('SQL_DATETIME_SUB', 'INT'), ('NUM_PREC_RADIX', 'INT'),
    ('INTERVAL_PRECISION', 'INT'), ('USERTYPE', 'INT')]
TYPE_INFO_ROWS = [
    ('uniqueidentifier', -11, 36, "'", "'", None, 1, 0, 2, None, 0, None, 'uniqueidentifier', None, None, -11,
     None, None, None, 0),
    ('nvarchar', -9, 4000, "N'", "'", 'max length', 1, 0, 3, None, 0, None, 'nvarchar', None, None, -9, None,
     None, None, 0),
    ('bit', -7, 1, None, None, None, 1, 0, 2, None, 0, None, 'bit', 0, 0, -7, None, None, None, 16),
    ('bigint', -5, 19, None, None, None, 1, 0, 2, 0, 0, 0, 'bigint', 0, 0, -5, None, 10, None, 0),
    ('varbinary', -3, 8000, '0x', None, 'max length', 1, 0, 2, None, 0, None, 'varbinary', None, None, -3, None,
     None, None, 4),
    ('int', 4, 10, None, None, None, 1, 0, 2, 0, 0, 0, 'int', 0, 0, 4, None, 10, None, 7),
    ('float', 6, 15, None, None, None, 1, 0, 2, 0, 0, 0, 'float', None, None, 6, None, 2, None, 8),
    ('datetime', 93, 23, "'", "'", None, 1, 0, 3, None, 0, None, 'datetime', 3, 3, 9, 3, None, None, 12),
]


def described(engine, columns, rows):
    return Rows([(name, engine.column_type(name, declared, [r[i] for r in rows]))
                 for i, (name, declared) in enumerate(columns)], rows)


def datatype_info(engine, given):
    wanted = given.get('data_type') or 0
    return described(engine, TYPE_INFO_COLUMNS, [r for r in TYPE_INFO_ROWS if not wanted or r[1] == wanted])


def tables(engine, given):
    """sp_tables: the stand-in's tables and views (SQLTables)."""
    pattern = given.get('table_name') or '%'
    kinds = (given.get('table_type') or "'TABLE','VIEW'").upper()
    rows = engine.db.execute(
        "SELECT ?, 'dbo', name, CASE type WHEN 'table' THEN 'TABLE' ELSE 'VIEW' END, NULL FROM sqlite_master "
        "WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite%' AND name LIKE ? ORDER BY type, name",
        (engine.config.database, pattern)).fetchall()
    rows = [r for r in rows if r[3] in kinds]
    return described(engine, [('TABLE_QUALIFIER', 'VARCHAR(128)'), ('TABLE_OWNER', 'VARCHAR(128)'),
                              ('TABLE_NAME', 'VARCHAR(128)'), ('TABLE_TYPE', 'VARCHAR(32)'),
                              ('REMARKS', 'VARCHAR(254)')], rows)


SYSTEM_PROCEDURES = {
    'sp_datatype_info': (['data_type', 'odbcver'], datatype_info),
    'sp_datatype_info_90': (['data_type', 'odbcver'], datatype_info),
    'sp_datatype_info_100': (['data_type', 'odbcver'], datatype_info),
    'sp_tables': (['table_name', 'table_owner', 'table_qualifier', 'table_type', 'fusepattern'], tables),
}

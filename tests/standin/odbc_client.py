"""A small ODBC client over unixODBC's libodbc (ctypes, wide-character calls), enough to drive FreeTDS the
way an application does: direct and prepared statements, bound parameters, cursor types, diagnostics."""

import ctypes
import uuid

SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT = 1, 2, 3
SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA = 0, 1, 100
SQL_NTS = -3
SQL_NULL_DATA = -1
SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3 = 200, 3
SQL_ATTR_LOGIN_TIMEOUT = 103
SQL_ATTR_AUTOCOMMIT = 102
SQL_COMMIT, SQL_ROLLBACK = 0, 1
SQL_ATTR_QUERY_TIMEOUT, SQL_ATTR_CURSOR_TYPE, SQL_ATTR_CONCURRENCY = 0, 6, 7
SQL_CURSOR_FORWARD_ONLY, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_DYNAMIC, SQL_CURSOR_STATIC = 0, 1, 2, 3
SQL_CONCUR_READ_ONLY, SQL_CONCUR_LOCK = 1, 2
SQL_PARAM_INPUT = 1
SQL_DRIVER_NOPROMPT = 0
SQL_CLOSE = 0

SQL_C_WCHAR, SQL_C_CHAR, SQL_C_SLONG, SQL_C_GUID = -8, 1, -16, -11
SQL_WVARCHAR, SQL_VARCHAR, SQL_INTEGER, SQL_GUID = -9, 12, 4, -11
SQL_BIGINT, SQL_SMALLINT, SQL_TINYINT, SQL_BIT = -5, 5, -6, -7
SQL_DOUBLE, SQL_FLOAT, SQL_REAL = 8, 6, 7
INTEGER_TYPES = {SQL_INTEGER, SQL_BIGINT, SQL_SMALLINT, SQL_TINYINT, SQL_BIT}
FLOAT_TYPES = {SQL_DOUBLE, SQL_FLOAT, SQL_REAL}

SQLHANDLE = ctypes.c_void_p
SQLLEN = ctypes.c_ssize_t


class SqlGuid(ctypes.Structure):
    _fields_ = [('Data1', ctypes.c_uint32), ('Data2', ctypes.c_uint16), ('Data3', ctypes.c_uint16),
                ('Data4', ctypes.c_ubyte * 8)]


class OdbcError(Exception):
    def __init__(self, call, records):
        self.records = records  # (SQLSTATE, native error, message)
        super().__init__('%s failed: %s' % (call, '; '.join('[%s] %d %s' % r for r in records)))

    @property
    def natives(self):
        return [r[1] for r in self.records]

    @property
    def text(self):
        return '\n'.join(r[2] for r in self.records)


def wide(text):
    return ctypes.create_string_buffer(text.encode('utf-16-le') + b'\0\0')


def unwide(buffer, units=None):
    raw = bytes(buffer) if units is None else bytes(buffer)[:units * 2]
    text = raw.decode('utf-16-le', 'replace')
    return text.split('\0', 1)[0] if units is None else text


class Result:
    def __init__(self):
        self.sets = []  # (columns [(name, SQL type, size)], rows)
        self.rowcount = None

    @property
    def columns(self):
        return self.sets[0][0] if self.sets else []

    @property
    def rows(self):
        return self.sets[0][1] if self.sets else []


class Odbc:
    def __init__(self, library='libodbc.so.2'):
        self.lib = ctypes.CDLL(library)
        self.lib.SQLSetEnvAttr.argtypes = [SQLHANDLE, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        self.lib.SQLSetConnectAttrW.argtypes = [SQLHANDLE, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        self.lib.SQLSetStmtAttrW.argtypes = [SQLHANDLE, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        self.lib.SQLBindParameter.argtypes = [SQLHANDLE, ctypes.c_ushort, ctypes.c_short, ctypes.c_short,
                                              ctypes.c_short, ctypes.c_size_t, ctypes.c_short, ctypes.c_void_p,
                                              SQLLEN, ctypes.POINTER(SQLLEN)]
        self.lib.SQLGetData.argtypes = [SQLHANDLE, ctypes.c_ushort, ctypes.c_short, ctypes.c_void_p, SQLLEN,
                                        ctypes.POINTER(SQLLEN)]
        self.lib.SQLRowCount.argtypes = [SQLHANDLE, ctypes.POINTER(SQLLEN)]
        self.env = SQLHANDLE()
        self.check(self.lib.SQLAllocHandle(SQL_HANDLE_ENV, None, ctypes.byref(self.env)), 'SQLAllocHandle')
        self.lib.SQLSetEnvAttr(self.env, SQL_ATTR_ODBC_VERSION, ctypes.c_void_p(SQL_OV_ODBC3), 0)

    def diagnostics(self, kind, handle):
        records = []
        for i in range(1, 10):
            state = ctypes.create_string_buffer(16)
            native = ctypes.c_int()
            text = ctypes.create_string_buffer(4096)
            length = ctypes.c_short()
            rc = self.lib.SQLGetDiagRecW(kind, handle, i, state, ctypes.byref(native), text, 2000,
                                         ctypes.byref(length))
            if rc not in (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO):
                break
            records.append((unwide(state), native.value, unwide(text)))
        return records

    def check(self, rc, call, kind=None, handle=None):
        if rc in (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA):
            return rc
        raise OdbcError(call, self.diagnostics(kind, handle) if handle is not None else [])

    def connect(self, text, timeout=10, length=SQL_NTS):
        """length: the connection text's length as passed (Qt's QODBC counts its closing NUL in)."""
        return Connection(self, text, timeout, length)


class Connection:
    def __init__(self, odbc, text, timeout, length):
        self.odbc = odbc
        lib = odbc.lib
        self.dbc = SQLHANDLE()
        odbc.check(lib.SQLAllocHandle(SQL_HANDLE_DBC, odbc.env, ctypes.byref(self.dbc)), 'SQLAllocHandle')
        lib.SQLSetConnectAttrW(self.dbc, SQL_ATTR_LOGIN_TIMEOUT, ctypes.c_void_p(timeout), 0)
        out = ctypes.create_string_buffer(4096)
        text_length = length
        length = ctypes.c_short()
        rc = lib.SQLDriverConnectW(self.dbc, None, wide(text), text_length, out, 1024, ctypes.byref(length),
                                   SQL_DRIVER_NOPROMPT)
        try:
            odbc.check(rc, 'SQLDriverConnect', SQL_HANDLE_DBC, self.dbc)
        except OdbcError:
            lib.SQLFreeHandle(SQL_HANDLE_DBC, self.dbc)
            raise

    def close(self):
        self.odbc.lib.SQLDisconnect(self.dbc)
        self.odbc.lib.SQLFreeHandle(SQL_HANDLE_DBC, self.dbc)

    def set_autocommit(self, on):
        self.odbc.check(self.odbc.lib.SQLSetConnectAttrW(self.dbc, SQL_ATTR_AUTOCOMMIT, ctypes.c_void_p(int(on)), 0),
                        'SQLSetConnectAttr', SQL_HANDLE_DBC, self.dbc)

    def end_transaction(self, commit):
        self.odbc.check(self.odbc.lib.SQLEndTran(SQL_HANDLE_DBC, self.dbc, SQL_COMMIT if commit else SQL_ROLLBACK),
                        'SQLEndTran', SQL_HANDLE_DBC, self.dbc)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def execute(self, sql, params=(), prepare=False, cursor_type=None, concurrency=None, timeout=None,
                describe_first=False):
        """Runs sql, binding params (str, int, None, uuid.UUID, bytes as an 8-bit text), and reads every
        result set; timeout: seconds before the driver cancels it; describe_first: a prepared statement's
        columns are asked for before it runs."""
        lib = self.odbc.lib
        check = self.odbc.check
        stmt = SQLHANDLE()
        check(lib.SQLAllocHandle(SQL_HANDLE_STMT, self.dbc, ctypes.byref(stmt)), 'SQLAllocHandle',
              SQL_HANDLE_DBC, self.dbc)
        keep = []
        try:
            if cursor_type is not None:
                check(lib.SQLSetStmtAttrW(stmt, SQL_ATTR_CURSOR_TYPE, ctypes.c_void_p(cursor_type), 0),
                      'SQLSetStmtAttr', SQL_HANDLE_STMT, stmt)
            if timeout is not None:
                check(lib.SQLSetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT, ctypes.c_void_p(timeout), 0),
                      'SQLSetStmtAttr', SQL_HANDLE_STMT, stmt)
            if concurrency is not None:
                check(lib.SQLSetStmtAttrW(stmt, SQL_ATTR_CONCURRENCY, ctypes.c_void_p(concurrency), 0),
                      'SQLSetStmtAttr', SQL_HANDLE_STMT, stmt)
            for number, value in enumerate(params, 1):
                self._bind(stmt, number, value, keep)
            if prepare:
                check(lib.SQLPrepareW(stmt, wide(sql), SQL_NTS), 'SQLPrepare', SQL_HANDLE_STMT, stmt)
                if describe_first:
                    count = ctypes.c_short()
                    check(lib.SQLNumResultCols(stmt, ctypes.byref(count)), 'SQLNumResultCols', SQL_HANDLE_STMT,
                          stmt)
                rc = lib.SQLExecute(stmt)
                check(rc, 'SQLExecute', SQL_HANDLE_STMT, stmt)
            else:
                rc = lib.SQLExecDirectW(stmt, wide(sql), SQL_NTS)
                check(rc, 'SQLExecDirect', SQL_HANDLE_STMT, stmt)
            result = Result()
            while True:
                self._read(stmt, result)
                rc = lib.SQLMoreResults(stmt)
                if rc == SQL_NO_DATA:
                    break
                check(rc, 'SQLMoreResults', SQL_HANDLE_STMT, stmt)
            return result
        finally:
            lib.SQLFreeHandle(SQL_HANDLE_STMT, stmt)

    def _bind(self, stmt, number, value, keep):
        lib = self.odbc.lib
        indicator = SQLLEN(0)
        if value is None:
            c_type, sql_type, size, buffer, length = SQL_C_WCHAR, SQL_WVARCHAR, 1, None, 0
            indicator.value = SQL_NULL_DATA
        elif isinstance(value, bool) or isinstance(value, int):
            buffer = ctypes.c_int(int(value))
            c_type, sql_type, size, length = SQL_C_SLONG, SQL_INTEGER, 0, 0
        elif isinstance(value, uuid.UUID):
            buffer = SqlGuid.from_buffer_copy(value.bytes_le)
            c_type, sql_type, size, length = SQL_C_GUID, SQL_GUID, 16, ctypes.sizeof(buffer)
            indicator.value = ctypes.sizeof(buffer)
        elif isinstance(value, bytes):
            buffer = ctypes.create_string_buffer(value)
            c_type, sql_type, size, length = SQL_C_CHAR, SQL_VARCHAR, max(len(value), 1), len(value) + 1
            indicator.value = SQL_NTS
        else:
            buffer = wide(str(value))
            units = len(str(value).encode('utf-16-le')) // 2
            c_type, sql_type, size, length = SQL_C_WCHAR, SQL_WVARCHAR, max(units, 1), ctypes.sizeof(buffer)
            indicator.value = SQL_NTS
        keep.append((buffer, indicator))
        self.odbc.check(lib.SQLBindParameter(stmt, number, SQL_PARAM_INPUT, c_type, sql_type, size, 0,
                                             ctypes.byref(buffer) if buffer is not None else None, length,
                                             ctypes.byref(indicator)),
                        'SQLBindParameter', SQL_HANDLE_STMT, stmt)

    def _read(self, stmt, result):
        lib = self.odbc.lib
        count = ctypes.c_short()
        self.odbc.check(lib.SQLNumResultCols(stmt, ctypes.byref(count)), 'SQLNumResultCols',
                        SQL_HANDLE_STMT, stmt)
        if count.value == 0:
            rows = SQLLEN(-1)
            lib.SQLRowCount(stmt, ctypes.byref(rows))
            result.rowcount = rows.value
            return
        columns = []
        for i in range(1, count.value + 1):
            name = ctypes.create_string_buffer(512)
            name_length, sql_type, digits, nullable = (ctypes.c_short() for _ in range(4))
            size = ctypes.c_size_t()
            self.odbc.check(lib.SQLDescribeColW(stmt, i, name, 256, ctypes.byref(name_length),
                                                ctypes.byref(sql_type), ctypes.byref(size), ctypes.byref(digits),
                                                ctypes.byref(nullable)),
                            'SQLDescribeCol', SQL_HANDLE_STMT, stmt)
            columns.append((unwide(name, name_length.value), sql_type.value, size.value))
        rows = []
        while True:
            rc = lib.SQLFetch(stmt)
            if rc == SQL_NO_DATA:
                break
            self.odbc.check(rc, 'SQLFetch', SQL_HANDLE_STMT, stmt)
            rows.append(tuple(self._value(stmt, i + 1, columns[i][1]) for i in range(len(columns))))
        result.sets.append((columns, rows))

    def _value(self, stmt, number, sql_type):
        lib = self.odbc.lib
        parts = []
        while True:
            buffer = ctypes.create_string_buffer(8192)
            indicator = SQLLEN()
            rc = lib.SQLGetData(stmt, number, SQL_C_WCHAR, buffer, len(buffer), ctypes.byref(indicator))
            if rc == SQL_NO_DATA:
                break
            self.odbc.check(rc, 'SQLGetData', SQL_HANDLE_STMT, stmt)
            if indicator.value == SQL_NULL_DATA:
                return None
            parts.append(unwide(buffer))
            if rc == SQL_SUCCESS:
                break
        text = ''.join(parts)
        if sql_type in INTEGER_TYPES:
            return int(text)
        if sql_type in FLOAT_TYPES:
            return float(text)
        return text

"""T-SQL as Culvane, FreeTDS and ODBC tools send it, rewritten for the SQLite stand-in.

Only the shapes those clients send are handled; anything else passes through unchanged and SQLite's own
complaint comes back as the nearest SQL Server error. Quoted texts, quoted names and comments are never
rewritten inside.
"""

from dataclasses import dataclass, field


class TsqlError(Exception):
    """A statement the server refuses before SQLite sees it; number, class and text as SQL Server's."""

    def __init__(self, number, message, severity=16, state=1):
        super().__init__(message)
        self.number = number
        self.severity = severity
        self.state = state
        self.message = message


@dataclass
class Tok:
    kind: str  # space str name word var sysvar num op
    text: str  # str: the content between the quotes (doubled quotes kept); name: the bare name


def tokenize(sql):
    toks = []
    i = 0
    n = len(sql)
    while i < n:
        c = sql[i]
        if c.isspace():
            j = i
            while j < n and sql[j].isspace():
                j += 1
            toks.append(Tok('space', sql[i:j]))
        elif sql.startswith('--', i):
            j = sql.find('\n', i)
            j = n if j < 0 else j
            toks.append(Tok('space', ' '))
        elif sql.startswith('/*', i):
            # T-SQL comments nest.
            depth = 0
            j = i
            while j < n:
                if sql.startswith('/*', j):
                    depth += 1
                    j += 2
                elif sql.startswith('*/', j):
                    depth -= 1
                    j += 2
                    if depth == 0:
                        break
                else:
                    j += 1
            if depth:
                raise TsqlError(113, "Missing end comment mark '*/'.", 15)
            toks.append(Tok('space', ' '))
        elif c == "'" or (c in 'Nn' and i + 1 < n and sql[i + 1] == "'"):
            start = i + 1 if c == "'" else i + 2
            j = start
            while True:
                k = sql.find("'", j)
                if k < 0:
                    raise TsqlError(105, "Unclosed quotation mark after the character string '%s'."
                                    % sql[start:], 15)
                if k + 1 < n and sql[k + 1] == "'":
                    j = k + 2
                    continue
                break
            toks.append(Tok('str', sql[start:k]))
            j = k + 1
        elif c == '[' or c == '"':
            close = ']' if c == '[' else '"'
            j = i + 1
            parts = []
            while True:
                k = sql.find(close, j)
                if k < 0:
                    raise TsqlError(105, 'Unclosed quotation mark after the character string \'%s\'.'
                                    % sql[i + 1:], 15)
                parts.append(sql[j:k])
                if k + 1 < n and sql[k + 1] == close:
                    parts.append(close)
                    j = k + 2
                    continue
                break
            toks.append(Tok('name', ''.join(parts)))
            j = k + 1
        elif c == '@':
            j = i + 2 if sql.startswith('@@', i) else i + 1
            while j < n and (sql[j].isalnum() or sql[j] in '_@#$'):
                j += 1
            toks.append(Tok('sysvar' if sql.startswith('@@', i) else 'var', sql[i:j]))
        elif c.isdigit() or (c == '.' and i + 1 < n and sql[i + 1].isdigit()):
            j = i
            if sql.startswith(('0x', '0X'), i):
                j = i + 2
                while j < n and sql[j] in '0123456789abcdefABCDEF':
                    j += 1
            else:
                while j < n and (sql[j].isdigit() or sql[j] == '.'):
                    j += 1
                if j < n and sql[j] in 'eE' and j + 1 < n and (sql[j + 1].isdigit() or sql[j + 1] in '+-'):
                    j += 2
                    while j < n and sql[j].isdigit():
                        j += 1
            toks.append(Tok('num', sql[i:j]))
        elif c.isalpha() or c in '_#':
            j = i
            while j < n and (sql[j].isalnum() or sql[j] in '_@#$'):
                j += 1
            toks.append(Tok('word', sql[i:j]))
        else:
            j = i + 1
            if sql[i:i + 2] in ('<>', '!=', '<=', '>=', '!<', '!>', '||'):
                j = i + 2
            toks.append(Tok('op', sql[i:j]))
        i = j
    return toks


def is_word(tok, *words):
    return tok is not None and tok.kind == 'word' and tok.text.lower() in words


def is_op(tok, text):
    return tok is not None and tok.kind == 'op' and tok.text == text


# Words a statement begins with; a batch beginning with any other word calls a procedure.
STATEMENT_WORDS = {'select', 'insert', 'update', 'delete', 'with', 'set', 'use', 'exec', 'execute', 'begin',
                   'commit', 'rollback', 'save', 'create', 'drop', 'alter', 'declare', 'if', 'while', 'print',
                   'pragma', 'values', 'explain', 'replace', 'truncate', 'merge', 'grant', 'revoke', 'deny',
                   'raiserror', 'waitfor', 'return', 'dbcc', 'checkpoint', 'kill', 'reconfigure', 'shutdown',
                   'go', 'vacuum', 'analyze', 'reindex', 'attach', 'detach'}

# Words that begin the next statement after a SET whose value has no end mark.
NEXT_STATEMENT = {'select', 'insert', 'update', 'delete', 'set', 'exec', 'execute', 'use', 'begin', 'commit',
                  'rollback', 'declare', 'if', 'print', 'with'}

TABLE_HINTS = {'nolock', 'readuncommitted', 'readcommitted', 'rowlock', 'updlock', 'holdlock', 'tablock',
               'paglock', 'readpast', 'serializable', 'repeatableread', 'xlock', 'tablockx', 'nowait'}


@dataclass
class Statement:
    kind: str  # sql set use exec begin commit rollback
    sql: str = ''
    params: list = field(default_factory=list)  # names (without @) of the ? in sql, in order
    option: str = ''  # set: the option's name; use: the database
    value: str = ''  # set: its value
    procedure: str = ''  # exec: the procedure
    arguments: list = field(default_factory=list)  # exec: (name or None, sql, params)
    text: str = ''  # the statement as it came
    unnamed: object = None  # sql: per result column, True where SQL Server gives it no name; None: unknown


class Translator:
    """Rewrites one batch. context gives the values of @@ variables and session functions."""

    def __init__(self, context):
        self.context = context

    # --- batches --------------------------------------------------------------------------------

    def batch(self, sql):
        toks = tokenize(sql)
        statements = []
        for part in self._split(toks):
            solid = [t for t in part if t.kind != 'space']
            if not solid:
                continue
            if not statements and solid[0].kind in ('word', 'name') and \
                    solid[0].text.lower() not in STATEMENT_WORDS:
                # A batch may begin with a procedure's name alone: "sp_datatype_info_100 93,3".
                part = [Tok('word', 'EXEC'), Tok('space', ' ')] + part
            statements.append(self._statement(part))
        return statements

    def _split(self, toks):
        """Statements end at a top-level ';', and a SET or USE also where the next statement begins."""
        parts = []
        current = []
        first = None
        depth = 0
        for t in toks:
            if is_op(t, '('):
                depth += 1
            elif is_op(t, ')'):
                depth -= 1
            if depth == 0 and is_op(t, ';'):
                parts.append(current)
                current = []
                first = None
                continue
            if depth == 0 and is_word(first, 'set') and t.kind == 'word' and t.text.lower() in NEXT_STATEMENT:
                parts.append(current)  # SET TRANSACTION ISOLATION LEVEL READ COMMITTED SELECT ...
                current = []
                first = None
            current.append(t)
            if first is None:
                if t.kind != 'space':
                    first = t
                continue
            if depth == 0 and ((is_word(first, 'set') and (is_word(t, 'on', 'off') or t.kind == 'num'))
                               or (is_word(first, 'use') and t.kind in ('word', 'name'))):
                parts.append(current)
                current = []
                first = None
        parts.append(current)
        return parts

    def _statement(self, toks):
        text = ''.join(_raw(t) for t in toks).strip()
        solid = [i for i, t in enumerate(toks) if t.kind != 'space']
        first = toks[solid[0]]
        head = first.text.lower() if first.kind == 'word' else ''
        if head == 'set':
            if len(solid) > 1 and toks[solid[1]].kind == 'var':
                raise TsqlError(137, 'Must declare the scalar variable "%s".' % toks[solid[1]].text, 15, 2)
            words = [toks[i].text for i in solid[1:]]
            option = words[0].upper() if words else ''
            value = words[-1].upper() if len(words) > 1 else ''
            return Statement('set', option=option, value=value, text=text)
        if head == 'use':
            if len(solid) != 2:
                raise TsqlError(102, "Incorrect syntax near 'USE'.", 15)
            return Statement('use', option=toks[solid[1]].text, text=text)
        if head in ('exec', 'execute'):
            return self._exec(toks, solid, text)
        if head == 'begin' and len(solid) > 1 and is_word(toks[solid[1]], 'tran', 'transaction'):
            return Statement('begin', sql='BEGIN', text=text)
        if head in ('commit', 'rollback'):
            return Statement(head, sql=head.upper(), text=text)
        params = []
        sql = self._select_top(toks, solid, params)
        return Statement('sql', sql=sql, params=params, text=text, unnamed=self._unnamed(toks, solid))

    def _unnamed(self, toks, solid):
        """Which items of a SELECT list are expressions without an alias: SQL Server names those columns
        '' where SQLite names them after their text."""
        if not is_word(toks[solid[0]], 'select'):
            return None
        k = 1
        if k < len(solid) and is_word(toks[solid[k]], 'distinct', 'all'):
            k += 1
        if k < len(solid) and is_word(toks[solid[k]], 'top'):
            k += 2
            if k - 1 < len(solid) and is_op(toks[solid[k - 1]], '('):
                k = next((j for j in range(k, len(solid)) if solid[j] > self._matching(toks, solid[k - 1])), len(solid))
        items = [[]]
        depth = 0
        for i in solid[k:]:
            t = toks[i]
            if depth == 0 and is_word(t, 'from', 'union', 'except', 'intersect', 'order', 'where', 'group',
                                      'having', 'into', 'limit'):
                break
            if is_op(t, '('):
                depth += 1
            elif is_op(t, ')'):
                depth -= 1
            elif depth == 0 and is_op(t, ','):
                items.append([])
                continue
            items[-1].append(t)
        unnamed = []
        for item in items:
            if not item or is_op(item[-1], '*'):
                return None  # * expands to columns that have names
            column = len(item) % 2 == 1 and all(
                (t.kind in ('word', 'name') if j % 2 == 0 else is_op(t, '.')) for j, t in enumerate(item))
            aliased = (len(item) >= 3 and is_word(item[-2], 'as')) or \
                (len(item) >= 2 and item[-1].kind in ('word', 'name', 'str') and
                 not is_word(item[-1], 'end', 'null') and
                 (item[-2].kind in ('word', 'name', 'str', 'num') or is_op(item[-2], ')')) and
                 not is_word(item[-2], 'case')) or \
                (len(item) >= 3 and item[0].kind in ('word', 'name', 'str') and is_op(item[1], '='))
            unnamed.append(not column and not aliased)
        return unnamed

    def _select_top(self, toks, solid, params):
        """SELECT [DISTINCT] TOP n ... -> SELECT [DISTINCT] ... LIMIT n (top level only)."""
        limit = None
        if is_word(toks[solid[0]], 'select'):
            k = 1
            if k < len(solid) and is_word(toks[solid[k]], 'distinct', 'all'):
                k += 1
            if k + 1 < len(solid) and is_word(toks[solid[k]], 'top'):
                start = solid[k]
                after = solid[k + 1]
                if is_op(toks[after], '('):
                    close = self._matching(toks, after)
                    limit = self.render(toks, after + 1, close, params)
                    end = close + 1
                else:
                    limit = self.render(toks, after, after + 1, params)
                    end = after + 1
                nxt = next((i for i in range(end, len(toks)) if toks[i].kind != 'space'), None)
                if nxt is not None and is_word(toks[nxt], 'percent'):
                    raise TsqlError(102, "Incorrect syntax near 'PERCENT'.", 15)
                head = self.render(toks, 0, start, params)
                body = self.render(toks, end, len(toks), params)
                return head + body.rstrip() + ' LIMIT ' + limit.strip()
        return self.render(toks, 0, len(toks), params)

    def _exec(self, toks, solid, text):
        k = 1
        # EXEC @status = proc ...: the status is dropped.
        if k + 1 < len(solid) and toks[solid[k]].kind == 'var' and is_op(toks[solid[k + 1]], '='):
            k += 2
        if k >= len(solid) or toks[solid[k]].kind not in ('word', 'name'):
            raise TsqlError(102, "Incorrect syntax near '%s'." % (toks[solid[k]].text if k < len(solid)
                                                                     else 'EXEC'), 15)
        # schema.proc, db.schema.proc, db..proc: the last part names the procedure.
        procedure = toks[solid[k]].text
        pos = solid[k] + 1
        while pos < len(toks) and is_op(toks[pos], '.'):
            pos += 1
            if pos < len(toks) and toks[pos].kind in ('word', 'name'):
                procedure = toks[pos].text
                pos += 1
        if ';' in procedure:
            procedure = procedure.split(';')[0]
        arguments = []
        for lo, hi in self._commas(toks, pos, len(toks)):
            part = [i for i in range(lo, hi) if toks[i].kind != 'space']
            if not part:
                if hi < len(toks) or arguments:
                    raise TsqlError(102, "Incorrect syntax near ','.", 15)
                continue
            name = None
            if len(part) >= 2 and toks[part[0]].kind == 'var' and is_op(toks[part[1]], '='):
                name = toks[part[0]].text[1:]
                part = part[2:]
                if not part:
                    raise TsqlError(102, "Incorrect syntax near '='.", 15)
            if part and is_word(toks[part[-1]], 'output', 'out'):
                part = part[:-1]
            if len(part) == 1 and is_word(toks[part[0]], 'default'):
                continue  # the procedure's own default: the view leaves the column NULL
            params = []
            value = self.render(toks, part[0], part[-1] + 1, params).strip()
            arguments.append((name, value, params))
        return Statement('exec', procedure=procedure, arguments=arguments, text=text)

    # --- expressions ----------------------------------------------------------------------------

    def _matching(self, toks, open_index):
        depth = 0
        for i in range(open_index, len(toks)):
            if is_op(toks[i], '('):
                depth += 1
            elif is_op(toks[i], ')'):
                depth -= 1
                if depth == 0:
                    return i
        raise TsqlError(102, "Incorrect syntax near '('.", 15)

    def _commas(self, toks, lo, hi):
        ranges = []
        depth = 0
        start = lo
        for i in range(lo, hi):
            if is_op(toks[i], '('):
                depth += 1
            elif is_op(toks[i], ')'):
                depth -= 1
            elif depth == 0 and is_op(toks[i], ','):
                ranges.append((start, i))
                start = i + 1
        ranges.append((start, hi))
        return ranges

    @staticmethod
    def _solid(toks, i, step, lo, hi):
        i += step
        while lo <= i < hi:
            if toks[i].kind != 'space':
                return i
            i += step
        return None

    def render(self, toks, lo, hi, params):
        out = []
        i = lo
        while i < hi:
            t = toks[i]
            if t.kind == 'str':
                out.append("'" + t.text + "'")
            elif t.kind == 'name' or t.kind == 'word':
                skip = self._qualifier(toks, i, hi)
                if skip:
                    i += skip
                    continue
                nxt = self._solid(toks, i, 1, lo, hi)
                word = t.text.lower()
                if t.kind == 'word' and nxt is not None and is_op(toks[nxt], '(') and word in FUNCTIONS:
                    close = self._matching(toks, nxt)
                    if close >= hi:
                        raise TsqlError(102, "Incorrect syntax near '%s'." % t.text, 15)
                    args = [self.render(toks, a, b, params).strip() for a, b in self._commas(toks, nxt + 1, close)]
                    if args == ['']:
                        args = []
                    out.append(FUNCTIONS[word](self, t.text, args))
                    i = close + 1
                    continue
                if t.kind == 'word' and word == 'with' and nxt is not None and is_op(toks[nxt], '('):
                    hint = self._solid(toks, nxt, 1, lo, hi)
                    if hint is not None and is_word(toks[hint], *TABLE_HINTS):
                        i = self._matching(toks, nxt) + 1
                        continue
                if t.kind == 'word' and word == 'collate' and nxt is not None and toks[nxt].kind == 'word':
                    collation = toks[nxt].text.upper()
                    out.append('COLLATE ' + ('NOCASE' if '_CI' in collation else 'BINARY'))
                    i = nxt + 1
                    continue
                if t.kind == 'word' and word in SESSION_WORDS:
                    out.append(SESSION_WORDS[word](self))
                elif t.kind == 'name':
                    out.append('"' + t.text.replace('"', '""') + '"')
                else:
                    out.append(t.text)
            elif t.kind == 'var':
                params.append(t.text[1:])
                out.append('?')
            elif t.kind == 'sysvar':
                out.append(self._sysvar(t.text))
            elif t.kind == 'op' and t.text == '+':
                before = self._solid(toks, i, -1, lo, hi)
                after = self._solid(toks, i, 1, lo, hi)
                textual = any(j is not None and toks[j].kind == 'str' for j in (before, after))
                out.append('||' if textual else '+')
            elif t.kind == 'num' and t.text[:2].lower() == '0x':
                out.append("X'" + t.text[2:] + ("0" if len(t.text) % 2 else "") + "'")
            else:
                out.append(t.text)
            i += 1
        return ''.join(out)

    def _qualifier(self, toks, i, hi):
        """How many tokens of a dbo. / OrvaneDb.dbo. / OrvaneDb.. prefix start at i (0: none)."""
        name = toks[i].text.lower()
        if name == 'dbo' and i + 1 < hi and is_op(toks[i + 1], '.'):
            return 2
        if name == self.context.database.lower() and i + 2 < hi and is_op(toks[i + 1], '.'):
            if is_op(toks[i + 2], '.'):
                return 3
            if i + 3 < hi and toks[i + 2].kind in ('word', 'name') and toks[i + 2].text.lower() == 'dbo' \
                    and is_op(toks[i + 3], '.'):
                return 4
        return 0

    def _sysvar(self, name):
        key = name.lower()
        c = self.context
        values = {
            '@@version': quote(c.version_text),
            '@@spid': str(c.spid),
            '@@servername': quote(c.server_name),
            '@@servicename': quote('MSSQLSERVER'),
            '@@language': quote('us_english'),
            '@@langid': '0',
            '@@max_precision': '38',
            '@@textsize': str(c.textsize),
            '@@options': '5496',
            '@@datefirst': '7',
            '@@lock_timeout': '-1',
            '@@error': '0',
            '@@microsoftversion': str(c.product_version[0] << 24 | c.product_version[1] << 16
                                      | c.product_version[2]),
            '@@trancount': str(c.trancount()),
            '@@rowcount': 'changes()',
            '@@identity': 'last_insert_rowid()',
            '@@packet_errors': '0',
            '@@procid': '0',
            '@@nestlevel': '0',
        }
        if key not in values:
            raise TsqlError(137, 'Must declare the scalar variable "%s".' % name, 15, 2)
        return values[key]


def quote(text):
    return "'" + str(text).replace("'", "''") + "'"


def _raw(tok):
    if tok.kind == 'str':
        return "'" + tok.text + "'"
    if tok.kind == 'name':
        return '[' + tok.text.replace(']', ']]') + ']'
    return tok.text


def _args(name, args, counts):
    if len(args) not in counts:
        raise TsqlError(174, 'The %s function requires %s argument(s).'
                        % (name, ' or '.join(str(c) for c in counts)), 15)


def _right(tr, name, args):
    # SQL Server ignores trailing blanks when it compares texts; the RTRIM collation does the same.
    _args(name, args, (2,))
    return '(substr(%s, -(%s), %s) COLLATE RTRIM)' % (args[0], args[1], args[1])


def _left(tr, name, args):
    _args(name, args, (2,))
    return 'substr(%s, 1, %s)' % (args[0], args[1])


def _len(tr, name, args):
    _args(name, args, (1,))
    return 'length(rtrim(%s))' % args[0]


def _charindex(tr, name, args):
    _args(name, args, (2,))
    return 'instr(%s, %s)' % (args[1], args[0])


def _convert(tr, name, args):
    if len(args) not in (2, 3):
        _args(name, args, (2, 3))
    return 'CAST(%s AS %s)' % (args[1], args[0])


def _serverproperty(tr, name, args):
    _args(name, args, (1,))
    c = tr.context
    prop = args[0].strip("'").lower()
    version = '%d.%d.%d.0' % c.product_version
    values = {'productversion': version, 'productlevel': 'RTM', 'edition': 'Developer Edition (64-bit)',
              'engineedition': 3, 'servername': c.server_name, 'machinename': c.server_name,
              'instancename': None, 'collation': 'SQL_Latin1_General_CP1_CI_AS', 'isclustered': 0,
              'isintegratedsecurityonly': 0, 'productmajorversion': c.product_version[0],
              'productminorversion': c.product_version[1], 'productbuild': c.product_version[2]}
    value = values.get(prop)
    if value is None:
        return 'NULL'
    return str(value) if isinstance(value, int) else quote(value)


def _plain(sqlite_name):
    return lambda tr, name, args: '%s(%s)' % (sqlite_name, ', '.join(args))


FUNCTIONS = {
    'right': _right,
    'left': _left,
    'len': _len,
    'isnull': _plain('ifnull'),
    'charindex': _charindex,
    'convert': _convert,
    'getdate': lambda tr, name, args: "datetime('now', 'localtime')",
    'sysdatetime': lambda tr, name, args: "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')",
    'getutcdate': lambda tr, name, args: "datetime('now')",
    'db_name': lambda tr, name, args: quote(tr.context.database),
    'user_name': lambda tr, name, args: quote('dbo'),
    'suser_sname': lambda tr, name, args: quote(tr.context.login),
    'suser_name': lambda tr, name, args: quote(tr.context.login),
    'scope_identity': lambda tr, name, args: 'last_insert_rowid()',
    'serverproperty': _serverproperty,
}

SESSION_WORDS = {
    'system_user': lambda tr: quote(tr.context.login),
    'current_user': lambda tr: quote('dbo'),
    'session_user': lambda tr: quote('dbo'),
    'current_timestamp': lambda tr: "datetime('now', 'localtime')",
}

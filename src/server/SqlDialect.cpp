#include "server/SqlDialect.h"

#include <QRegularExpression>
#include <QVector>

#include <utility>

namespace {

// A token is a view into the statement it came from, which outlives it: a statement of a CSV import is
// adapted once per line, and a copy per token was a large part of each lookup.
struct Token {
    enum Kind { Space, Text, Word, Open, Close, Comma, Plus, Other };
    Kind kind;
    QStringView text;
};

// Splits a statement into tokens; quoted texts ('..' with '' inside), quoted names ("..", [..]) and
// comments stay whole, so nothing inside them is ever rewritten.
QVector<Token> tokenize(const QString& sql)
{
    QVector<Token> tokens;
    const int n = sql.size();
    tokens.reserve(n / 4 + 1);
    int i = 0;
    auto add = [&](Token::Kind kind, int from, int to) {
        tokens.append({kind, QStringView(sql).mid(from, to - from)});
    };
    while (i < n) {
        const QChar c = sql.at(i);
        const int start = i;
        if (c.isSpace()) {
            while (i < n && sql.at(i).isSpace())
                ++i;
            add(Token::Space, start, i);
        } else if (c == QLatin1Char('\'')) {
            ++i;
            while (i < n) {
                if (sql.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && sql.at(i + 1) == QLatin1Char('\'')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            add(Token::Text, start, i);
        } else if (c == QLatin1Char('"') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('"') ? QLatin1Char('"') : QLatin1Char(']');
            i = sql.indexOf(close, i + 1);
            i = i < 0 ? n : i + 1;
            add(Token::Word, start, i);
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            i = sql.indexOf(QLatin1Char('\n'), i);
            i = i < 0 ? n : i;
            add(Token::Space, start, i);
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            i = sql.indexOf(QLatin1String("*/"), i + 2);
            i = i < 0 ? n : i + 2;
            add(Token::Space, start, i);
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') ||
                   c == QLatin1Char('#') || c == QLatin1Char('$')) {
            while (i < n && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('_') ||
                             sql.at(i) == QLatin1Char('@') || sql.at(i) == QLatin1Char('#') ||
                             sql.at(i) == QLatin1Char('$')))
                ++i;
            add(Token::Word, start, i);
        } else {
            ++i;
            const Token::Kind kind = c == QLatin1Char('(')   ? Token::Open
                                     : c == QLatin1Char(')') ? Token::Close
                                     : c == QLatin1Char(',') ? Token::Comma
                                     : c == QLatin1Char('+') ? Token::Plus
                                                             : Token::Other;
            add(kind, start, i);
        }
    }
    return tokens;
}

QString join(const QVector<Token>& tokens, int from, int to)
{
    QString text;
    for (int i = from; i < to; ++i)
        text += tokens.at(i).text;
    return text;
}

int nextSolid(const QVector<Token>& tokens, int i, int step)
{
    for (i += step; i >= 0 && i < tokens.size(); i += step) {
        if (tokens.at(i).kind != Token::Space)
            return i;
    }
    return -1;
}

// The N of N'text', written right before the apostrophe.
bool isUnicodePrefix(const QVector<Token>& tokens, int i)
{
    const Token& token = tokens.at(i);
    return token.kind == Token::Word && token.text.size() == 1 &&
           (token.text.front() == QLatin1Char('N') || token.text.front() == QLatin1Char('n')) &&
           i + 1 < tokens.size() && tokens.at(i + 1).kind == Token::Text;
}

bool isNumber(const QString& text)
{
    bool ok = false;
    text.trimmed().toLongLong(&ok);
    return ok;
}

QString adaptExpression(const QString& sql);

// right(x, n): the rightmost n characters. SQL Server ignores trailing blanks when it compares texts;
// the result carries SQLite's RTRIM collation so that comparisons with it do the same.
QString adaptRight(const QString& value, const QString& count)
{
    const QString length = isNumber(count) ? QString::number(-count.trimmed().toLongLong())
                                           : QStringLiteral("-(") + count.trimmed() + QLatin1Char(')');
    return QStringLiteral("(substr(") + value.trimmed() + QStringLiteral(", ") + length +
           QStringLiteral(") COLLATE RTRIM)");
}

QString adaptExpression(const QString& sql)
{
    const QVector<Token> tokens = tokenize(sql);
    QString out;
    out.reserve(sql.size() + 16);
    for (int i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens.at(i);
        if (token.kind == Token::Word &&
            token.text.compare(QLatin1String("right"), Qt::CaseInsensitive) == 0) {
            const int open = nextSolid(tokens, i, 1);
            if (open >= 0 && tokens.at(open).kind == Token::Open) {
                int depth = 0;
                int lastComma = -1;
                int close = -1;
                for (int j = open; j < tokens.size() && close < 0; ++j) {
                    if (tokens.at(j).kind == Token::Open)
                        ++depth;
                    else if (tokens.at(j).kind == Token::Close && --depth == 0)
                        close = j;
                    else if (tokens.at(j).kind == Token::Comma && depth == 1)
                        lastComma = j;
                }
                if (close > 0 && lastComma > 0) {
                    out += adaptRight(adaptExpression(join(tokens, open + 1, lastComma)),
                                      adaptExpression(join(tokens, lastComma + 1, close)));
                    i = close;
                    continue;
                }
            }
        }
        // N'text', a Unicode literal to SQL Server, is a column N and a text to SQLite, whose texts are all
        // Unicode anyway.
        if (isUnicodePrefix(tokens, i))
            continue;
        if (token.kind == Token::Plus) {
            const int before = nextSolid(tokens, i, -1);
            int after = nextSolid(tokens, i, 1);
            if (after >= 0 && isUnicodePrefix(tokens, after))
                ++after;
            if ((before >= 0 && tokens.at(before).kind == Token::Text) ||
                (after >= 0 && tokens.at(after).kind == Token::Text)) {
                out += QStringLiteral("||");
                continue;
            }
        }
        out += token.text;
    }
    return out;
}

// EXEC proc @A=?, @B=?  ->  INSERT INTO proc (A, B) VALUES (?, ?); the stand-in's procedures are views
// whose INSTEAD OF INSERT trigger does the work.
bool adaptExec(const QString& sql, QString* adapted)
{
    // Most statements are not procedure calls: they are told apart without the pattern below, whose first
    // use compiles it to machine code and cost the start-up about half a millisecond.
    const QStringView head = QStringView(sql).trimmed();
    if (!head.startsWith(QLatin1String("EXEC"), Qt::CaseInsensitive))
        return false;
    static const QRegularExpression exec(
        QStringLiteral(R"(^\s*EXEC(?:UTE)?\s+([\w.\[\]"]+)\s*(.*?)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = exec.match(sql);
    if (!match.hasMatch())
        return false;
    const QString procedure = match.captured(1);
    const QString arguments = match.captured(2);
    if (arguments.isEmpty()) {
        *adapted = QStringLiteral("INSERT INTO ") + procedure + QStringLiteral(" DEFAULT VALUES");
        return true;
    }
    const QVector<Token> tokens = tokenize(arguments);
    QStringList parts;
    int from = 0;
    int depth = 0;
    for (int i = 0; i <= tokens.size(); ++i) {
        if (i == tokens.size() || (tokens.at(i).kind == Token::Comma && depth == 0)) {
            parts.append(join(tokens, from, i));
            from = i + 1;
        } else if (tokens.at(i).kind == Token::Open) {
            ++depth;
        } else if (tokens.at(i).kind == Token::Close) {
            --depth;
        }
    }
    static const QRegularExpression named(QStringLiteral(R"(^\s*@(\w+)\s*=\s*(.+?)\s*$)"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QStringList columns;
    QStringList values;
    for (const QString& part : std::as_const(parts)) {
        const QRegularExpressionMatch parameter = named.match(part);
        if (!parameter.hasMatch())
            return false; // positional arguments have no column to go to
        columns.append(parameter.captured(1));
        values.append(parameter.captured(2));
    }
    *adapted = QStringLiteral("INSERT INTO ") + procedure + QStringLiteral(" (") +
               columns.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
               values.join(QStringLiteral(", ")) + QLatin1Char(')');
    return true;
}

} // namespace

namespace SqlDialect {

QString adapt(const QString& statement, Dbms dbms)
{
    if (dbms == Dbms::SqlServer)
        return statement;
    QString adapted;
    if (adaptExec(statement, &adapted))
        return adapted;
    return adaptExpression(statement);
}

} // namespace SqlDialect

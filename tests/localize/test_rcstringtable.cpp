#include "localize/RcStringTable.h"

#include <QtTest>

namespace {
QString q(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}
} // namespace

class TestRcStringTable : public QObject {
    Q_OBJECT

private slots:
    void readsTheFormsAResourceScriptUses();
    void rejectsMalformedScripts_data();
    void rejectsMalformedScripts();
};

void TestRcStringTable::readsTheFormsAResourceScriptUses()
{
    const std::string script = "\xEF\xBB\xBF"
                               "#pragma code_page(65001)\n"
                               "// a comment\n"
                               "LANGUAGE 9, 1\n"
                               "/* a block\n   comment */\n"
                               "STRINGTABLE MOVEABLE PURE DISCARDABLE\n"
                               "LANGUAGE 9, 1\n"
                               "BEGIN\n"
                               "    15, \"(error):\"\n"
                               "    16 \"no comma  \"\n"
                               "    0x11, \"say \"\"hi\"\"\"\n"
                               "    18, \"tab\\there\\nnext \\\\ \\x41\\101\"\n"
                               "    19, L\"wide \\x00e4\"\n"
                               "    20, \"joined \" \"text\"\n"
                               "    21, \"Gr\xC3\xB6\xC3\x9F"
                               "e \xF0\x9F\x98\x80\"\n"
                               "    22, \"\"\n"
                               "END\n"
                               "stringtable { 65535, \"last\" }\n";
    std::string error;
    const auto strings = RcStringTable::parse(script, &error);
    QVERIFY2(strings, error.c_str());
    QCOMPARE(strings->size(), std::size_t{9});
    QCOMPARE(q(strings->at(15)), QStringLiteral("(error):"));
    QCOMPARE(q(strings->at(16)), QStringLiteral("no comma  "));
    QCOMPARE(q(strings->at(17)), QStringLiteral("say \"hi\""));
    QCOMPARE(q(strings->at(18)), QStringLiteral("tab\there\nnext \\ AA"));
    QCOMPARE(q(strings->at(19)), QStringLiteral("wide \u00e4"));
    QCOMPARE(q(strings->at(20)), QStringLiteral("joined text"));
    QCOMPARE(q(strings->at(21)), QStringLiteral("Gr\u00f6\u00dfe \U0001F600"));
    QCOMPARE(strings->at(21).size(), std::size_t{8}); // the emoji is a surrogate pair
    QVERIFY(strings->at(22).empty());
    QCOMPARE(q(strings->at(65535)), QStringLiteral("last"));
}

void TestRcStringTable::rejectsMalformedScripts_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("reason");
    const QByteArray head = "STRINGTABLE\nBEGIN\n";
    QTest::newRow("include") << QByteArray("#include \"ids.h\"\n") << "line 1: preprocessor";
    QTest::newRow("define") << QByteArray("#define X 1\n") << "line 1: preprocessor";
    QTest::newRow("other code page") << QByteArray("#pragma code_page(1252)\n") << "line 1: only code page";
    QTest::newRow("unterminated string") << head + "  15, \"open\n  16, \"x\"\nEND\n"
                                         << "line 3: unterminated";
    QTest::newRow("no END") << head + "  15, \"x\"\n"
                            << "line 4: STRINGTABLE without END";
    QTest::newRow("duplicate") << head + "  15, \"x\"\n  15, \"y\"\nEND\n"
                               << "line 4: duplicate";
    QTest::newRow("identifier too large") << head + "  65536, \"x\"\nEND\n"
                                          << "line 3: string identifier out";
    QTest::newRow("symbolic identifier") << head + "  IDS_X, \"x\"\nEND\n"
                                         << "line 3: expected a string id";
    QTest::newRow("no text") << head + "  15,\nEND\n"
                             << "line 4: expected a quoted text";
    QTest::newRow("bad UTF-8") << head + "  15, \"\xC3(\"\nEND\n"
                               << "line 3: text is not valid UTF-8";
    QTest::newRow("unknown escape") << head + "  15, \"\\q\"\nEND\n"
                                    << "line 3: unknown escape";
    QTest::newRow("other resource") << QByteArray("1 ICON \"a.ico\"\n") << "line 1: expected LANGUAGE";
    QTest::newRow("stray character") << head + "  15; \"x\"\nEND\n"
                                     << "line 3: unexpected character";
    QTest::newRow("unterminated comment") << QByteArray("/* open\n\n") << "line 1: unterminated comment";
    QTest::newRow("huge number") << head + "  99999999999, \"x\"\nEND\n"
                                 << "line 3: number too large";
}

void TestRcStringTable::rejectsMalformedScripts()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    std::string error;
    QVERIFY(!RcStringTable::parse(std::string_view(script.constData(), script.size()), &error));
    QVERIFY2(QString::fromStdString(error).startsWith(reason), error.c_str());
}

QTEST_GUILESS_MAIN(TestRcStringTable)
#include "test_rcstringtable.moc"

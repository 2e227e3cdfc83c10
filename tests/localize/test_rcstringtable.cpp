#include "localize/RcStringTable.h"

#include <QFile>
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
    void sameIdentifierInSeveralLanguages();
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

void TestRcStringTable::sameIdentifierInSeveralLanguages()
{
    QFile file(QStringLiteral(CULVANE_TEST_DATA "/Mixed.rc"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray mixed = file.readAll();
    const std::string_view script(mixed.constData(), static_cast<std::size_t>(mixed.size()));
    auto texts = [&](std::uint16_t language) {
        QStringList found;
        std::string error;
        const auto strings = RcStringTable::parse(script, language, &error);
        if (!strings)
            return QStringList{QString::fromStdString(error)};
        for (const auto& [id, text] : *strings)
            found.append(QStringLiteral("%1=%2").arg(id).arg(q(text)));
        return found;
    };
    // The choice is made per block of 16: German has no 14, so none is taken from the English block.
    QCOMPARE(texts(1031), (QStringList{QStringLiteral("15=(Fehler, Deutsch):"),
                                       QStringLiteral("40=zweiter Block, Deutsch")}));
    QCOMPARE(texts(3079), texts(1031)); // same primary language
    QCOMPARE(texts(1033),
             (QStringList{QStringLiteral("14=English only"), QStringLiteral("15=(error, English):"),
                          QStringLiteral("40=second block, English")}));
    // No French: the neutral block, then the lowest language identifier (German, 0x0407).
    QCOMPARE(texts(1036), (QStringList{QStringLiteral("15=(error, neutral):"),
                                       QStringLiteral("40=zweiter Block, Deutsch")}));
    std::string error;
    const auto english = RcStringTable::parse(script, &error);
    QVERIFY2(english, error.c_str());
    QCOMPARE(q(english->at(15)), QStringLiteral("(error, English):"));

    // A LANGUAGE inside a STRINGTABLE statement holds for that table only; the packed identifier is cut
    // to 16 bits as the resource compiler cuts it (0x401 | 0x41 << 10 is 0x0401).
    const std::string scoped = "LANGUAGE 9, 1\n"
                               "STRINGTABLE LANGUAGE 7, 1 { 1, \"de\" }\n"
                               "STRINGTABLE { 1, \"en\" }\n"
                               "STRINGTABLE LANGUAGE 0x401, 0x41 { 1, \"ar\" }\n";
    QCOMPARE(q(RcStringTable::parse(scoped, 1033)->at(1)), QStringLiteral("en"));
    QCOMPARE(q(RcStringTable::parse(scoped, 1031)->at(1)), QStringLiteral("de"));
    QCOMPARE(q(RcStringTable::parse(scoped, 0x0401)->at(1)), QStringLiteral("ar"));
    // Twice in one language stays a mistake, even across two tables.
    QVERIFY(
        !RcStringTable::parse("STRINGTABLE { 1, \"a\" }\nLANGUAGE 9, 1\nSTRINGTABLE { 1, \"b\" }\n", &error));
    QCOMPARE(error, std::string("line 3: duplicate string identifier 1"));
}

QTEST_GUILESS_MAIN(TestRcStringTable)
#include "test_rcstringtable.moc"

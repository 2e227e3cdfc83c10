#include "localize/RcStringTable.h"
#include "localize/StringIds.h"

#include <QDir>
#include <QFile>
#include <QtTest>

// Texts added after the original table sit above every identifier it held and are in the built-in table
// and in every language library beside it, so that no language shows English for them.
class TestAddedStrings : public QObject {
    Q_OBJECT

private slots:
    void addedTextsAreInEveryLanguageLibrary()
    {
        const QList<int> added = {StringIds::Stop};
        QStringList scripts{QStringLiteral(CULVANE_SOURCE_DIR "/src/localize/strings.rc")};
        const QDir languages(QStringLiteral(CULVANE_SOURCE_DIR "/src/localize/languages"));
        for (const QString& name : languages.entryList({QStringLiteral("*.rc")}, QDir::Files))
            scripts.append(languages.filePath(name));
        QVERIFY(scripts.size() >= 2);
        std::optional<RcStringTable::Strings> english;
        for (const QString& path : scripts) {
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray bytes = file.readAll();
            std::string error;
            const auto strings =
                RcStringTable::parse(std::string_view(bytes.constData(), bytes.size()), &error);
            QVERIFY2(strings, error.c_str());
            if (!english)
                english = strings;
            for (int id : added) {
                QVERIFY(id > 436); // the original table's highest identifier
                const auto text = strings->find(static_cast<std::uint16_t>(id));
                QVERIFY2(text != strings->end() && !text->second.empty(),
                         qPrintable(QStringLiteral("%1: %2").arg(path).arg(id)));
            }
        }
        QCOMPARE(QString::fromStdU16String(english->at(StringIds::Stop)), QStringLiteral("Stop"));
    }
};

QTEST_GUILESS_MAIN(TestAddedStrings)
#include "test_addedstrings.moc"

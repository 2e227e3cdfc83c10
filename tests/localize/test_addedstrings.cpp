#include "localize/RcStringTable.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

// Texts added after the original table: above every identifier it used, and in the built-in table and
// every language library beside it, so that no library falls back to English for them.
class TestAddedStrings : public QObject {
    Q_OBJECT

private slots:
    void everyAddedIdentifierIsAboveTheOriginalsAndTranslated()
    {
        const auto constants = [](const QString& header) {
            QFile file(QStringLiteral(CULVANE_SOURCE_DIR "/src/localize/") + header);
            QMap<QString, int> found;
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
                return found;
            const QRegularExpression constant(QStringLiteral(R"(constexpr int (\w+) = (\d+);)"));
            for (auto it = constant.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();) {
                const auto match = it.next();
                found.insert(match.captured(1), match.captured(2).toInt());
            }
            return found;
        };
        const QMap<QString, int> original = constants(QStringLiteral("StringIds.h"));
        QMap<QString, int> added = constants(QStringLiteral("AddedStringIds.h"));
        QVERIFY(!original.isEmpty());
        const int firstAdded = added.take(QStringLiteral("FirstAdded"));
        QVERIFY(!added.isEmpty());
        QVERIFY(firstAdded > 436); // the original table's highest identifier
        for (int id : original)
            QVERIFY(id < firstAdded);

        QStringList scripts{QStringLiteral(CULVANE_SOURCE_DIR "/src/localize/strings.rc")};
        const QDir languages(QStringLiteral(CULVANE_SOURCE_DIR "/src/localize/languages"));
        for (const QString& name : languages.entryList({QStringLiteral("*.rc")}, QDir::Files))
            scripts.append(languages.filePath(name));
        QVERIFY(scripts.size() >= 2);
        for (const QString& path : scripts) {
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray bytes = file.readAll();
            std::string error;
            const auto strings =
                RcStringTable::parse(std::string_view(bytes.constData(), bytes.size()), &error);
            QVERIFY2(strings, error.c_str());
            for (auto it = added.cbegin(); it != added.cend(); ++it) {
                QVERIFY2(it.value() >= firstAdded, qPrintable(it.key()));
                const auto text = strings->find(static_cast<std::uint16_t>(it.value()));
                QVERIFY2(text != strings->end() && !text->second.empty(),
                         qPrintable(path + QStringLiteral(": ") + it.key()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestAddedStrings)
#include "test_addedstrings.moc"

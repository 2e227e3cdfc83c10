#include "Tour.h"

#include "app/WidgetPorts.h"
#include "app/frmAbout.h"
#include "app/frmHelp.h"
#include "app/frmMain.h"
#include "deletion/DeletionRun.h"
#include "deletion/Logging.h"
#include "deletion/RunResultsFile.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/Keyboard.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "ports/MsgBox.h"
#include "ports/Ports.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "selection/frmChooseSubscribers.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QHeaderView>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QQueue>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using modLocalize::mymyLoadString;

namespace {

// The subscribers of the CSV import, in file order; the second and the sixth are unchecked. Of the five
// deleted, the directory synchronisation fails the third (o'brien38) and never finishes the fifth.
const QStringList kCsvAliases = {QStringLiteral("user00017"), QStringLiteral("josé.müller43"),
                                 QStringLiteral("user00018"), QStringLiteral("o'brien38"),
                                 QStringLiteral("user00019"), QStringLiteral("user00021"),
                                 QStringLiteral("user00022")};
const std::vector<qint32> kUncheckedRows = {2, 6};
const QStringList kFirstRunOutcomes = {QStringLiteral("deleted"), QStringLiteral("deleted"),
                                       QStringLiteral("sync failed"), QStringLiteral("deleted"),
                                       QStringLiteral("sync timed out")};

struct StepFailed {
    QString reason;
};

struct ExpectedBox {
    MsgBox::Answer answer;
    QString picture;
    // The box's text must hold this.
    QString mustContain;
};

void say(const QString& text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

// The fields of one line of a results file (RFC 4180 quoting, no line breaks inside fields).
QStringList csvFields(const QString& line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// The picture with a palette of its 256 most frequent colours, each other colour drawn as the nearest of
// them. Window pictures are flat colours and smoothed text, whose few hundred rarer edge shades differ from
// their neighbours too little to see; the file is a third of the size.
QImage withPalette(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x]];
    }
    QList<std::pair<int, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCount.append({it.value(), it.key()});
    std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QList<QRgb> table;
    for (int i = 0; i < byCount.size() && i < 256; ++i)
        table.append(byCount.at(i).second);
    return image.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither | Qt::AvoidDither);
}

class Tour {
public:
    explicit Tour(TourOptions options);
    ~Tour();
    Tour(const Tour&) = delete;
    Tour& operator=(const Tour&) = delete;

    int run();

private:
    using Step = std::pair<const char*, void (Tour::*)()>;
    std::vector<Step> stepsOfPart() const;

    // The steps.
    void startProgram();
    void openSelectionPage();
    void viewExtensionRange();
    void importCsv();
    void uncheckTwoRows();
    void exportCheckedRows();
    void openDeletionPage();
    void deleteWithSyncFailures();
    void showRunLog();
    void showResultsFile();
    void chooseByFilter();
    void deleteAndStop();
    void showStoppedRun();
    void aboutInGerman();
    void openHelp();
    void exitProgram();

    // Controls and waiting.
    [[noreturn]] void fail(const QString& reason) { throw StepFailed{reason}; }
    void require(bool condition, const QString& reason)
    {
        if (!condition)
            fail(reason);
    }
    // A failure seen where no exception may pass (inside the program's own calls); the step fails after.
    void failLater(const QString& reason)
    {
        if (m_laterFailure.isEmpty())
            m_laterFailure = reason;
    }
    bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000);
    QWidget* shownWindow(const char* name);
    template <class Control> Control* control(QWidget* window, const char* name)
    {
        auto* found = window->findChild<Control*>(QString::fromLatin1(name));
        require(found != nullptr,
                QStringLiteral("%1 has no control %2").arg(window->objectName(), QLatin1String(name)));
        return found;
    }
    void press(QWidget* window, const char* button);
    void chooseCriterion(int selectionType);
    void typeInto(QWidget* window, const char* box, const QString& text);
    frmChooseSubscribers& selectionPage();
    QString usersInGrid();
    void expectBox(MsgBox::Answer answer, const QString& picture, const QString& mustContain);
    void requireBoxesAnswered();
    QString copyToWork(const QString& path);

    // Pictures.
    QString picture(QWidget* window, const QString& name, QWidget* popup = nullptr);
    void pictureTextFile(const QString& path, const QString& name);
    void pictureResultsFile(const QString& path, const QString& name, bool isResults = true);
    // A CSV file's rows; a results file must have its byte-order mark and its heading.
    QList<QStringList> readResultsFile(const QString& path, bool isResults = true);

    // The ports.
    MsgBox::Answer answer(const QString& title, const QString& text, MsgBox::Buttons buttons,
                          const QString& detail);

    TourOptions m_options;
    int m_pictureNumber = 0;
    QString m_step;
    QString m_laterFailure;

    std::unique_ptr<frmMain> m_main;
    QQueue<ExpectedBox> m_expectedBoxes;
    std::optional<QString> m_nextFileChoice;
    QStringList m_launched;
    std::optional<int> m_exitStatus;
    std::function<void(const QString&)> m_onLogLine;
    QMetaObject::Connection m_logLines;

    MsgBox::Handler m_previousBoxes;
    MsgBox::TitledHandler m_previousTitledBoxes;
    FileDialog::Handler m_previousFiles;
    Launcher::Handler m_previousLauncher;
    Module1::ExitHandler m_previousExit;
};

Tour::Tour(TourOptions options) : m_options(std::move(options))
{
    // Each part has its own range of picture numbers, so the three parts sort in their order.
    const int part = m_options.part == QLatin1String("stop")    ? 1
                     : m_options.part == QLatin1String("about") ? 2
                                                                : 0;
    m_pictureNumber = part * 20;

    m_previousBoxes =
        MsgBox::setHandler([this](const QString& text, MsgBox::Buttons buttons, const QString& detail) {
            return answer(QString(), text, buttons, detail);
        });
    m_previousTitledBoxes =
        MsgBox::setTitledHandler([this](const QString& title, const QString& text, MsgBox::Buttons buttons) {
            return answer(title, text, buttons, QString());
        });
    m_previousFiles = FileDialog::setHandler([this](const FileDialog::Request& request) {
        say(QStringLiteral("    file dialog \"%1\" answered with %2")
                .arg(request.title, m_nextFileChoice.value_or(QStringLiteral("Cancel"))));
        if (!m_nextFileChoice)
            failLater(QStringLiteral("an unexpected file dialog \"%1\" opened").arg(request.title));
        return std::exchange(m_nextFileChoice, std::nullopt);
    });
    // The closing message's OK opens the log in the desktop's viewer; without a desktop the tour shows it.
    m_previousLauncher = Launcher::setHandler([this](const QString& program, const QStringList& arguments) {
        m_launched = QStringList{program} + arguments;
        say(QStringLiteral("    would start: %1").arg(m_launched.join(QLatin1Char(' '))));
        return true;
    });
    m_previousExit = Module1::setExitHandler([this] { m_exitStatus = Module1::requestedExitStatus(); });
    m_logLines = QObject::connect(&Logging::channel(), &Logging::RunLogChannel::lineWritten,
                                  [this](const QString& line) {
                                      if (m_onLogLine)
                                          m_onLogLine(line);
                                  });
}

Tour::~Tour()
{
    QObject::disconnect(m_logLines);
    // The pages go before the ports they use.
    if (frmHelp* help = frmHelp::instance())
        delete help;
    m_main.reset();
    MsgBox::setHandler(m_previousBoxes);
    MsgBox::setTitledHandler(m_previousTitledBoxes);
    FileDialog::setHandler(m_previousFiles);
    Launcher::setHandler(m_previousLauncher);
    Module1::setExitHandler(m_previousExit);
}

std::vector<Tour::Step> Tour::stepsOfPart() const
{
    if (m_options.part == QLatin1String("run"))
        return {{"start the program", &Tour::startProgram},
                {"selection page", &Tour::openSelectionPage},
                {"extension range 401 to 410", &Tour::viewExtensionRange},
                {"CSV import", &Tour::importCsv},
                {"uncheck two rows", &Tour::uncheckTwoRows},
                {"export the checked rows", &Tour::exportCheckedRows},
                {"deletion page", &Tour::openDeletionPage},
                {"deletion run", &Tour::deleteWithSyncFailures},
                {"run log", &Tour::showRunLog},
                {"results file", &Tour::showResultsFile},
                {"exit", &Tour::exitProgram}};
    if (m_options.part == QLatin1String("stop"))
        return {{"start the program", &Tour::startProgram},
                {"selection page", &Tour::openSelectionPage},
                {"the Müllers among extensions 411 to 440", &Tour::chooseByFilter},
                {"deletion page", &Tour::openDeletionPage},
                {"deletion run stopped", &Tour::deleteAndStop},
                {"stopped run's log and results file", &Tour::showStoppedRun},
                {"exit", &Tour::exitProgram}};
    if (m_options.part == QLatin1String("about"))
        return {{"start the program", &Tour::startProgram},
                {"About in German", &Tour::aboutInGerman},
                {"help window", &Tour::openHelp},
                {"exit", &Tour::exitProgram}};
    return {};
}

int Tour::run()
{
    const std::vector<Step> steps = stepsOfPart();
    if (steps.empty()) {
        std::fprintf(stderr, "The tour has no part \"%s\" (run, stop, about).\n",
                     m_options.part.toLocal8Bit().constData());
        return 1;
    }
    int number = 0;
    for (const auto& [name, body] : steps) {
        m_step = QString::fromUtf8(name);
        ++number;
        say(QStringLiteral("Tour (%1) step %2: %3").arg(m_options.part).arg(number).arg(m_step));
        try {
            (this->*body)();
            require(m_laterFailure.isEmpty(), m_laterFailure);
            requireBoxesAnswered();
        } catch (const StepFailed& failed) {
            std::fprintf(stderr, "The tour (%s) failed at step %d, \"%s\": %s\n",
                         m_options.part.toLocal8Bit().constData(), number, name,
                         failed.reason.toLocal8Bit().constData());
            return 1;
        }
    }
    say(QStringLiteral("Tour (%1): every step passed.").arg(m_options.part));
    return 0;
}

// ---------------------------------------------------------------------------------------------- helpers

bool Tour::waitUntil(const std::function<bool()>& condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    for (;;) {
        QApplication::processEvents();
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QWidget* Tour::shownWindow(const char* name)
{
    QWidget* found = nullptr;
    waitUntil([&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String(name) && window->isVisible()) {
                found = window;
                return true;
            }
        }
        return false;
    });
    require(found != nullptr, QStringLiteral("the window %1 did not appear").arg(QLatin1String(name)));
    return found;
}

void Tour::press(QWidget* window, const char* button)
{
    auto* target = control<QAbstractButton>(window, button);
    require(target->isVisible() && target->isEnabled(),
            QStringLiteral("%1 \"%2\" of %3 cannot be pressed (%4)")
                .arg(QLatin1String(button), Keyboard::shownText(target->text()), window->objectName(),
                     target->isVisible() ? QStringLiteral("disabled") : QStringLiteral("hidden")));
    say(QStringLiteral("    press \"%1\"").arg(Keyboard::shownText(target->text())));
    QTest::mouseClick(target, Qt::LeftButton);
}

frmChooseSubscribers& Tour::selectionPage()
{
    frmChooseSubscribers* page = m_main ? m_main->chooseSubscribersPage() : nullptr;
    require(page != nullptr, QStringLiteral("the selection page is not loaded"));
    return *page;
}

QString Tour::usersInGrid()
{
    return control<QLineEdit>(&selectionPage(), "txtUsersInGrid")->text();
}

void Tour::chooseCriterion(int selectionType)
{
    auto* types = control<QComboBox>(&selectionPage(), "cmbSubscriberSelectType");
    const int index = types->findData(selectionType);
    require(index >= 0, QStringLiteral("the selection type %1 is not offered").arg(selectionType));
    say(QStringLiteral("    choose \"%1\"").arg(types->itemText(index)));
    types->setCurrentIndex(index);
    QApplication::processEvents();
}

void Tour::typeInto(QWidget* window, const char* box, const QString& text)
{
    auto* target = control<QLineEdit>(window, box);
    require(target->isVisible() && target->isEnabled(),
            QStringLiteral("the box %1 is not there to type into").arg(QLatin1String(box)));
    target->setFocus();
    target->selectAll();
    QTest::keyClicks(target, text);
    say(QStringLiteral("    type \"%1\" into %2").arg(text, QLatin1String(box)));
}

void Tour::expectBox(MsgBox::Answer answer, const QString& picture, const QString& mustContain)
{
    m_expectedBoxes.enqueue({answer, picture, mustContain});
}

void Tour::requireBoxesAnswered()
{
    if (!m_expectedBoxes.isEmpty()) {
        const QString missing = m_expectedBoxes.head().mustContain;
        m_expectedBoxes.clear();
        fail(QStringLiteral("the message \"%1\" did not appear").arg(missing));
    }
}

MsgBox::Answer Tour::answer(const QString& title, const QString& text, MsgBox::Buttons buttons,
                            const QString& detail)
{
    const MsgBox::Answer refusal = buttons == MsgBox::vbOKOnly  ? MsgBox::vbOK
                                   : buttons == MsgBox::vbYesNo ? MsgBox::vbNo
                                                                : MsgBox::vbCancel;
    say(QStringLiteral("    message: %1").arg(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    if (m_expectedBoxes.isEmpty()) {
        failLater(QStringLiteral("an unexpected message appeared: \"%1\"").arg(text));
        return refusal;
    }
    const ExpectedBox expected = m_expectedBoxes.dequeue();
    if (!text.contains(expected.mustContain)) {
        failLater(QStringLiteral("the message \"%1\" appeared where \"%2\" was expected")
                      .arg(text, expected.mustContain));
        return refusal;
    }
    // The box the program would show, pictured, then answered as the step says.
    const std::unique_ptr<QMessageBox> box =
        makeMessageBox(title, text, buttons, detail, QApplication::activeWindow());
    box->show();
    QApplication::processEvents();
    picture(box.get(), expected.picture);
    box->hide();
    const char* answerText = expected.answer == MsgBox::vbYes  ? "Yes"
                             : expected.answer == MsgBox::vbNo ? "No"
                             : expected.answer == MsgBox::vbOK ? "OK"
                                                               : "Cancel";
    say(QStringLiteral("    answer %1").arg(QLatin1String(answerText)));
    return expected.answer;
}

QString Tour::copyToWork(const QString& path)
{
    const QString copy = m_options.workFolder + QLatin1Char('/') + QFileInfo(path).fileName();
    QFile::remove(copy);
    require(QFile::copy(path, copy), QStringLiteral("%1 could not be copied to %2").arg(path, copy));
    say(QStringLiteral("    copied to %1").arg(copy));
    return copy;
}

// ---------------------------------------------------------------------------------------------- pictures

QString Tour::picture(QWidget* window, const QString& name, QWidget* popup)
{
    QApplication::processEvents();
    const QImage body = window->grab().toImage();
    // A plain frame with the window's title: the offscreen platform draws none of its own.
    constexpr int titleHeight = 26;
    QRect frame(0, 0, body.width() + 2, body.height() + titleHeight + 1);
    QImage menu;
    QPoint menuAt;
    if (popup && popup->isVisible()) {
        menu = popup->grab().toImage();
        menuAt = popup->geometry().topLeft() - window->geometry().topLeft() + QPoint(1, titleHeight);
        frame = frame.united(QRect(menuAt, menu.size()));
    }
    QImage image(frame.size(), QImage::Format_RGB32);
    image.fill(QColor(0xe8, 0xe8, 0xe8));
    {
        QPainter painter(&image);
        painter.translate(-frame.topLeft());
        painter.fillRect(QRect(0, 0, body.width() + 2, body.height() + titleHeight + 1),
                         QColor(0x4a, 0x55, 0x68));
        QFont titleFont = QApplication::font();
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(Qt::white);
        painter.drawText(QRect(10, 0, body.width() - 20, titleHeight), Qt::AlignVCenter | Qt::AlignLeft,
                         window->windowTitle());
        painter.drawImage(1, titleHeight, body);
        if (!menu.isNull()) {
            painter.drawImage(menuAt, menu);
            painter.setPen(QColor(0x80, 0x80, 0x80));
            painter.drawRect(QRect(menuAt, menu.size()).adjusted(0, 0, -1, -1));
        }
    }
    ++m_pictureNumber;
    const QString path = QStringLiteral("%1/%2-%3.png")
                             .arg(m_options.screensFolder)
                             .arg(m_pictureNumber, 2, 10, QLatin1Char('0'))
                             .arg(name);
    QImageWriter writer(path, "png");
    writer.setQuality(0); // PNG stays lossless; this asks for its strongest compression
    if (!writer.write(withPalette(image)))
        failLater(QStringLiteral("the picture %1 could not be written (%2)").arg(path, writer.errorString()));
    else
        say(QStringLiteral("    picture %1").arg(path));
    return path;
}

void Tour::pictureTextFile(const QString& path, const QString& name)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), QStringLiteral("%1 cannot be read").arg(path));
    const QString text = QString::fromUtf8(file.readAll());
    QPlainTextEdit view;
    view.setWindowTitle(QFileInfo(path).fileName());
    view.setReadOnly(true);
    view.setLineWrapMode(QPlainTextEdit::NoWrap);
    view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view.setPlainText(QString(text).remove(QLatin1Char('\r')));
    const QFontMetrics metrics(view.font());
    int widest = 0;
    const QStringList lines = view.toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    view.resize(std::min(widest + 40, 1000), std::min(int(lines.size()) * metrics.lineSpacing() + 24, 760));
    view.show();
    picture(&view, name);
}

QList<QStringList> Tour::readResultsFile(const QString& path, bool isResults)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), QStringLiteral("the results file %1 cannot be read").arg(path));
    QByteArray bytes = file.readAll();
    const bool marked = bytes.startsWith("\xEF\xBB\xBF");
    require(marked || !isResults, QStringLiteral("the results file lacks its byte-order mark"));
    if (marked)
        bytes.remove(0, 3);
    QList<QStringList> rows;
    for (const QString& line : QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        rows << csvFields(line);
    require(!rows.isEmpty() && (!isResults || rows.constFirst().value(3) == QLatin1String("Outcome")),
            QStringLiteral("%1 has no heading row").arg(path));
    return rows;
}

void Tour::pictureResultsFile(const QString& path, const QString& name, bool isResults)
{
    const QList<QStringList> rows = readResultsFile(path, isResults);
    QTableWidget view(int(rows.size()) - 1, int(rows.constFirst().size()));
    view.setWindowTitle(QFileInfo(path).fileName());
    view.setHorizontalHeaderLabels(rows.constFirst());
    view.verticalHeader()->hide();
    for (int row = 1; row < rows.size(); ++row)
        for (int column = 0; column < rows.at(row).size(); ++column)
            view.setItem(row - 1, column, new QTableWidgetItem(rows.at(row).at(column)));
    view.setFocusPolicy(Qt::NoFocus);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resizeColumnsToContents();
    view.resizeRowsToContents();
    // The whole file at once: every column and row, no scroll bars.
    int width = 2 * view.frameWidth();
    for (int column = 0; column < view.columnCount(); ++column)
        width += view.columnWidth(column);
    int height = 2 * view.frameWidth() + view.horizontalHeader()->sizeHint().height();
    for (int row = 0; row < view.rowCount(); ++row)
        height += view.rowHeight(row);
    view.resize(width, height);
    view.show();
    picture(&view, name);
}

// ---------------------------------------------------------------------------------------------- steps

void Tour::startProgram()
{
    m_main = std::make_unique<frmMain>();
    m_main->Form_Load();
    require(
        !m_exitStatus,
        QStringLiteral("the start-up checks ended the program (status %1)").arg(m_exitStatus.value_or(0)));
    m_main->show();
    picture(shownWindow("frmMain"), QStringLiteral("first-page"));
}

void Tour::openSelectionPage()
{
    press(m_main.get(), "cmdNext");
    QWidget* page = shownWindow("frmChooseSubscribers");
    require(!m_main->isVisible(), QStringLiteral("the first page stayed visible"));
    picture(page, QStringLiteral("selection-page"));
}

void Tour::viewExtensionRange()
{
    chooseCriterion(SubscriberQuery::ExtensionRange);
    typeInto(&selectionPage(), "txtSubscriberExtensionRangeLow", QStringLiteral("401"));
    typeInto(&selectionPage(), "txtSubscriberExtensionRangeHigh", QStringLiteral("410"));
    press(&selectionPage(), "cmdView");
    require(usersInGrid() == QLatin1String("10"),
            QStringLiteral("the grid shows %1 subscribers, not the 10 with extensions 401 to 410")
                .arg(usersInGrid()));
    picture(&selectionPage(), QStringLiteral("extension-range"));
}

void Tour::importCsv()
{
    const QString path = m_options.workFolder + QStringLiteral("/tour-subscribers.csv");
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate),
            QStringLiteral("%1 cannot be written").arg(path));
    file.write(QStringLiteral("Alias\r\n%1\r\n").arg(kCsvAliases.join(QStringLiteral("\r\n"))).toUtf8());
    file.close();
    say(QStringLiteral("    wrote %1 (%2 aliases)").arg(path).arg(kCsvAliases.size()));

    chooseCriterion(SubscriberQuery::CsvFile);
    m_nextFileChoice = path;
    press(&selectionPage(), "cmdBrowseForCSV");
    require(control<QLineEdit>(&selectionPage(), "txtCSVPath")->text() == path,
            QStringLiteral("the chosen file did not reach the path box"));
    picture(&selectionPage(), QStringLiteral("csv-file-chosen"));
    expectBox(MsgBox::vbOK, QStringLiteral("csv-import-message"),
              mymyLoadString(StringIds::CsvImportComplete));
    press(&selectionPage(), "cmdView");
    require(usersInGrid() == QString::number(kCsvAliases.size()),
            QStringLiteral("the grid shows %1 subscribers, not the file's %2")
                .arg(usersInGrid())
                .arg(kCsvAliases.size()));
    picture(&selectionPage(), QStringLiteral("csv-import"));
}

void Tour::uncheckTwoRows()
{
    auto* view = control<QTableView>(&selectionPage(), "myGrid");
    const SubscriberGridModel& grid = selectionPage().grid();
    for (const qint32 row : kUncheckedRows) {
        require(grid.isChecked(row), QStringLiteral("row %1 was not checked to begin with").arg(row));
        // A click on a row's text toggles its check box, as on the check box itself.
        const QModelIndex cell =
            view->model()->index(SubscriberGridModel::viewRowFromGridRow(row), SubscriberGridModel::ColAlias);
        view->scrollTo(cell);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
        QApplication::processEvents();
        require(!grid.isChecked(row), QStringLiteral("a click did not uncheck row %1").arg(row));
        say(QStringLiteral("    uncheck row %1 (%2)")
                .arg(row)
                .arg(grid.TextMatrix(row, grid.ColIndex(QStringLiteral("Alias")))));
    }
    picture(&selectionPage(), QStringLiteral("two-rows-unchecked"));
}

void Tour::exportCheckedRows()
{
    const QString path = m_options.workFolder + QStringLiteral("/tour-export.csv");
    QFile::remove(path);
    m_nextFileChoice = path;
    press(&selectionPage(), "cmdExport");
    const QList<QStringList> rows = readResultsFile(path, false);
    require(rows.constFirst().value(0) == QLatin1String("Alias"),
            QStringLiteral("the export has no heading row"));
    QStringList aliases;
    for (int i = 1; i < rows.size(); ++i)
        aliases << rows.at(i).value(0);
    QStringList checked = kCsvAliases;
    for (auto it = kUncheckedRows.crbegin(); it != kUncheckedRows.crend(); ++it)
        checked.removeAt(*it - 1);
    require(aliases == checked,
            QStringLiteral("the export holds %1, not the checked %2")
                .arg(aliases.join(QStringLiteral(", ")), checked.join(QStringLiteral(", "))));
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    say(QStringLiteral("    export %1:").arg(path));
    say(QString::fromUtf8(file.readAll()).remove(QLatin1Char('\r')));
    pictureResultsFile(path, QStringLiteral("export"), false);
}

void Tour::openDeletionPage()
{
    press(&selectionPage(), "cmdNext");
    QWidget* page = shownWindow("frmDeleteSubscribers");
    require(!selectionPage().isVisible(), QStringLiteral("the selection page stayed visible"));
    picture(page, QStringLiteral("deletion-page"));
}

namespace {
// The question before a run, naming how many checked subscribers it will delete.
QString confirmationFor(int checked)
{
    return mymyLoadString(StringIds::ConfirmOrvaneDataRemoval) + QStringLiteral("\n\n") +
           mymyLoadString(StringIds::SubscribersToDelete).arg(checked);
}
} // namespace

void Tour::deleteWithSyncFailures()
{
    QWidget* page = shownWindow("frmDeleteSubscribers");
    expectBox(MsgBox::vbYes, QStringLiteral("confirmation"), confirmationFor(5));
    expectBox(MsgBox::vbOK, QStringLiteral("closing-message"),
              mymyLoadString(StringIds::DeletionCompleteRemoved) + QStringLiteral("5") +
                  mymyLoadString(StringIds::DeletionCompleteSubscribers));
    int deleting = 0;
    m_onLogLine = [&](const QString& line) {
        if (line == DeletionRun::DeletingLine && ++deleting == 3)
            picture(page, QStringLiteral("deletion-running"));
    };
    say(QStringLiteral("    (the fifth subscriber's synchronisation never finishes: 20 polls of 2 seconds)"));
    press(page, "cmdDeleteSubscribers");
    m_onLogLine = nullptr;
    requireBoxesAnswered();
    require(deleting == 5, QStringLiteral("%1 subscribers were deleted, not 5").arg(deleting));
    require(m_launched == QStringList({frmDeleteSubscribers::TextViewer, Logging::RunLogPath()}),
            QStringLiteral("OK on the closing message did not open the run log"));
    require(control<QLabel>(page, "lblRecordsDeletedCount")->text() == QLatin1String("5"),
            QStringLiteral("the counter does not show 5"));
    picture(page, QStringLiteral("deletion-finished"));
}

void Tour::showRunLog()
{
    const QString path = Logging::RunLogPath();
    QFile file(path);
    require(file.open(QIODevice::ReadOnly), QStringLiteral("the run log %1 cannot be read").arg(path));
    const QString log = QString::fromUtf8(file.readAll());
    const auto count = [&](const QString& text) { return int(log.count(text)); };
    require(count(DeletionRun::DeletingLine) == 5, QStringLiteral("the log lacks its five deletions"));
    require(count(DeletionRun::SyncCompleteLine) == 3, QStringLiteral("the log lacks three completed syncs"));
    require(log.contains(DeletionRun::syncFailedLine(kCsvAliases.at(3))),
            QStringLiteral("the log lacks the failed sync of %1").arg(kCsvAliases.at(3)));
    require(log.contains(DeletionRun::syncFailedLine(kCsvAliases.at(6))),
            QStringLiteral("the log lacks the unfinished sync of %1").arg(kCsvAliases.at(6)));
    require(count(QStringLiteral("in a timely fashion")) == 1, QStringLiteral("the log lacks one time-out"));
    say(QStringLiteral("    run log %1:").arg(path));
    say(QString(log).remove(QLatin1Char('\r')));
    copyToWork(path);
    pictureTextFile(path, QStringLiteral("run-log"));
}

void Tour::showResultsFile()
{
    const QString path = RunResultsFile::pathFor(Logging::RunLogPath());
    const QList<QStringList> rows = readResultsFile(path);
    require(rows.size() == 6, QStringLiteral("the results file has %1 rows, not 5").arg(rows.size() - 1));
    for (int i = 0; i < kFirstRunOutcomes.size(); ++i)
        require(rows.at(i + 1).value(3) == kFirstRunOutcomes.at(i),
                QStringLiteral("subscriber %1 (%2) is \"%3\", not \"%4\"")
                    .arg(i + 1)
                    .arg(rows.at(i + 1).value(0), rows.at(i + 1).value(3), kFirstRunOutcomes.at(i)));
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    say(QStringLiteral("    results file %1:").arg(path));
    say(QString::fromUtf8(file.readAll()).remove(QLatin1Char('\r')));
    copyToWork(path);
    pictureResultsFile(path, QStringLiteral("results-file"));
}

// Of the 29 subscribers with extensions 411 to 440, the four named Müller (three by display name, one by
// alias), found by the filter without their accent and checked through the grid's context menu.
void Tour::chooseByFilter()
{
    frmChooseSubscribers& page = selectionPage();
    chooseCriterion(SubscriberQuery::ExtensionRange);
    typeInto(&page, "txtSubscriberExtensionRangeLow", QStringLiteral("411"));
    typeInto(&page, "txtSubscriberExtensionRangeHigh", QStringLiteral("440"));
    press(&page, "cmdView");
    require(usersInGrid() == QLatin1String("29"),
            QStringLiteral("the grid shows %1 subscribers, not the 29 with extensions 411 to 440")
                .arg(usersInGrid()));
    press(&page, "cmdUnselectAll");

    auto* view = control<QTableView>(&page, "myGrid");
    typeInto(&page, "txtFilter", QStringLiteral("muller"));
    QApplication::processEvents();
    require(view->model()->rowCount() == 4,
            QStringLiteral("the filter shows %1 rows, not the four Müllers").arg(view->model()->rowCount()));
    require(usersInGrid() == QLatin1String("29"), QStringLiteral("the count box no longer counts every row"));
    picture(&page, QStringLiteral("filtered-grid"));

    auto* check = control<QAction>(&page, "mnuCheckVisibleRows");
    auto* menu = qobject_cast<QMenu*>(check->parent());
    require(menu != nullptr,
            QStringLiteral("\"%1\" is not in a menu").arg(Keyboard::shownText(check->text())));
    // A right click on the grid, as the window system reports it.
    const QPoint at = view->viewport()->rect().center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &click);
    require(waitUntil([&] { return menu->isVisible(); }),
            QStringLiteral("the grid's context menu did not open"));
    picture(&page, QStringLiteral("grid-context-menu"), menu);
    say(QStringLiteral("    choose \"%1\"").arg(Keyboard::shownText(check->text())));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(check).center());
    require(waitUntil([&] { return !menu->isVisible(); }), QStringLiteral("the context menu stayed open"));

    auto* filter = control<QLineEdit>(&page, "txtFilter");
    filter->setFocus();
    filter->selectAll();
    QTest::keyClick(filter, Qt::Key_Delete);
    QApplication::processEvents();
    require(view->model()->rowCount() == 29,
            QStringLiteral("clearing the filter does not show every row again"));
    const SubscriberGridModel& grid = page.grid();
    QStringList checked;
    for (qint32 row = 1; row < grid.Rows(); ++row)
        if (grid.isChecked(row))
            checked << grid.TextMatrix(row, grid.ColIndex(QStringLiteral("Alias")));
    require(checked.size() == 4,
            QStringLiteral("%1 rows are checked, not the four Müllers").arg(checked.size()));
    say(QStringLiteral("    checked: %1").arg(checked.join(QStringLiteral(", "))));
    picture(&page, QStringLiteral("filter-cleared"));
}

void Tour::deleteAndStop()
{
    QWidget* page = shownWindow("frmDeleteSubscribers");
    auto* stop = control<QAbstractButton>(page, "cmdStop");
    require(!stop->isVisible(), QStringLiteral("\"Stop\" shows before a run"));
    expectBox(MsgBox::vbYes, QStringLiteral("confirmation"), confirmationFor(4));
    expectBox(MsgBox::vbOK, QStringLiteral("stopped-closing-message"),
              mymyLoadString(StringIds::DeletionCompleteRemoved) + QStringLiteral("2") +
                  mymyLoadString(StringIds::DeletionCompleteSubscribers));
    const SubscriberGridModel& grid = selectionPage().grid();
    const auto checkedRows = [&] {
        QList<qint32> rows;
        for (qint32 row = 1; row < grid.Rows(); ++row)
            if (grid.isChecked(row))
                rows << row;
        return rows;
    };
    const QList<qint32> checkedBefore = checkedRows();
    require(checkedBefore.size() == 4,
            QStringLiteral("%1 rows are checked, not 4").arg(checkedBefore.size()));
    int deleting = 0;
    bool pressed = false;
    m_onLogLine = [&](const QString& line) {
        if (line != DeletionRun::DeletingLine || ++deleting != 2)
            return;
        if (!stop->isVisible() || !stop->isEnabled()) {
            failLater(QStringLiteral("\"Stop\" cannot be pressed during the run"));
            return;
        }
        say(QStringLiteral("    press \"%1\" during the second subscriber")
                .arg(Keyboard::shownText(stop->text())));
        QTest::mouseClick(stop, Qt::LeftButton);
        pressed = true;
        picture(page, QStringLiteral("stop-pressed"));
    };
    press(page, "cmdDeleteSubscribers");
    m_onLogLine = nullptr;
    requireBoxesAnswered();
    require(pressed, QStringLiteral("the run ended before its second subscriber"));
    require(deleting == 2, QStringLiteral("%1 subscribers were begun, not 2").arg(deleting));
    require(!stop->isVisible(), QStringLiteral("\"Stop\" still shows after the run"));
    // Deleted rows stay listed and checked, and so do the rows not reached.
    require(checkedRows() == checkedBefore, QStringLiteral("the checked rows changed during the run"));
    picture(page, QStringLiteral("stopped-run-finished"));
}

void Tour::showStoppedRun()
{
    const QString logPath = Logging::RunLogPath();
    QFile file(logPath);
    require(file.open(QIODevice::ReadOnly), QStringLiteral("the run log %1 cannot be read").arg(logPath));
    const QString log = QString::fromUtf8(file.readAll());
    require(log.contains(DeletionRun::stoppedLine(2, 4)),
            QStringLiteral("the log lacks \"%1\"").arg(DeletionRun::stoppedLine(2, 4)));
    say(QStringLiteral("    run log %1:").arg(logPath));
    say(QString(log).remove(QLatin1Char('\r')));
    copyToWork(logPath);
    pictureTextFile(logPath, QStringLiteral("stopped-run-log"));

    const QString path = RunResultsFile::pathFor(logPath);
    const QList<QStringList> rows = readResultsFile(path);
    require(rows.size() == 5, QStringLiteral("the results file has %1 rows, not 4").arg(rows.size() - 1));
    for (int i = 1; i <= 4; ++i) {
        const bool reached = i <= 2;
        require((rows.at(i).value(3) == QLatin1String("not attempted")) != reached,
                QStringLiteral("subscriber %1 is \"%2\"").arg(i).arg(rows.at(i).value(3)));
    }
    QFile results(path);
    results.open(QIODevice::ReadOnly);
    say(QStringLiteral("    results file %1:").arg(path));
    say(QString::fromUtf8(results.readAll()).remove(QLatin1Char('\r')));
    copyToWork(path);
    pictureResultsFile(path, QStringLiteral("stopped-run-results"));
}

void Tour::aboutInGerman()
{
    const QString englishChangeLanguage = mymyLoadString(StringIds::ChangeLanguage);
    bool seen = false;
    // About shows modally: the steps inside it run from its own event loop, and always close it.
    QTimer::singleShot(0, [&] {
        frmAbout* about = m_main->aboutWindow();
        try {
            require(about && waitUntil([&] { return about->isVisible(); }),
                    QStringLiteral("About did not appear"));
            seen = true;
            picture(about, QStringLiteral("about"));
            auto* link = control<QLabel>(about, "lblChangeLanguage");
            say(QStringLiteral("    click \"%1\"").arg(link->text()));
            QTest::mouseClick(link, Qt::LeftButton);
            QMenu* menu = about->languageMenu();
            require(waitUntil([&] { return menu->isVisible(); }),
                    QStringLiteral("the language menu did not open"));
            QAction* german = nullptr;
            for (QAction* entry : about->languageEntries())
                if (entry->data().toString() == QLatin1String("1031"))
                    german = entry;
            require(german != nullptr, QStringLiteral("the language menu offers no German"));
            picture(about, QStringLiteral("language-menu"), menu);
            say(QStringLiteral("    choose \"%1\"").arg(german->text()));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(german).center());
            require(waitUntil([&] { return !menu->isVisible() && link->text() != englishChangeLanguage; }),
                    QStringLiteral("choosing German did not change the window's texts"));
            picture(about, QStringLiteral("about-german"));
            press(about, "cmdOK");
        } catch (const StepFailed& failed) {
            failLater(failed.reason);
        }
        if (about && about->isVisible())
            about->hide();
    });
    auto* aboutEntry = m_main->findChild<QAction*>(QStringLiteral("About"));
    require(aboutEntry != nullptr, QStringLiteral("the Help menu has no About"));
    say(QStringLiteral("    Help menu: \"%1\"").arg(Keyboard::shownText(aboutEntry->text())));
    aboutEntry->trigger();
    require(seen, QStringLiteral("About did not appear"));
    require(m_laterFailure.isEmpty(), m_laterFailure);
    require(modLocalize::CurrentLangID() == 1031, QStringLiteral("the language is not German"));
    picture(shownWindow("frmMain"), QStringLiteral("first-page-german"));
}

void Tour::openHelp()
{
    press(m_main.get(), "cmdHelp");
    QWidget* help = shownWindow("frmHelp");
    auto* browser = control<QTextBrowser>(help, "browserHelp");
    require(
        browser->source().fileName() == QLatin1String("culvane_DEU.htm"),
        QStringLiteral("the help window shows %1, not the German page").arg(browser->source().toString()));
    require(waitUntil([&] { return !browser->document()->isEmpty(); }),
            QStringLiteral("the help page is empty"));
    picture(help, QStringLiteral("help"));
    help->close();
}

void Tour::exitProgram()
{
    QWidget* page = nullptr;
    for (const char* name : {"frmDeleteSubscribers", "frmChooseSubscribers", "frmMain"}) {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (!page && window->objectName() == QLatin1String(name) && window->isVisible())
                page = window;
    }
    require(page != nullptr, QStringLiteral("no page is showing"));
    press(page, "cmdExit");
    require(m_exitStatus == Module1::ExitNormal, QStringLiteral("\"Exit\" did not end the program normally"));
}

} // namespace

int runTour(const TourOptions& options)
{
    modLocalize::setProgramLocation(options.programFolder, QStringLiteral("Culvane"));
    QDir().mkpath(options.screensFolder);
    QDir().mkpath(options.workFolder);
    const int status = Tour(options).run();
    modLocalize::setProgramLocation({}, {});
    return status;
}

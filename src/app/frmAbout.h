#pragma once

#include <QDialog>
#include <QList>

class QAction;
class QLabel;
class QMenu;
class QPushButton;

// The About window: the tool's version and maker, and the one place where the language of the whole
// program is switched. Shown modally; OK only hides it, so its language list is built once per load.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    void Form_Load();
    Q_INVOKABLE void frmAbout_Auto_Init();

    // " 4.0 Build 23" for version 4.0 revision 23: major and revision as a number-to-text conversion writes
    // them, with a blank where a minus sign would stand.
    static QString versionCaption(int major, int minor, int revision);

    QMenu* languageMenu() const { return mnuSelectLanguage; }
    const QList<QAction*>& languageEntries() const { return mnuLanguageList; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdOK_Click();
    void lblChangeLanguage_Click(const QPoint& at);
    void mnuLanguageList_Click(int index);
    QAction* languageEntry(int index);

    QPushButton* cmdOK = nullptr;
    QLabel* lblVersionTitle = nullptr; // element 1 of its array, the only one
    QLabel* lblVersion = nullptr;
    QLabel* lblMarvokAddress1 = nullptr;
    QLabel* lblMarvokAddress2 = nullptr;
    QLabel* lblMarvokAddress3 = nullptr;
    QLabel* lblTrademark = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* lblChangeLanguage = nullptr;
    QMenu* mnuSelectLanguage = nullptr;
    QList<QAction*> mnuLanguageList;
};

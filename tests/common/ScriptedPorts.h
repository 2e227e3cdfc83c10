#pragma once

#include "ports/MsgBox.h"
#include "ports/Ports.h"

#include <QQueue>
#include <QString>
#include <QStringList>

// Installs a message box handler for the life of the object: records every text and answers from a queue
// (the first button when the queue is empty). Titles are recorded beside the texts (empty: the
// application's title).
class ScriptedMessageBoxes {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void setNextAnswer(MsgBox::Answer answer) { m_answers.enqueue(answer); }
    const QStringList& texts() const { return m_texts; }
    const QList<MsgBox::Buttons>& buttons() const { return m_buttons; }
    const QStringList& titles() const { return m_titles; }
    // The detailed text of each box, in step with texts(); empty where a box had none.
    const QStringList& details() const { return m_details; }
    void clear()
    {
        m_texts.clear();
        m_buttons.clear();
        m_titles.clear();
        m_details.clear();
    }

private:
    MsgBox::Answer answer(const QString& title, const QString& text, MsgBox::Buttons buttons,
                          const QString& detail);

    MsgBox::Handler m_previous;
    MsgBox::TitledHandler m_previousTitled;
    QQueue<MsgBox::Answer> m_answers;
    QStringList m_texts;
    QList<MsgBox::Buttons> m_buttons;
    QStringList m_titles;
    QStringList m_details;
};

// Replaces the sleeper for the life of the object: no real pause, each requested pause is recorded.
class CountingSleeper {
public:
    CountingSleeper();
    ~CountingSleeper();
    CountingSleeper(const CountingSleeper&) = delete;
    CountingSleeper& operator=(const CountingSleeper&) = delete;
    const QList<int>& pauses() const { return m_pauses; }

private:
    Clock::Sleeper m_previous;
    QList<int> m_pauses;
};

// Records what the program would start instead of starting it.
class RecordingLauncher {
public:
    RecordingLauncher();
    ~RecordingLauncher();
    RecordingLauncher(const RecordingLauncher&) = delete;
    RecordingLauncher& operator=(const RecordingLauncher&) = delete;
    const QList<QStringList>& started() const { return m_started; }

private:
    Launcher::Handler m_previous;
    QList<QStringList> m_started;
};

// Answers the file dialog from a queue of choices (nothing = cancelled) and records the requests.
class ScriptedFileDialog {
public:
    ScriptedFileDialog();
    ~ScriptedFileDialog();
    ScriptedFileDialog(const ScriptedFileDialog&) = delete;
    ScriptedFileDialog& operator=(const ScriptedFileDialog&) = delete;
    void setNextChoice(std::optional<QString> choice) { m_choices.enqueue(std::move(choice)); }
    const QList<FileDialog::Request>& requests() const { return m_requests; }

private:
    FileDialog::Handler m_previous;
    QQueue<std::optional<QString>> m_choices;
    QList<FileDialog::Request> m_requests;
};

#include "common/ScriptedPorts.h"

ScriptedMessageBoxes::ScriptedMessageBoxes()
{
    m_previous =
        MsgBox::setHandler([this](const QString& text, MsgBox::Buttons buttons, const QString& detail) {
            return answer(QString(), text, buttons, detail);
        });
    m_previousTitled =
        MsgBox::setTitledHandler([this](const QString& title, const QString& text, MsgBox::Buttons buttons) {
            return answer(title, text, buttons, QString());
        });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    MsgBox::setHandler(std::move(m_previous));
    MsgBox::setTitledHandler(std::move(m_previousTitled));
}

MsgBox::Answer ScriptedMessageBoxes::answer(const QString& title, const QString& text,
                                            MsgBox::Buttons buttons, const QString& detail)
{
    m_texts.append(text);
    m_buttons.append(buttons);
    m_titles.append(title);
    m_details.append(detail);
    if (!m_answers.isEmpty())
        return m_answers.dequeue();
    return buttons == MsgBox::vbYesNo ? MsgBox::vbYes : MsgBox::vbOK;
}

CountingSleeper::CountingSleeper()
{
    m_previous = Clock::setSleeper([this](int milliseconds) { m_pauses.append(milliseconds); });
}

CountingSleeper::~CountingSleeper()
{
    Clock::setSleeper(std::move(m_previous));
}

RecordingLauncher::RecordingLauncher()
{
    m_previous = Launcher::setHandler([this](const QString& program, const QStringList& arguments) {
        m_started.append(QStringList{program} + arguments);
        return true;
    });
}

RecordingLauncher::~RecordingLauncher()
{
    Launcher::setHandler(std::move(m_previous));
}

ScriptedFileDialog::ScriptedFileDialog()
{
    m_previous = FileDialog::setHandler([this](const FileDialog::Request& request) -> std::optional<QString> {
        m_requests.append(request);
        if (m_choices.isEmpty())
            return std::nullopt;
        return m_choices.dequeue();
    });
}

ScriptedFileDialog::~ScriptedFileDialog()
{
    FileDialog::setHandler(std::move(m_previous));
}

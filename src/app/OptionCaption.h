#pragma once

#include <QLabel>

class QAbstractButton;

// A word-wrapped caption beside an option button: option buttons cannot wrap their own long texts. A click
// on the caption acts as a click on the option, and the caption follows the option's enabled state.
class OptionCaption : public QLabel {
    Q_OBJECT

public:
    OptionCaption(QAbstractButton* option, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractButton* m_option;
};

#pragma once

#include "ports/MsgBox.h"

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

// Installs the real message box and file dialog behind the program's ports.
void installWidgetPorts();

// The box the message port shows for these arguments (an empty title gives the application's), not yet
// shown. The tour pictures the boxes it answers with it.
std::unique_ptr<QMessageBox> makeMessageBox(const QString& title, const QString& text,
                                            MsgBox::Buttons buttons, const QString& detail,
                                            QWidget* parent = nullptr);

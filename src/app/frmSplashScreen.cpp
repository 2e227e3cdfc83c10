#include "app/frmSplashScreen.h"

#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"

#include <QLabel>
#include <QVBoxLayout>

frmSplashScreen::frmSplashScreen(QWidget* parent)
    // Shown as a tip is: on top, and never taking the keyboard from the page under it.
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmSplashScreen"));
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont font = Label1->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    Label1->setFont(font);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->addWidget(Label1);
    setStyleSheet(QStringLiteral("frmSplashScreen { border: 1px solid palette(dark); }"));
    setAttribute(Qt::WA_StyledBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    frmSplashScreen_Auto_Init();
}

void frmSplashScreen::frmSplashScreen_Auto_Init()
{
    modLocalize::ApplyLanguageFonts(this);
    Label1->setText(modLocalize::mymyLoadString(StringIds::LoadingData));
}

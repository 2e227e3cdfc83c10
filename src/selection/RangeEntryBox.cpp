#include "selection/RangeEntryBox.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/MsgBox.h"

#include <QLineEdit>

namespace RangeEntry {

bool validateExtensionBox(QLineEdit& box)
{
    if (!checkExtensionBox(box.text()))
        return false;
    MsgBox::show(modLocalize::mymyLoadString(StringIds::ExtensionRangeNumbersOnly), MsgBox::vbOKOnly);
    box.setText(QString());
    return true;
}

} // namespace RangeEntry

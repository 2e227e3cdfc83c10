#pragma once

#include "selection/RangeEntry.h"

class QLineEdit;

namespace RangeEntry {

// Applies the rule to a box: shows "Only numbers are allowed for extension range values" (string 403) and
// empties the box when its text is refused. Answers whether it refused. For the upper box's textChanged
// and the lower box's loss of focus.
bool validateExtensionBox(QLineEdit& box);

} // namespace RangeEntry

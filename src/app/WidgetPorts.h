#pragma once

// Installs the real message box and file dialog behind the program's ports.
void installWidgetPorts();

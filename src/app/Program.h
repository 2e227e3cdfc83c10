#pragma once

#include <functional>

class QIcon;

// The program from its first statement to its end; main() is only this call. `firstPageShown` runs once,
// when the first page has painted itself (the start-up benchmark times the program with it).
int runCulvane(int& argc, char** argv, const std::function<void()>& firstPageShown = {});

// What the program sets for the whole application once its application object exists: names, style,
// fonts and the ports of the message boxes and file dialogs. The tour sets the same.
void setUpApplication();

// The desktop entry's icon, which every window of the program carries.
QIcon programIcon();

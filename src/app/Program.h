#pragma once

#include <functional>

// The program from its first statement to its end; main() is only this call. `firstPageShown` runs once,
// when the first page has painted itself (the start-up benchmark times the program with it).
int runCulvane(int& argc, char** argv, const std::function<void()>& firstPageShown = {});

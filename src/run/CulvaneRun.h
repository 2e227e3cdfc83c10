#pragma once

// culvane-run: everything main does. Answers the exit status (RunOptions::Exit...).
int runCulvaneRun(int& argc, char** argv);

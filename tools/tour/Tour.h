#pragma once

#include <QString>

// The guided tour of the whole wizard as an administrator walks it, on whatever platform the application
// runs (offscreen for scripts/demo --tour): the real windows, driven through their object names, against
// the demo's stand-in server and its directory synchronisation. A page allows one deletion run per start of
// the program, so the tour is three starts, each a part run in a process of its own:
//   run    the first page, a criterion, a CSV import, two rows unchecked, a deletion run (the service fails
//          the third subscriber and never finishes the fifth), the closing message, the log and results;
//   stop   a second run of four subscribers, stopped during the second, and its results file;
//   about  About, the language switched to German, and the help window.
// Each step leaves a numbered picture; a step whose window or control does not appear, or whose outcome
// is not the expected one, ends the tour with the step's name.
struct TourOptions {
    QString part;
    // The program folder: language libraries, help pages and logs/.
    QString programFolder;
    // Where the tour writes its CSV file and copies the run logs and results files.
    QString workFolder;
    // Where the pictures go.
    QString screensFolder;
};

// The parts in the order they are meant to run.
inline const char* const TourParts[] = {"run", "stop", "about"};

// Runs every step of the part in turn. 0 when all passed; else 1, the failed step named on standard error.
// Needs a QApplication and the stand-in's environment (CULVANE_REGISTRY, ODBCSYSINI, the database's folder
// as the working folder); replaces the message box, file dialog, launcher and exit ports while it runs.
int runTour(const TourOptions& options);

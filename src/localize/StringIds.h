#pragma once

// The string identifiers the program fetches. They are the contract with the language libraries: an
// identifier never changes meaning. The English texts are in strings.rc.
namespace StringIds {

// Error reports: "(error):" + number + " (" + description + closing text.
constexpr int ErrorHead = 15; // "(error):"
constexpr int InCleanupLogFiles = 368;
constexpr int InCmbSubscriberSelectTypeChange = 369;
constexpr int InCmdDeleteSubscribersClick = 370;
constexpr int InFrmMainCmdNextClick = 372;
constexpr int InCmdPreviousClick = 373; // the deletion page's "<< Previous"
constexpr int InFrmChooseSubscribersFormLoad = 374;
constexpr int InFrmMainFormLoad = 375;
constexpr int InGenerateNewLogFileName = 376;
constexpr int InWaitForSyncToFinished = 380;

// Buttons and menus shared by the pages.
constexpr int Previous = 18;  // "<< Previous"
constexpr int Next = 191;     // "Next >>"
constexpr int Help = 153;     // "Help"
constexpr int Exit = 132;     // "Exit"
constexpr int About = 21;     // "About"
constexpr int Ok = 195;       // "OK"
constexpr int AppTitle = 388; // "Culvane"
constexpr int CheckForUpdatedVersion = 350;

// First page and start-up.
constexpr int DeletionType = 412;
constexpr int DeleteAll = 410;
constexpr int DeleteOnlyOrvaneInfo = 409;
constexpr int MainExplainTool = 419;
constexpr int MainExplainOrvaneOnly = 389;
constexpr int MainExplainFullRemoval = 431;
constexpr int LoadingData = 172;
constexpr int VersionTooOld = 393;
constexpr int DominoNotSupported = 420;
constexpr int CannotOpenDatabase = 422;
constexpr int RestrictedRights = 435;
// The registry export file cannot serve: %1 is the file, %2 the reason.
constexpr int RegistryFileNamedUnusable = 437;
constexpr int RegistryFileDefaultUnusable = 438;

// About window.
constexpr int AboutCaption = 423; // "Orvane Culvane"
constexpr int ChangeLanguage = 89;
constexpr int SelectLanguage = 234;
constexpr int VersionTitle = 291; // "Version:"
constexpr int NoLanguagesLoaded = 301;
constexpr int MakerName = 97;
constexpr int MakerCity = 223;
constexpr int MakerCountry = 280;
constexpr int TrademarkNotice = 282;
constexpr int CopyrightNotice = 105;

// Selection page.
constexpr int SelectSubscribers = 237;
constexpr int AddSubscribersToGrid = 24;
constexpr int SelectAll = 230;
constexpr int DeselectAll = 299; // "deSelect All"
constexpr int Browse = 69;
constexpr int ClearGrid = 98;
constexpr int ExtensionRangeTo = 274; // "To:"
constexpr int UsersInGrid = 289;
constexpr int AllSubscribers = 383;
constexpr int CriterionExtensionRange = 418;
constexpr int CriterionCos = 413;
constexpr int CriterionSwitch = 414;
constexpr int CriterionMailServer = 416;
constexpr int CriterionLocation = 408;
constexpr int CriterionNode = 387;
constexpr int CriterionCsvFile = 417;
constexpr int InvalidSelectionValue = 394;
constexpr int ExtensionRangeOrder = 168;
constexpr int ExtensionRangeNotNumeric = 169;
constexpr int ExtensionRangeNumbersOnly = 403;
constexpr int MyIsNumberError = 392;
constexpr int SelectCosFirst = 333;
constexpr int SelectSwitchFirst = 331;
constexpr int SelectMailstoreFirst = 332;
constexpr int SelectLocationFirst = 329;
constexpr int NoSubscribersInGrid = 296;
constexpr int NoSubscriberChecked = 298;

// Grid column headings.
constexpr int ColumnAlias = 30;
constexpr int ColumnDisplayName = 110;
constexpr int ColumnFirstName = 139;
constexpr int ColumnLastName = 170;
constexpr int ColumnExtension = 134;
constexpr int ColumnHomeServer = 155;
constexpr int ColumnCos = 79;

// CSV import.
constexpr int SelectCsvFileTitle = 231;
constexpr int CsvExtensionHeading = 300; // "extension"
constexpr int CsvCannotOpen = 131;
constexpr int CsvInvalidFormat = 130;
constexpr int CsvImportComplete = 308; // "Import complete.  "
constexpr int CsvLinesRead = 309;      // " lines read in from text file, "
constexpr int CsvUsersAdded = 310;     // " users added to grid."

// Deletion page.
constexpr int DeleteSubscribers = 391;
constexpr int DeletePageExplanation = 405;
constexpr int Progress = 212;
constexpr int SubscribersDeleted = 415;
constexpr int ConfirmFullRemoval = 429;
constexpr int ConfirmFullRemovalAgain = 385;
constexpr int ConfirmOrvaneDataRemoval = 386;
constexpr int DeletionCompleteRemoved = 411;     // "Subscriber deletion process complete, removed "
constexpr int DeletionCompleteSubscribers = 433; // " subscribers.  "
constexpr int DeletionCompleteErrors = 434;      // " error(s) encountered.  ..."
// Added after the original table, above every identifier it held.
constexpr int Stop = 439;                   // "Stop", shown during a run
constexpr int ResultsFileUnavailable = 440; // %1 the results file, %2 the reason
// The grid's filter and its context menu.
constexpr int GridFilter = 441;         // "Filter:"
constexpr int CheckVisibleRows = 442;   // "Check visible rows"
constexpr int UncheckVisibleRows = 443; // "Uncheck visible rows"
// The selection page's export of the checked rows.
constexpr int Export = 445;        // "Export..."
constexpr int ExportRefused = 446; // %1 rows the import would misread, %2 their aliases
constexpr int ExportNothingChecked = 447;
constexpr int ExportWriteFailed = 448; // %1 the file, %2 the system's reason
constexpr int ExportDialogTitle = 449;
// Checked rows that the filter hides, and the count the deletion will take.
constexpr int CheckedRowsHidden = 450;   // %1 hidden, %2 checked in all
constexpr int SubscribersToDelete = 451; // %1 the checked subscribers
// An extension range whose subscribers without details were passed over.
constexpr int RangeSubscribersSkipped = 452; // %1 how many
// The deletion page's view of a run as it goes.
constexpr int RunInProgress = 453; // %1 the alias
constexpr int RunElapsed = 454;    // %1 m:ss
constexpr int RunTimeLeft = 455;   // %1 m:ss
constexpr int RunTimeLeftUnknown = 456;
constexpr int RunLogView = 457;
// Messages of the run log, the text viewer and the CSV import that the original did not have.
constexpr int RunLogNotCreated = 460;    // %1 the log, %2 the reason
constexpr int RunLogIncomplete = 461;    // %1 the log, %2 the reason
constexpr int NoTextViewer = 462;        // %1 the log
constexpr int CsvLookupsFailed = 463;    // %1 how many lookups failed, %2 the first error
constexpr int UnknownReason = 464;       // the reason when the system gives none
constexpr int FileCannotBeOpened = 465;  // the run log's, when the system gives no reason
constexpr int LineCannotBeWritten = 466; // the run log's, when the system gives no reason
constexpr int FileCannotBeCreated = 467; // the results file's, when the system gives no reason
// The sign-in box of a data source that names its user but not the password.
constexpr int SignInPassword = 470; // %1 the data source, %2 its user
constexpr int Cancel = 471;         // "Cancel"
// The CSV import's line for subscribers the file names more than once.
constexpr int CsvDuplicatesLeftOut = 472; // %1 how many were left out
// A run that ends early: the database out of reach, Stop pressed, a results file left short.
constexpr int UnreachableRetrySame = 480;  // %1 in a row, %2 the reason, %3 the alias sent again
constexpr int UnreachableRetryNext = 481;  // %1 in a row, %2 the reason
constexpr int RunStopping = 482;           // shown once Stop is pressed
constexpr int RunStoppedClosing = 483;     // %1 not attempted; before the closing message
constexpr int RunStoppedUnreachable = 484; // %1 not attempted; before the closing message
constexpr int ResultsFileIncomplete = 485; // %1 the results file, %2 the reason
// Why the deletion page's close box does nothing while a run goes on.
constexpr int CloseDuringRun = 490;
// A subscriber query that broke off part-way.
constexpr int SubscriberQueryFailed = 491; // %1 the error number, %2 its description
constexpr int SubscribersAtATime = 492;
constexpr int RunStoppingInFlight = 493; // shown once Stop is pressed with several subscribers in flight

} // namespace StringIds

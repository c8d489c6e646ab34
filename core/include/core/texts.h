// The system's own texts, as GBK bytes. The window converts them for display; the core and
// its tests compare them byte for byte. They are defined in a source of the core, which is
// compiled to GBK: a literal written into a header would take the encoding of whichever source
// includes it.
#pragma once

namespace dielmon::texts {

extern const char* const kCaption;
extern const char* const kPrompt; // caption of every message box
extern const char* const kIdleText;

extern const char* const kStopTestFirst;
extern const char* const kOpenPortFailed;
extern const char* const kPortError;
extern const char* const kInitialHistoryCount; // Lbl_Num before any listing
extern const char* const kPortRestored;        // the port is back after it was lost
extern const char* const kStopNotSent;         // "停止测试" pressed while the port is gone
extern const char* const kPowerShuttingDown;
extern const char* const kClearingHistory;
extern const char* const kHistoryCleared;
extern const char* const kDataSaved;
extern const char* const kDataPrinted;
extern const char* const kSaving;
extern const char* const kPrinting;
extern const char* const kSaveSucceeded;
extern const char* const kConfirmClearHistory;
extern const char* const kReadingData;
extern const char* const kDeletingData;
extern const char* const kBoostingWait;
extern const char* const kNotOurFile;
extern const char* const kOpenFileTitle;
extern const char* const kVoltRange12000;
extern const char* const kVoltRange10000;
extern const char* const kVoltUpRange;
extern const char* const kNotValidInteger;
extern const char* const kListIndexOutOfBounds;
extern const char* const kUnableToWrite;

// The messages of "下载全部记录", an addition of the result archive.
extern const char* const kConnectFirst;    // a download asked for without an instrument
extern const char* const kDownloadBusy;    // an instrument operation during the download
extern const char* const kDownloadNoReply; // the instrument stopped answering
extern const char* const kDownloadError;   // an instrument error without a message of its own

extern const char* const kFileHeading;
extern const char* const kFileSeparator;
extern const char* const kReportHeading;
extern const char* const kReportRule;

extern const char* const kFixedFrequency;
extern const char* const kVariableFrequency;
extern const char* const kInternalStandard;
extern const char* const kExternalStandard;
extern const char* const kInternalHighVoltage;
extern const char* const kExternalHighVoltage;
extern const char* const kAutoDetect;
extern const char* const kWiringCvt;

} // namespace dielmon::texts

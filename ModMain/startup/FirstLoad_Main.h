#pragma once

#include "platform/types.h"

namespace fl {

// How a run ended, as the process's exit status.
inline constexpr int kExitLaunched = 0;       // the launch road ran
inline constexpr int kExitMessage = 1;        // the user was told the list was not fetched
inline constexpr int kExitStartupFailed = 2;  // start-up failed before choosing a road

// The process entry: sets the run-wide variables from the application folder
// and the setup record, then starts the download program, fetching the
// feature list first when it is not stored yet, or tells the user that it
// could not be fetched. Returns the exit status; the caller ends the process.
int FirstLoad_Main();

// Reads the setup record (key "ZELVAN") into ProductName and FeatureName.
void GetFeatureNameFromFile();

// Fetches the feature list and stores it as FeatDlodsFile; true (-1) when the
// list had at least one row and was handed to the writer.
VBool CreateFeatDlod_txt();
VBool GetFeaturesDetailsFromWebsite();
// The customer-details part of the query: always empty.
Text GetCustDet();

}  // namespace fl

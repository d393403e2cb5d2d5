// Hands over to the installed suite at the launcher's own place.
#pragma once

// Starts SuiteExePath() in InstallDir() with "--place <own key>" (no
// parameters at all for the whole-suite row) and returns at once. A suite
// that is missing or fails to start goes unnoticed.
void LaunchSuite();

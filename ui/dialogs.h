// The install question and the failure box.
#pragma once

// Asks InstallPrompt in a Yes/No box; true only for Yes. A box that cannot
// be shown counts as No.
bool AskInstall();
// Closes the progress window first, then shows message + DownloadInsteadSuffix
// in an error box and returns when the user has closed it.
void ReportFailure(const wchar_t* message);
// Brings another launcher's progress window, or else its question or
// failure box, to the front; nothing when there is none.
void BringLauncherAtWorkToFront();

// Writes one Start menu shortcut for each place of the suite.
#pragma once

#include <string>

#include "launcher/layout.h"

// Writes the ten shortcuts into the Start menu's Programs folder under
// "Pivra Suite", through the shell's link object. Rows that fail are skipped
// silently; without a Start menu folder no shortcut is written at all.
void CreateShortcuts();

// <shortcut folder>\<display name>.lnk
std::wstring ShortcutPath(const std::wstring& shortcutFolder, const PlaceEntry& entry);
// <install dir>\icons\<icon>.ico
std::wstring PlaceIconPath(const std::wstring& installDir, const PlaceEntry& entry);

#pragma once

class InfoBlock;
class Settings;

// Whether a stored catalogue was built from these settings: its head (the
// server's texts and the package count) byte for byte as the build would
// write it now, and each record's URL and optional mark in order. What
// the packages hold is not compared: rebuilding with -renew re-reads
// them. A catalogue that cannot be unpacked and read counts as different.
bool catalogueMatchesSettings(const InfoBlock& block, const Settings& settings);

// Start-up prints this after loading a stored catalogue that does not
// match: the stored one is still served, as before.
inline constexpr char kSettingsChangedWarning[] =
    "Warning: The stored catalogue was built from other settings than kitsync.ini holds now;"
    " starting with -renew rebuilds it\n";

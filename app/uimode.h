#pragma once

class QIODevice;

// User-interface mode chosen once at start-up from the first line of info.txt.
enum class UiMode { Elevated, Assemblage, Default, Station };

// The mode the first line of a mode file selects: its second '|' field must
// be "Elevated", "Assemblage" or "Station" exactly; anything else gives Default. Needs
// nothing of the window, so the bytes of any file can be tried on it alone.
UiMode uiModeFromFile(QIODevice &file);

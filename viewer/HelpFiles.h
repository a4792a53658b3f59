// Where the viewer looks for its help, and what it says when it finds none.
#pragma once
#include <windows.h>

#include <string>

inline constexpr char HelpFileName[] = "KESTRIX.HLP";
inline constexpr char UserGuideName[] = "KESTRIX.RTF";
inline constexpr char HelpMissingText[] =
    "The Kestrix user guide could not be opened. It belongs in the program's folder:";
inline constexpr char HomePageFailedText[] = "No web browser could be started for the Kestrix home page:";

enum class HelpOutcome {
    HelpFile,    // the compiled help file was opened
    UserGuide,   // the user guide was shown in the viewer's help window
    Message,     // neither could be opened; a message box said where the guide belongs
};

std::string HelpFilePath();
std::string UserGuidePath();

// Opens help at its contents for the owner window; returns once the guide or message is closed
// (at once for a help file).
HelpOutcome OpenHelpContents(HWND owner);

#pragma once

// The lyrics-video settings of the program (the VideoMake section of the settings file).
// Main thread only.

// Puts every video-making setting to its default.
void SetVideoMakeDefaults();
// Reads the VideoMake section of the settings file into the current settings.
void ReadVideoMakeSection();

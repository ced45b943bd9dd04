#pragma once

#include <QString>

// Turning an MP4 or MOV file written in fragments (each fragment with its own small
// index, so that a file cut short still plays) into an ordinary file with one complete
// index, as older players and editors expect.
//
//     QString error;
//     if (IsFragmentedMovFile(file) && !FinaliseFragmentedFile(file, &error))
//         ...;   // the fragmented file is still there and plays
//
// Needs libavformat loaded. Any thread (one file at a time).

// Whether `fileName` is an MP4 or MOV file holding a movie fragment box ("moof") at
// its top level. Reads only the box headers.
bool IsFragmentedMovFile(const QString& fileName);

// Copies every stream of the fragmented file `fileName` unchanged into a temporary file
// of the same folder, written as an ordinary MP4 or MOV (chosen by the extension), and
// renames it over the original once it is complete and on the disk. On failure the
// original is left as it was and `error` (when given) says why. A file that is not
// fragmented is left alone (true).
bool FinaliseFragmentedFile(const QString& fileName, QString* error = nullptr);

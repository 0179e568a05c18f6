// The Apply run: the file named by the Session's openPath is read again (or,
// for a map made in the program, its kept copy taken again) and adjusted by
// the Session's options.
#pragma once

// 1 when the file was read again (whether or not it could be adjusted), 0
// when reading (or copying the made map) failed; the Session then keeps
// what it showed.
int applyAdjustments();

// Adjusts the Session's freshly read image in place and rebuilds its display
// bitmap (the thumbnail is left to the caller).
void adjustLoadedImage();

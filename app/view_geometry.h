// Where the front ends draw the thumbnail: geometry shared by the Windows
// dialog and the Linux window, so that both place it alike.
#pragma once

struct ViewRect {
    int left, top, right, bottom;
};

// Where a bw x bh thumbnail is drawn in a W x H box: scaled to fit with its
// proportions kept, centred. Empty when either size is not positive.
ViewRect placeThumbnail(int boxWidth, int boxHeight, int bitmapWidth, int bitmapHeight);

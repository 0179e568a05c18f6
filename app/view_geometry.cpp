#include "app/view_geometry.h"

ViewRect placeThumbnail(int W, int H, int bw, int bh) {
    if (W <= 0 || H <= 0 || bw <= 0 || bh <= 0) return {0, 0, 0, 0};
    // Across in double precision; down from the height as a float, rounded
    // to a float; the smaller wins.
    const double across = static_cast<double>(W) / bw;
    const float down = static_cast<float>(H) / static_cast<float>(bh);
    const double scale = across < down ? across : static_cast<double>(down);
    const int dw = static_cast<int>(bw * scale);
    const int dh = static_cast<int>(bh * scale);
    // Halving by a shift rounds toward minus infinity.
    const int x = (W - dw) >> 1;
    const int y = (H - dh) >> 1;
    return {x, y, x + dw, y + dh};
}

// Writes the benchmark picture as a 24-bit BMP: make_bench_picture OUT.bmp [SIDE]
#include <cstdio>
#include <cstdlib>

#include "bench/bench_picture.h"
#include "writers/bmp_writer.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_bench_picture OUT.bmp [SIDE]\n");
        return 2;
    }
    const int32_t side = argc > 2 ? std::atoi(argv[2]) : 4096;
    Image image{};
    const bool ok = makeBenchPicture(&image, side, side) && buildDisplayBitmap(&image) &&
                    writeBmp(argv[1], image.bitmap);
    resetImage(&image);
    return ok ? 0 : 1;
}

// Writes the benchmark picture: make_bench_picture OUT [SIDE] [16]
// OUT's extension picks the format (BMP, PNG, Targa); with 16, the picture
// is made at 16 bits a sample (for PNG output).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_picture.h"
#include "writers/writers.h"

int main(int argc, char** argv) {
    OutputFormat format;
    if (argc < 2 || !outputFormatOf(argv[1], format)) {
        std::fprintf(stderr, "usage: make_bench_picture OUT.bmp|OUT.png|OUT.tga [SIDE] [16]\n");
        return 2;
    }
    const int32_t side = argc > 2 ? std::atoi(argv[2]) : 4096;
    const int sampleBits = argc > 3 && std::strcmp(argv[3], "16") == 0 ? 16 : 8;
    Image image{};
    const bool ok = makeBenchPicture(&image, side, side, sampleBits) && buildDisplayBitmap(&image) &&
                    writeImage(argv[1], image, format, SaveOptions{});
    resetImage(&image);
    return ok ? 0 : 1;
}

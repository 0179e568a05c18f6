// The error of an encoded block as the block encoders measure it: the
// squared difference between the samples, fractions kept, and the block as
// decoded with the encoders' widening. The encoders themselves are in
// bc4_encoder.cpp and colour_encoder.cpp.
#include "encode/block_encoders.h"

#include "encode/block_decode.h"

float bc4BlockError(const float (&values)[16], const uint8_t* block) {
    uint8_t decoded[16];
    decodeBc4Channel(block, false, decoded, 4, 1);
    float sum = 0.0f;
    for (int i = 0; i < 16; ++i) sum += (values[i] - decoded[i]) * (values[i] - decoded[i]);
    return sum;
}

float colourBlockError(const ColourBlock& colours, const uint8_t* block) {
    uint8_t decoded[16][4];
    decodeBc1(block, decoded[0], 16, false, measuredWidening);
    float sum = 0.0f;
    for (int i = 0; i < 16; ++i) {
        const float dr = colours.red[i] - decoded[i][0], dg = colours.green[i] - decoded[i][1],
                    db = colours.blue[i] - decoded[i][2];
        sum += dr * dr + dg * dg + db * db;
    }
    return sum;
}

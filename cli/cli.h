// quorvel-cli's parts: the parsed command line, the one-file run, the folder
// run and the detection run, and the messages they share.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "detect/green_convention.h"
#include "writers/writers.h"

enum ExitCode { exitOk = 0, exitLoadFailed = 1, exitUsage = 2, exitWriteFailed = 3 };

struct Arguments {
    AdjustOptions options = defaultAdjustOptions;
    const char* thumbnail = nullptr;
    GreenConvention to = GreenConvention::unknown;  // unknown: no conversion asked for
    bool detect = false;
    const char* outDir = nullptr;
    bool formatGiven = false;
    OutputFormat format = OutputFormat::png;
    bool recursive = false;
    unsigned jobs = 0;  // 0: one per processor
    bool quiet = false;
    std::vector<const char*> inputs;
};

// One line on standard error, "quorvel-cli: " and the text. Safe from
// several threads; the progress line, when shown, is cleared first and drawn
// again afterwards.
void reportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Why `path` could not be loaded, as well as the program can tell: the
// system's reason when it cannot be opened, the extension when no reader
// takes it, otherwise the format it could not be read as.
std::string loadFailureReason(const char* path);

// The system's reason for the last failed write (errno), or a plain one.
std::string writeFailureReason();

const char* conventionName(GreenConvention convention);

// A detection as --detect prints it: "opengl 0.93", or "unknown 0.04 (parts
// disagree)" with the reason of an unknown answer.
std::string guessText(const ConventionGuess& guess);

// The warning for a map that --to leaves unconverted because its convention
// is unclear, with the reason.
void warnUnclear(const char* input, const ConventionGuess& guess);

// The green inversion that makes a map of convention `found` one of
// convention `wanted`: true when they are known and differ.
bool needsGreenFlip(GreenConvention found, GreenConvention wanted);

int runOneFile(const Arguments& args);
int runFolder(const Arguments& args);
int runDetect(const Arguments& args);

// What quorvel-cli tells the user: the lines on standard error, the reasons
// they give, and the texts of a detection and of a JSON line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "detect/green_convention.h"
#include "readers/readers.h"

// One line on standard error, "quorvel-cli: " and the text. Safe from
// several threads; the progress line, when shown, is cleared first and drawn
// again afterwards.
void reportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, the lines reportLine gives on its thread are kept in
// `lines` (without the "quorvel-cli: " before them) instead of printed: the
// Python module raises and warns with them. They do not nest.
struct ReportCapture {
    std::vector<std::string> lines;
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;
};

// The line for an INPUT that could not be loaded, with the reader's reason:
// the system's when it cannot be opened, the extension when no reader takes
// it, otherwise the format it could not be read as.
void reportLoadFailure(const char* input, const LoadFailure& failure);

// The system's reason for the last failed write (errno), or a plain one.
std::string writeFailureReason();
// The line for an OUTPUT that could not be written, with that reason.
void reportWriteFailure(const char* output);

const char* conventionName(GreenConvention convention);

// A detection as --detect prints it: "opengl 0.93", or "unknown 0.04 (parts
// disagree)" with the reason of an unknown answer.
std::string guessText(const ConventionGuess& guess);

// The warning for a map that --to leaves unconverted because its convention
// is unclear, with the reason.
void warnUnclear(const char* input, const ConventionGuess& guess);

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are.
std::string jsonString(std::string_view text);
// `value` written with `decimals` decimals, as the lines of --detect and
// --check show numbers; 0 for a value that is not finite.
std::string fixedDecimals(double value, int decimals);

// One --detect line as a JSON object, with its newline.
std::string detectJsonLine(const std::string& path, const ConventionGuess& guess);

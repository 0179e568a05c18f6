#include "cli/messages.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/progress.h"
#include "readers/readers.h"

namespace {
thread_local ReportCapture* capture = nullptr;
}  // namespace

ReportCapture::ReportCapture() { capture = this; }
ReportCapture::~ReportCapture() { capture = nullptr; }

void reportLine(const char* format, ...) {
    char text[1024];
    va_list list;
    va_start(list, format);
    std::vsnprintf(text, sizeof text, format, list);
    va_end(list);
    if (capture) {
        capture->lines.emplace_back(text);
        return;
    }
    printAboveProgress("quorvel-cli: " + std::string(text) + "\n");
}

void reportLoadFailure(const char* input, const LoadFailure& failure) {
    reportLine("%s: Failed to load open file: %s", input, describeLoadFailure(failure, "quorvel-cli").c_str());
}

std::string writeFailureReason() {
    return errno ? std::strerror(errno) : "the picture could not be encoded";
}

void reportWriteFailure(const char* output) {
    reportLine("%s: There was an error writing the file: %s", output, writeFailureReason().c_str());
}

const char* conventionName(GreenConvention convention) {
    switch (convention) {
        case GreenConvention::openGl: return "opengl";
        case GreenConvention::directX: return "directx";
        case GreenConvention::unknown: break;
    }
    return "unknown";
}

std::string guessText(const ConventionGuess& guess) {
    char confidence[16];
    std::snprintf(confidence, sizeof confidence, " %.2f", static_cast<double>(guess.confidence));
    std::string text = conventionName(guess.convention) + std::string(confidence);
    const std::string reason = unknownReasonText(guess);
    return reason.empty() ? text : text + " (" + reason + ")";
}

void warnUnclear(const char* input, const ConventionGuess& guess) {
    const std::string reason = unknownReasonText(guess);
    reportLine("warning: %s: green convention unclear%s%s (%.2f); written unconverted", input,
               reason.empty() ? "" : ": ", reason.c_str(), static_cast<double>(guess.confidence));
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string fixedDecimals(double value, int decimals) {
    if (!std::isfinite(value)) value = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string detectJsonLine(const std::string& path, const ConventionGuess& guess) {
    return "{\"path\":" + jsonString(path) + ",\"convention\":\"" + conventionName(guess.convention) +
           "\",\"confidence\":" + fixedDecimals(guess.confidence, 3) + "}\n";
}

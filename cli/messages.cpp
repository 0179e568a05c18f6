#include "cli/messages.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/progress.h"
#include "readers/readers.h"

void reportLine(const char* format, ...) {
    char text[1024];
    va_list list;
    va_start(list, format);
    std::vsnprintf(text, sizeof text, format, list);
    va_end(list);
    printAboveProgress("quorvel-cli: " + std::string(text) + "\n");
}

std::string loadFailureReason(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return std::strerror(errno);
    std::fclose(file);
    if (!platformFileExists(path)) return "not a regular file";
    if (const char* format = formatNameOf(path)) {
        char kind[96];
        if (unreadableKindOf(path, kind, sizeof kind))
            return std::string("a ") + format + " file of " + kind + ", which quorvel-cli does not read";
        return std::string("not a ") + format + " file that quorvel-cli can read (damaged, or a kind it does not read)";
    }
    const char* name = std::strrchr(path, pathSeparator);
    if (pathSeparator != '/')
        if (const char* slash = std::strrchr(path, '/'); slash && (!name || slash > name)) name = slash;
    const char* dot = std::strrchr(name ? name : path, '.');
    const std::string kind = dot ? std::string(".") + (dot + 1) + " files" : std::string("files without an extension");
    return "quorvel-cli does not read " + kind + " (it reads BMP, TGA, PCX, PSD, DDS, PPM, PGM, PBM, PNG, JPEG and TIFF)";
}

std::string writeFailureReason() {
    return errno ? std::strerror(errno) : "the picture could not be encoded";
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

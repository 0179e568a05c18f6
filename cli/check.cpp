// quorvel-cli --check and --fix: what is wrong with each map, one line (or
// one JSON object) a file in input order, and the repaired maps written.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "check/diagnose.h"
#include "check/measure.h"
#include "check/repair.h"
#include "cli/cli.h"
#include "cli/progress.h"
#include "readers/readers.h"

using namespace batch;
namespace fs = std::filesystem;

namespace {

int usageError(int& status, const std::string& text) {
    std::fprintf(stderr, "quorvel-cli: %s\nTry 'quorvel-cli --help' for more information.\n", text.c_str());
    status = exitUsage;
    return exitUsage;
}

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are.
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

std::string number(double value, int decimals) {
    if (!std::isfinite(value)) value = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

const Reading& asStored(const CheckResult& result) {
    return result.measurements.reading[static_cast<int>(Transfer::linear)];
}

// "PATH: ok (opengl 0.97; 99.6% unit length)" or the findings in place of ok.
std::string checkLine(const std::string& path, const CheckResult& result) {
    const std::string findings = result.findings ? findingWords(result.findings) : "ok";
    return path + ": " + findings + " (" + conventionName(result.convention.convention) + " " +
           number(result.convention.confidence, 2) + "; " + number(100.0 * asStored(result).unitShare, 1) +
           "% unit length)\n";
}

std::string checkJsonLine(const std::string& path, const CheckResult& result, const std::string* written) {
    std::string findings;
    for (int k = 0; k < findingCount; ++k) {
        const auto finding = static_cast<Finding>(1u << k);
        if (!(result.findings & finding)) continue;
        findings += (findings.empty() ? "" : ",") + jsonString(findingName(finding));
    }
    const Measurements& m = result.measurements;
    std::string line = "{\"path\":" + jsonString(path) + ",\"findings\":[" + findings + "],\"convention\":\"" +
                       conventionName(result.convention.convention) + "\",\"confidence\":" +
                       number(result.convention.confidence, 3) +
                       ",\"unit_length_share\":" + number(asStored(result).unitShare, 4) +
                       ",\"mean_length\":" + number(asStored(result).meanLength, 4) +
                       ",\"negative_z_share\":" + number(asStored(result).negativeZShare, 4) +
                       ",\"bit_depth\":" + std::to_string(m.sampleBits) +
                       ",\"alpha\":" + (m.alpha ? "true" : "false");
    if (written) line += ",\"written\":" + (written->empty() ? std::string("null") : jsonString(*written));
    return line + "}\n";
}

// What --fix did with one file.
enum class Outcome { written, skipped, loadFailed, writeFailed };

struct FileResult {
    Outcome outcome = Outcome::loadFailed;
    CheckResult check;
    bool converted = false;
};

// Repairs one map, applies the other options and writes it.
Outcome fixFile(const Arguments& args, const InputFile& file, const Image& image, FileResult& result) {
    const std::string input = display(file.path), output = display(file.output);
    const CheckResult& check = result.check;
    if (check.findings & unfixableFindings) {
        reportLine("%s: not written: %s", input.c_str(), findingWords(check.findings & unfixableFindings).c_str());
        return Outcome::skipped;
    }
    RepairOptions options;
    options.keepAlpha = args.save.keepAlpha != 0;
    options.flipGreen = (check.findings & findingWrongConvention) != 0;
    result.converted = options.flipGreen;
    if (check.findings & findingConventionUnknown)
        reportLine("warning: %s: green convention unclear (%.2f); written unconverted", input.c_str(),
                   static_cast<double>(check.convention.confidence));
    Image fixed{};
    if (!repairMap(image, check.diagnosis, options, &fixed)) {
        reportLine("%s: There was an error writing the file: there is not enough memory", output.c_str());
        return Outcome::writeFailed;
    }
    adjustPixels(&fixed, args.options);
    OutputFormat format = OutputFormat::png;
    if (args.outDir) format = formatFor(args, file.path);
    else outputFormatOf(output.c_str(), format);
    bool ok = buildDisplayBitmap(&fixed);
    if (!ok) reportLine("%s: There was an error writing the file: there is not enough memory", output.c_str());
    ok = ok && saveResult(args, input.c_str(), output.c_str(), fixed, format);
    resetImage(&fixed);
    return ok ? Outcome::written : Outcome::writeFailed;
}

// The summary of a --fix run: "24 files: 20 written (6 z rebuilt, 3 srgb
// undone, 11 unchanged), 4 skipped".
std::string fixSummary(const std::vector<FileResult>& results) {
    unsigned written = 0, skipped = 0, failed = 0;
    unsigned rebuilt = 0, uninverted = 0, srgb = 0, unpacked = 0, lengthened = 0, converted = 0, unchanged = 0;
    for (const FileResult& r : results) {
        skipped += r.outcome == Outcome::skipped;
        failed += r.outcome == Outcome::loadFailed || r.outcome == Outcome::writeFailed;
        if (r.outcome != Outcome::written) continue;
        ++written;
        const Diagnosis& d = r.check.diagnosis;
        rebuilt += d.zMissing && !d.packed;
        uninverted += d.zInverted;
        srgb += d.transfer != Transfer::linear;
        unpacked += d.packed;
        lengthened += (d.findings & findingNotNormalized) != 0;
        converted += r.converted;
        unchanged += r.check.findings == 0;
    }
    std::string text = std::to_string(results.size()) + (results.size() == 1 ? " file: " : " files: ") +
                       std::to_string(written) + " written";
    std::string parts;
    const std::pair<unsigned, const char*> counts[] = {
        {rebuilt, "z rebuilt"},          {uninverted, "z un-inverted"}, {srgb, "srgb undone"},
        {unpacked, "dxt5nm unpacked"},   {lengthened, "lengthened"},    {converted, "converted"},
        {unchanged, "unchanged"}};
    for (const auto& [count, what] : counts)
        if (count) parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    if (!parts.empty()) text += " (" + parts + ")";
    text += ", " + std::to_string(skipped) + " skipped";
    if (failed) text += ", " + std::to_string(failed) + " failed";
    return text + "\n";
}

}  // namespace

bool parseCheckOption(int argc, char** argv, int& i, CheckArguments& check, int& status, bool& bad) {
    const std::string_view arg(argv[i]);
    if (arg == "--check") return check.check = true;
    if (arg == "--fix") return check.fix = true;
    if (arg == "--json") return check.json = true;
    const auto refuse = [&](const std::string& text) {
        usageError(status, text);
        bad = true;
        return true;
    };
    // The value of --expect, attached with '=' or in the next argument.
    const std::string_view name = "--expect";
    std::string_view value;
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
        value = arg.substr(name.size() + 1);
    else if (arg != name)
        return false;
    else if (i + 1 < argc)
        value = argv[++i];
    else
        return refuse("option '--expect' needs a value");
    if (value == "opengl") check.expect = GreenConvention::openGl;
    else if (value == "directx") check.expect = GreenConvention::directX;
    else return refuse("--expect takes opengl or directx, not '" + std::string(value) + "'");
    return true;
}

bool checkUsageAllowed(const Arguments& args, int& status) {
    const CheckArguments& c = args.check;
    const bool checking = c.check || c.fix;
    const char* problem = nullptr;
    if (c.check && c.fix) problem = "--check only reads; --fix checks and writes: give one of them";
    else if (c.json && !checking && !args.detect) problem = "--json goes with --check, --fix or --detect";
    else if (c.expect != GreenConvention::unknown && !checking)
        problem = "--expect goes with --check or --fix (--to converts without checking)";
    else if (!checking) return true;
    else if (args.detect) problem = "--detect and --check/--fix are separate runs";
    else if (args.to != GreenConvention::unknown) problem = "--fix converts with --expect, not --to";
    else if (args.thumbnail) problem = "--thumbnail does not go with --check or --fix";
    else if (c.check && (args.outDir || args.formatGiven)) problem = "--check only reads: it takes no --out-dir or --format";
    else if (c.check && (args.options.invertRed || args.options.invertGreen || args.options.invertBlue ||
                         args.options.renormalize))
        problem = "--check only reads: the adjustments go with --fix";
    else if (args.inputs.empty()) problem = "no INPUT given";
    if (!problem) return true;
    usageError(status, problem);
    return false;
}

std::string detectJsonLine(const std::string& path, const ConventionGuess& guess) {
    return "{\"path\":" + jsonString(path) + ",\"convention\":\"" + conventionName(guess.convention) +
           "\",\"confidence\":" + number(guess.confidence, 3) + "}\n";
}

int runCheck(const Arguments& args) {
    const bool fixing = args.check.fix;
    std::vector<std::string> problems;
    std::vector<InputFile> files;
    if (fixing && !args.outDir) {
        // One INPUT and its OUTPUT, as the parsing has checked them.
        files.push_back({args.inputs[0], {}, 0, args.inputs[1]});
    } else {
        files = collectInputs(args, problems);
        if (files.empty() && problems.empty()) problems.push_back("no input found");
        if (fixing) planOutputs(args, files, problems);
    }
    if (usageProblems(problems)) return exitUsage;
    if (fixing && args.outDir && !makeOutputFolders(files)) return exitWriteFailed;

    // Lines come out in the order of the inputs, each as soon as it and all
    // before it are known.
    std::vector<FileResult> results(files.size());
    std::vector<char> done(files.size(), 0);
    std::mutex lock;
    size_t printed = 0;
    uint64_t totalBytes = 0;
    for (InputFile& file : files) {
        std::error_code error;
        const auto size = fs::file_size(file.path, error);
        file.size = error ? 0 : size;
        totalBytes += file.size;
    }
    startProgress(showProgress(args), static_cast<unsigned>(files.size()), totalBytes);
    runPool(files.size(), workerCount(args, files.size()), [&](size_t index) {
        const std::string input = display(files[index].path);
        FileResult result;
        Image image{};
        if (readImageFile(input.c_str(), &image)) {
            result.check = checkMap(image, args.check.expect);
            result.outcome = fixing ? fixFile(args, files[index], image, result) : Outcome::written;
        } else {
            reportLine("%s: Failed to load open file: %s", input.c_str(), loadFailureReason(input.c_str()).c_str());
        }
        resetImage(&image);
        advanceProgress(files[index].size);
        std::lock_guard guard(lock);
        results[index] = result;
        done[index] = 1;
        for (; printed < files.size() && done[printed]; ++printed) {
            const FileResult& r = results[printed];
            if (r.outcome == Outcome::loadFailed) continue;
            const std::string path = display(files[printed].path);
            if (args.check.json) {
                const std::string written = r.outcome == Outcome::written ? display(files[printed].output) : "";
                printAboveProgress(checkJsonLine(path, r.check, fixing ? &written : nullptr), stdout);
            } else if (!fixing) {
                printAboveProgress(checkLine(path, r.check), stdout);
            }
        }
    });
    stopProgress();
    if (fixing && !args.check.json) std::fputs(fixSummary(results).c_str(), stdout);

    const auto any = [&](Outcome outcome) {
        return std::any_of(results.begin(), results.end(), [&](const FileResult& r) { return r.outcome == outcome; });
    };
    if (any(Outcome::writeFailed)) return exitWriteFailed;
    if (any(Outcome::loadFailed)) return exitLoadFailed;
    if (fixing) return any(Outcome::skipped) ? exitFindings : exitOk;
    const bool findings =
        std::any_of(results.begin(), results.end(), [](const FileResult& r) { return r.check.findings != 0; });
    return findings ? exitFindings : exitOk;
}

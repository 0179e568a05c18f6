// quorvel-cli --check and --fix: what is wrong with each map, one line (or
// one JSON object) a file in input order, and the repaired maps written.
#include <algorithm>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "check/diagnose.h"
#include "check/measure.h"
#include "check/repair.h"
#include "cli/cli.h"
#include "cli/progress.h"
#include "cli/stream.h"
#include "platform/platform.h"
#include "readers/readers.h"

using namespace batch;
namespace fs = std::filesystem;

namespace {

const Reading& asStored(const CheckResult& result) {
    return result.measurements.reading[static_cast<int>(Transfer::linear)];
}

// "PATH: ok (opengl 0.97; 99.6% unit length)" or the findings in place of ok.
std::string checkLine(const std::string& path, const CheckResult& result) {
    const std::string findings = result.findings ? findingWords(result.findings) : "ok";
    return path + ": " + findings + " (" + conventionName(result.convention.convention) + " " +
           fixedDecimals(result.convention.confidence, 2) + "; " + fixedDecimals(100.0 * asStored(result).unitShare, 1) +
           "% unit length)\n";
}

}  // namespace

std::string checkJsonLine(const std::string& path, const CheckResult& result, const std::string* written,
                          const StoredFormat* stored) {
    std::string findings;
    for (int k = 0; k < findingCount; ++k) {
        const auto finding = static_cast<Finding>(1u << k);
        if (!(result.findings & finding)) continue;
        findings += (findings.empty() ? "" : ",") + jsonString(findingName(finding));
    }
    const Measurements& m = result.measurements;
    std::string line = "{\"path\":" + jsonString(path) + ",\"findings\":[" + findings + "],\"convention\":\"" +
                       conventionName(result.convention.convention) + "\",\"confidence\":" +
                       fixedDecimals(result.convention.confidence, 3) +
                       ",\"unit_length_share\":" + fixedDecimals(asStored(result).unitShare, 4) +
                       ",\"mean_length\":" + fixedDecimals(asStored(result).meanLength, 4) +
                       ",\"negative_z_share\":" + fixedDecimals(asStored(result).negativeZShare, 4) +
                       ",\"bit_depth\":" + std::to_string(m.sampleBits) +
                       ",\"alpha\":" + (m.alpha ? "true" : "false");
    if (stored) {
        line += std::string(",\"container\":") + (stored->container ? jsonString(stored->container) : "null");
        line += ",\"payload\":" + (stored->payload[0] ? jsonString(stored->payload) : std::string("null"));
    }
    if (written) line += ",\"written\":" + (written->empty() ? std::string("null") : jsonString(*written));
    return line + "}\n";
}

Outcome repairImage(const Arguments& args, const char* input, const char* output, const Image& image,
                    FileResult& result, Image* fixed) {
    const CheckResult& check = result.check;
    if (check.findings & unfixableFindings) {
        reportLine("%s: not written: %s", input, findingWords(check.findings & unfixableFindings).c_str());
        return Outcome::skipped;
    }
    RepairOptions options;
    options.keepAlpha = args.save.keepAlpha != 0;
    options.flipGreen = (check.findings & findingWrongConvention) != 0;
    if (options.flipGreen) result.conversion = Conversion::converted;
    if (check.findings & findingConventionUnknown)
        reportLine("warning: %s: green convention unclear (%.2f); written unconverted", input,
                   static_cast<double>(check.convention.confidence));
    if (!repairMap(image, check.diagnosis, options, fixed)) {
        reportLine("%s: There was an error writing the file: there is not enough memory", output);
        return Outcome::writeFailed;
    }
    adjustPixels(fixed, args.options);
    return Outcome::done;
}

namespace {

// Repairs one map, applies the other options and writes it: done, skipped
// (a map it cannot repair) or writeFailed.
Outcome fixFile(const Arguments& args, const InputFile& file, const Image& image, FileResult& result) {
    const std::string input = display(file.path), output = display(file.output);
    Image fixed{};
    if (const Outcome repaired = repairImage(args, input.c_str(), output.c_str(), image, result, &fixed);
        repaired != Outcome::done) {
        resetImage(&fixed);
        return repaired;
    }
    OutputFormat format = OutputFormat::png;
    if (args.outDir) format = formatFor(args, file.path);
    else outputFormatOf(output.c_str(), format);
    bool ok = !writeReadsBitmap(fixed, format, args.save) || buildDisplayBitmap(&fixed);
    if (!ok) reportLine("%s: There was an error writing the file: there is not enough memory", output.c_str());
    ok = ok && saveResult(args, input.c_str(), output.c_str(), fixed, format);
    resetImage(&fixed);
    return ok ? Outcome::done : Outcome::writeFailed;
}

// A BMP or Targa file whose rows the streaming road reads is checked where
// the system's file cache holds it, mapped and never copied: the check
// measures a sample of its pixels and reads them all once for the
// convention, which costs less than loading a whole picture would. `view`
// borrows the mapped rows (it must not be reset); false for every other
// file, which is loaded.
bool viewMappedRows(const char* path, MappedFile& mapped, Image& view) {
    OutputFormat format = OutputFormat::png;
    RowFileLayout layout;
    if (!outputFormatOf(path, format) || !rowFileLayout(path, format, layout) || layout.width == 0 ||
        layout.height == 0 || !platformMapFile(path, mapped))
        return false;
    const uint64_t rowBytes = uint64_t{3} * layout.width;
    const uint64_t needed = layout.stride * (layout.height - 1) + rowBytes;  // the last row may lack its padding
    if (layout.dataOffset > mapped.size || needed > mapped.size - layout.dataOffset ||
        needed > 0xFFFFFFFFu) {  // the file changed since its header was read
        platformUnmapFile(mapped);
        return false;
    }
    view = Image{};
    view.pixels = const_cast<uint8_t*>(mapped.bytes + layout.dataOffset);  // only read
    view.width = static_cast<int32_t>(layout.width);
    view.height = static_cast<int32_t>(layout.height);
    view.bitsPerPixel = 24;
    view.rowBytes = static_cast<int32_t>(rowBytes);
    view.rowPad = static_cast<int32_t>(layout.stride - rowBytes);
    view.dataSize = static_cast<uint32_t>(std::min<uint64_t>(mapped.size - layout.dataOffset, layout.stride * layout.height));
    view.bgrOrder = 1;
    view.bottomUp = layout.topDown ? 0 : 1;
    view.adjustLocked = 1;
    view.sampleBits = 8;
    return true;
}

// One file of --check or --fix: read, checked and, for --fix, repaired and
// written.
FileResult checkFile(const Arguments& args, const InputFile& file) {
    const std::string input = display(file.path);
    FileResult result;
    if (!args.check.fix) {
        MappedFile mapped;
        Image view{};
        if (viewMappedRows(input.c_str(), mapped, view)) {
            result.check = checkMap(view, args.check.expect);
            result.outcome = Outcome::done;
            platformUnmapFile(mapped);
            return result;
        }
    }
    Image image{};
    LoadFailure failure;
    if (readImageFile(input.c_str(), &image, &failure, DisplayBitmap::notMade)) {
        result.check = checkMap(image, args.check.expect);
        result.outcome = args.check.fix ? fixFile(args, file, image, result) : Outcome::done;
    } else {
        reportLoadFailure(input.c_str(), failure);
        result.outcome = Outcome::loadFailed;
    }
    resetImage(&image);
    return result;
}

// The summary of a --fix run: "24 files: 20 written (6 z rebuilt, 3 srgb
// undone, 11 unchanged), 4 skipped".
std::string fixSummary(const std::vector<FileResult>& results) {
    unsigned written = 0, skipped = 0, failed = 0;
    unsigned rebuilt = 0, uninverted = 0, srgb = 0, unpacked = 0, lengthened = 0, converted = 0, unchanged = 0;
    for (const FileResult& r : results) {
        skipped += r.outcome == Outcome::skipped;
        failed += r.outcome == Outcome::loadFailed || r.outcome == Outcome::writeFailed;
        if (r.outcome != Outcome::done) continue;
        ++written;
        const Diagnosis& d = r.check.diagnosis;
        rebuilt += d.zMissing && !d.packed;
        uninverted += d.zInverted;
        srgb += d.transfer != Transfer::linear;
        unpacked += d.packed;
        lengthened += (d.findings & findingNotNormalized) != 0;
        converted += r.conversion == Conversion::converted;
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

    if (fixing && !args.outDir) {
        std::error_code error;
        const auto size = fs::file_size(files[0].path, error);
        files[0].size = error ? 0 : size;
    }

    std::vector<FileResult> results(files.size());
    const auto print = [&](size_t index) {
        const FileResult& r = results[index];
        if (r.outcome == Outcome::loadFailed) return;
        const std::string path = display(files[index].path);
        if (args.check.json) {
            const std::string written = r.outcome == Outcome::done ? display(files[index].output) : "";
            StoredFormat stored;
            storedFormatOf(path.c_str(), stored);
            printAboveProgress(checkJsonLine(path, r.check, fixing ? &written : nullptr, &stored), stdout);
        } else if (!fixing) {
            printAboveProgress(checkLine(path, r.check), stdout);
        }
    };
    runFiles(args, files, results, [&](size_t index, unsigned) { return checkFile(args, files[index]); }, print);
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

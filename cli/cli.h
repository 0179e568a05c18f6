// quorvel-cli's runs: one INPUT and OUTPUT, folders (--out-dir), --detect,
// --check and --fix. Each file is worked on by one per-file function of its
// run and ends in one FileResult; the runs over many files share one worker
// loop that prints their lines in input order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "check/repair.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "generate/height_field.h"
#include "readers/readers.h"

// What became of one file.
enum class Outcome {
    pending,      // not worked on yet
    done,         // read (checked, detected) and, where the run writes, written
    upToDate,     // --update: its output is not older than it, so it was not read
    skipped,      // --fix: not a map it can repair
    loadFailed,
    writeFailed,
};

// What a conversion of the green convention did (--to, or --fix with
// --expect).
enum class Conversion { none, converted, unchanged, undecided };

struct FileResult {
    Outcome outcome = Outcome::pending;
    Conversion conversion = Conversion::none;  // --to-height: undecided when the convention is unclear
    ConventionGuess guess;  // --detect, and --to-height's detection
    CheckResult check;      // --check and --fix
    GreenConvention heightConvention = GreenConvention::unknown;  // --to-height: the convention read
    double heightSpan = 0.0;                                      // --to-height: the range in texel widths
};

// The adjusting road of one file, for one INPUT and OUTPUT and for every
// file of a folder run: read (or, with --from-height, make the normal map of
// the height map read), convert (--to), lay `detail` over it (--blend; null
// without), adjust, write `output` in `format` (and the thumbnail, when
// asked for). A file the streaming road takes goes that way, on at most
// `streamThreads` threads (0: one per processor, at most 8). Every failure
// is reported as it happens.
// --blend's DETAIL, read once for the run, and its green convention as
// detected (unknown when unclear).
struct BlendDetail {
    Image image{};
    GreenConvention convention = GreenConvention::unknown;
    BlendDetail() = default;
    BlendDetail(const BlendDetail&) = delete;
    BlendDetail& operator=(const BlendDetail&) = delete;
    ~BlendDetail() { resetImage(&image); }
};

FileResult adjustFile(const Arguments& args, const char* input, const char* output, OutputFormat format,
                      const BlendDetail* detail, unsigned streamThreads);

// The middle of that road, on a picture already read (or made): converted
// to --to's convention (`result.conversion` says what became of it), the
// detail laid over it, adjusted. False, reported, when the blend fails.
// The Python module runs its arrays through it.
bool adjustImage(const Arguments& args, const char* input, Image* image, const BlendDetail* detail,
                 FileResult& result);

// --from-height's normal map of heights already read, as the options ask
// and at the depth `format` holds; a failure is reported.
bool normalMapOfHeights(const Arguments& args, const char* input, const HeightField& field, OutputFormat format,
                        Image* image);

// Reads --blend's DETAIL into `detail` before a run starts work; true when
// there is none to read. On failure the reader's reason is reported.
bool readBlendDetail(const Arguments& args, BlendDetail* detail);

// The green inversion that makes a map of convention `found` one of
// convention `wanted`: true when they are known and differ.
bool needsGreenFlip(GreenConvention found, GreenConvention wanted);

// Writes an adjusted Image (its display bitmap built) to `output` in
// `format` as the options ask, with the notes the write calls for (16 bits
// or alpha the format cannot hold) and the message when it fails.
bool saveResult(const Arguments& args, const char* input, const char* output, const Image& image,
                OutputFormat format);

// --check's JSON object for one map (with "container" and "payload" when
// `stored` is given, and "written" when `written` is: the output's path, or
// null for none), with its newline.
std::string checkJsonLine(const std::string& path, const CheckResult& result, const std::string* written,
                          const StoredFormat* stored = nullptr);

// --fix on a map already read and checked (`result.check`): repaired, its
// convention converted where --expect asks, and the other adjustments
// applied, into `fixed`. done; skipped for a map it cannot repair;
// writeFailed when there is no memory. Both are reported.
Outcome repairImage(const Arguments& args, const char* input, const char* output, const Image& image,
                    FileResult& result, Image* fixed);

int runOneFile(const Arguments& args);
int runFolder(const Arguments& args);
int runDetect(const Arguments& args);
// --check: one line (or JSON object) a map, exit 0, 5 (findings) or 1.
// --fix: the repaired maps written, a summary, exit 0, 5 (some skipped), 1 or 3.
int runCheck(const Arguments& args);
// --to-height: the height map of one normal map, and its range printed.
int runToHeight(const Arguments& args);

// --to-height on one file: the height of the normal map `input` written to
// `output` in `format` (PNG or TIFF: 16-bit grey; TIFF with --depth float
// or OpenEXR: float texel widths), its range and convention in the result.
// A map whose convention is unclear and not given is not written
// (loadFailed, conversion undecided, the detection in `guess`) and not
// reported; every other failure is.
FileResult heightFile(const Arguments& args, const char* input, const char* output, OutputFormat format);
// The heights of a normal map already read, in `field`, as --to-height
// makes them: of the convention given, else detected (when that is unclear,
// false with `result.conversion` undecided and the detection in
// `result.guess`, not reported); `result.heightConvention` says which.
// Other failures are reported.
bool heightsOfMap(const Arguments& args, const char* input, const Image& normals, HeightField* field,
                  FileResult& result);
// The line (or JSON object) --to-height prints for a file written; `named`
// puts the input's path before the range, as folder runs do.
std::string heightLine(const Arguments& args, const char* input, const char* output, const FileResult& result,
                       bool named);

// Reads the height map `input` for --from-height into `field`, reporting
// any failure. The one place that tells the readers of heights apart: a
// file of float samples (isFloatPictureName: OpenEXR, TIFF) gives its heights in
// its own units through readFloatPictureFile; any other picture its
// samples as 0 .. 1 through readImageFile. --height-channel picks the
// channel; NaN or infinite heights are refused, saying how many and where
// the first is.
bool readHeightFile(const Arguments& args, const char* input, HeightField* field);

// Shared by the runs over many files (cli/batch.cpp).
namespace batch {

struct InputFile {
    std::filesystem::path path;      // as found: the argument, or the folder joined with the relative path
    std::filesystem::path relative;  // the sub-folders below the folder it was found in (empty for a named file)
    uint64_t size = 0;
    std::filesystem::path output;
};

std::string display(const std::filesystem::path& path);
// Every input the arguments name, with its size; problems are collected in
// `problems`.
std::vector<InputFile> collectInputs(const Arguments& args, std::vector<std::string>& problems);
// The format an input is written in under --out-dir.
OutputFormat formatFor(const Arguments& args, const std::filesystem::path& input);
// Plans every output under --out-dir and lists the clashes.
void planOutputs(const Arguments& args, std::vector<InputFile>& files, std::vector<std::string>& problems);
// Makes every folder an output goes into; false (with the message printed)
// when one cannot be made.
bool makeOutputFolders(const std::vector<InputFile>& files);
// True when `file`'s output exists and is not older than the input, as
// cp -u decides: only the two files' times are looked at, never the input's
// content. --update settles such files before anything is read.
bool upToDate(const InputFile& file);
// The summary line (with its newline) a folder run prints of its results:
// "12 files: 11 written, 1 failed", with what --update and --to add.
std::string folderSummary(const Arguments& args, const std::vector<FileResult>& results);
// Prints the problems as usage errors; true when there were any.
bool usageProblems(const std::vector<std::string>& problems);

// The work on file `index`, handed the threads its streaming may use.
using FileWork = std::function<FileResult(size_t index, unsigned streamThreads)>;
// Prints what the run prints for file `index`, whose result is settled.
using FilePrint = std::function<void(size_t index)>;

// The worker loop of every run over many files. Each file whose result is
// pending goes to `work` on one of the workers (-j; each takes the next file
// when it is done with one), the progress line counting it; its result is
// stored in `results`. `print`, when given, is called for every file in
// input order as soon as it and all before it are settled, never on two
// threads at once.
void runFiles(const Arguments& args, const std::vector<InputFile>& files, std::vector<FileResult>& results,
              const FileWork& work, const FilePrint& print = {});

}  // namespace batch

// quorvel-cli's parts: the parsed command line, the one-file run, the folder
// run and the detection run, and the messages they share.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "adjust/adjust.h"
#include "detect/green_convention.h"
#include "writers/writers.h"

enum ExitCode { exitOk = 0, exitLoadFailed = 1, exitUsage = 2, exitWriteFailed = 3, exitFindings = 5 };

// The options of --check and --fix (cli/check.cpp).
struct CheckArguments {
    bool check = false;
    bool fix = false;
    bool json = false;  // JSON Lines for --check, --fix and --detect
    GreenConvention expect = GreenConvention::unknown;
};

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
    bool update = false;  // folder runs skip the inputs whose output is up to date
    SaveOptions save;  // --alpha, --depth and the DDS choices
    bool ddsOptionsGiven = false;
    std::vector<const char*> inputs;
    CheckArguments check;
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

// Writes an adjusted Image (its display bitmap built) to `output` in
// `format` as the options ask, with the notes the write calls for (16 bits
// or alpha the format cannot hold) and the message when it fails.
bool saveResult(const Arguments& args, const char* input, const char* output, const Image& image,
                OutputFormat format);

int runOneFile(const Arguments& args);
int runFolder(const Arguments& args);
int runDetect(const Arguments& args);

// Takes argv[i] when it is one of the check's options (--check, --fix,
// --json, --expect), with its value (i then names the value).
// Returns false for any other argument. On a bad value it prints the usage
// error and sets `status` and `bad`.
bool parseCheckOption(int argc, char** argv, int& i, CheckArguments& check, int& status, bool& bad);
// What goes with --check and --fix; false (with the message printed and
// `status` set) on a usage error.
bool checkUsageAllowed(const Arguments& args, int& status);
// --check: one line (or JSON object) a map, exit 0, 5 (findings) or 1.
// --fix: the repaired maps written, a summary, exit 0, 5 (some skipped), 1 or 3.
int runCheck(const Arguments& args);
// One --detect line as a JSON object, with its newline.
std::string detectJsonLine(const std::string& path, const ConventionGuess& guess);

// Shared by the runs over many files (cli/batch.cpp).
namespace batch {

struct InputFile {
    std::filesystem::path path;      // as found: the argument, or the folder joined with the relative path
    std::filesystem::path relative;  // the sub-folders below the folder it was found in (empty for a named file)
    uint64_t size = 0;
    std::filesystem::path output;
};

std::string display(const std::filesystem::path& path);
// Every input the arguments name; problems are collected in `problems`.
std::vector<InputFile> collectInputs(const Arguments& args, std::vector<std::string>& problems);
// The format an input is written in under --out-dir.
OutputFormat formatFor(const Arguments& args, const std::filesystem::path& input);
// Plans every output under --out-dir and lists the clashes.
void planOutputs(const Arguments& args, std::vector<InputFile>& files, std::vector<std::string>& problems);
// Makes every folder an output goes into; false (with the message printed)
// when one cannot be made.
bool makeOutputFolders(const std::vector<InputFile>& files);
// Prints the problems as usage errors; true when there were any.
bool usageProblems(const std::vector<std::string>& problems);
unsigned workerCount(const Arguments& args, size_t files);
bool showProgress(const Arguments& args);

// Runs `work(index)` for every file on `workers` threads, each taking the
// next file when it is done with one. `claimed(index)` runs as a file is
// taken, before its work.
template <typename Work, typename Claimed>
void runPool(size_t count, unsigned workers, Work work, Claimed claimed) {
    std::atomic<size_t> next{0};
    auto loop = [&] {
        for (size_t index; (index = next.fetch_add(1)) < count;) {
            claimed(index);
            work(index);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(loop);
    loop();
    for (std::thread& thread : threads) thread.join();
}

template <typename Work>
void runPool(size_t count, unsigned workers, Work work) {
    runPool(count, workers, work, [](size_t) {});
}

}  // namespace batch

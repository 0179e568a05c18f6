// Many files at once: the inputs found in files and folders, checked as a
// whole before any work starts, then read, adjusted and written by a pool of
// workers, each on Images of its own.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "cli/progress.h"
#include "cli/stream.h"
#include "readers/readers.h"

namespace fs = std::filesystem;

namespace batch {

const char* extensionOf(OutputFormat format) {
    switch (format) {
        case OutputFormat::bmp: return ".bmp";
        case OutputFormat::png: return ".png";
        case OutputFormat::tga: return ".tga";
        case OutputFormat::tif: return ".tif";
        case OutputFormat::dds: return ".dds";
    }
    return ".png";
}

std::string display(const fs::path& path) { return path.string(); }

// Every input the arguments name. Problems are collected in `problems`.
std::vector<InputFile> collectInputs(const Arguments& args, std::vector<std::string>& problems) {
    std::vector<InputFile> found;
    for (const char* argument : args.inputs) {
        const fs::path root(argument);
        std::error_code error;
        const fs::file_status status = fs::status(root, error);
        if (error || !fs::exists(status)) {
            problems.push_back(std::string(argument) + ": no such file or folder");
            continue;
        }
        if (!fs::is_directory(status)) {
            found.push_back({root, {}, 0, {}});
            continue;
        }
        std::vector<InputFile> inFolder;
        auto take = [&](const fs::directory_entry& entry) {
            std::error_code entryError;
            if (!entry.is_regular_file(entryError)) return;
            const std::string name = entry.path().filename().string();
            if (!formatNameOf(name.c_str())) return;
            inFolder.push_back({entry.path(), entry.path().parent_path().lexically_relative(root), 0, {}});
        };
        const auto options = fs::directory_options::skip_permission_denied;
        if (args.recursive) {
            for (fs::recursive_directory_iterator it(root, options, error), end; !error && it != end; it.increment(error))
                take(*it);
        } else {
            for (fs::directory_iterator it(root, options, error), end; !error && it != end; it.increment(error))
                take(*it);
        }
        if (error) problems.push_back(std::string(argument) + ": " + error.message());
        std::sort(inFolder.begin(), inFolder.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
        if (inFolder.empty() && !error) problems.push_back(std::string(argument) + ": no file in it that quorvel-cli reads");
        found.insert(found.end(), inFolder.begin(), inFolder.end());
    }
    for (InputFile& file : found) {
        std::error_code error;
        const auto size = fs::file_size(file.path, error);
        file.size = error ? 0 : size;
    }
    return found;
}

// The format an input is written in: the one asked for, else its own where
// it is BMP, PNG or Targa, else PNG (a DDS file only on request).
OutputFormat formatFor(const Arguments& args, const fs::path& input) {
    if (args.formatGiven) return args.format;
    OutputFormat own;
    const bool kept = outputFormatOf(input.filename().string().c_str(), own) && own != OutputFormat::dds;
    return kept ? own : OutputFormat::png;
}

// A path's identity for comparisons: absolute and normal, the file's own
// name kept as written.
std::string identity(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
    return (error ? fs::absolute(path) : canonical).lexically_normal().string();
}

// Plans every output and lists the clashes: two inputs to one output, or an
// output that is one of the inputs.
void planOutputs(const Arguments& args, std::vector<InputFile>& files, std::vector<std::string>& problems) {
    const fs::path outDir(args.outDir);
    std::map<std::string, std::vector<const InputFile*>> byOutput;
    std::map<std::string, const InputFile*> inputs;
    for (InputFile& file : files) {
        file.output = outDir / file.relative / file.path.stem();
        file.output += extensionOf(formatFor(args, file.path));
        file.output = file.output.lexically_normal();
        byOutput[identity(file.output)].push_back(&file);
        inputs.emplace(identity(file.path), &file);
    }
    for (const auto& [output, writers] : byOutput) {
        if (writers.size() > 1) {
            std::string text = display(writers.front()->output) + ": written by more than one input:";
            for (const InputFile* file : writers) text += " " + display(file->path);
            problems.push_back(text);
        }
        if (auto same = inputs.find(output); same != inputs.end())
            problems.push_back(display(same->second->path) + ": would be overwritten by its own output");
    }
}

bool usageProblems(const std::vector<std::string>& problems) {
    if (problems.empty()) return false;
    for (const std::string& problem : problems) std::fprintf(stderr, "quorvel-cli: %s\n", problem.c_str());
    std::fputs("Try 'quorvel-cli --help' for more information.\n", stderr);
    return true;
}

unsigned workerCount(const Arguments& args, size_t files) {
    unsigned jobs = args.jobs;
    if (jobs == 0) {
        jobs = std::thread::hardware_concurrency();
        if (jobs == 0) jobs = 1;
    }
    return static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(files, 1)));
}

bool showProgress(const Arguments& args) { return !args.quiet && isatty(fileno(stderr)); }

}  // namespace batch

using namespace batch;

namespace {

// True when `file`'s output exists and is not older than the input, as
// cp -u decides: only the two files' times are looked at, never the input's
// content.
bool upToDate(const InputFile& file) {
    std::error_code error;
    if (!fs::is_regular_file(file.output, error) || error) return false;
    const auto written = fs::last_write_time(file.output, error);
    if (error) return false;
    const auto changed = fs::last_write_time(file.path, error);
    return !error && written >= changed;
}

enum class Outcome { written, loadFailed, writeFailed, upToDate };
enum class Conversion { none, converted, unchanged, undecided };

struct FileResult {
    Outcome outcome = Outcome::written;
    Conversion conversion = Conversion::none;
};

// One file of a folder run, as the one-file run does it: read, convert,
// adjust, write. A file that streams uses `streamThreads` threads.
FileResult processFile(const Arguments& args, const InputFile& file, unsigned streamThreads) {
    FileResult result;
    const std::string input = display(file.path);
    const std::string output = display(file.output);
    const OutputFormat format = formatFor(args, file.path);
    if (args.to == GreenConvention::unknown) {
        switch (streamAdjust(input.c_str(), output.c_str(), format, args.options, args.save, streamThreads)) {
            case StreamResult::written: return result;
            case StreamResult::loadFailed:
                reportLine("%s: Failed to load open file: it changed while it was read", input.c_str());
                result.outcome = Outcome::loadFailed;
                return result;
            case StreamResult::writeFailed:
                reportLine("%s: There was an error writing the file: %s", output.c_str(), writeFailureReason().c_str());
                result.outcome = Outcome::writeFailed;
                return result;
            case StreamResult::notStreamable: break;
        }
    }
    Image image{};
    if (!readImageFile(input.c_str(), &image)) {
        resetImage(&image);
        reportLine("%s: Failed to load open file: %s", input.c_str(), loadFailureReason(input.c_str()).c_str());
        result.outcome = Outcome::loadFailed;
        return result;
    }
    if (args.to != GreenConvention::unknown) {
        const ConventionGuess guess = detectGreenConvention(image);
        if (needsGreenFlip(guess.convention, args.to)) {
            AdjustOptions flip = defaultAdjustOptions;
            flip.invertGreen = 1;
            adjustPixels(&image, flip);
            result.conversion = Conversion::converted;
        } else if (guess.convention == GreenConvention::unknown) {
            warnUnclear(input.c_str(), guess);
            result.conversion = Conversion::undecided;
        } else {
            result.conversion = Conversion::unchanged;
        }
    }
    adjustPixels(&image, args.options);
    if (!buildDisplayBitmap(&image)) {
        reportLine("%s: There was an error writing the file: %s", output.c_str(), writeFailureReason().c_str());
        result.outcome = Outcome::writeFailed;
    } else if (!saveResult(args, input.c_str(), output.c_str(), image, format)) {
        result.outcome = Outcome::writeFailed;
    }
    resetImage(&image);
    return result;
}

}  // namespace

bool batch::makeOutputFolders(const std::vector<InputFile>& files) {
    std::vector<fs::path> folders;
    for (const InputFile& file : files) folders.push_back(file.output.parent_path());
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const fs::path& folder : folders) {
        std::error_code error;
        if (folder.empty() || fs::is_directory(folder, error)) continue;
        fs::create_directories(folder, error);
        if (error) {
            reportLine("%s: cannot make the folder: %s", display(folder).c_str(), error.message().c_str());
            return false;
        }
    }
    return true;
}

int runFolder(const Arguments& args) {
    std::vector<std::string> problems;
    std::vector<InputFile> files = collectInputs(args, problems);
    if (files.empty() && problems.empty()) problems.push_back("no input found");
    planOutputs(args, files, problems);
    if (usageProblems(problems)) return exitUsage;

    // Every folder an output goes into, made before the work starts.
    if (!makeOutputFolders(files)) return exitWriteFailed;

    // With --update, the files whose output is up to date are settled here,
    // before anything is read.
    std::vector<FileResult> results(files.size());
    std::vector<size_t> todo;
    uint64_t totalBytes = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (args.update && upToDate(files[i])) {
            results[i].outcome = Outcome::upToDate;
            continue;
        }
        todo.push_back(i);
        totalBytes += files[i].size;
    }
    // Every worker streams its files alone when there are workers enough
    // for the processors; a picture of its own is what a worker holds.
    const unsigned workers = workerCount(args, todo.size());
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned streamThreads = std::max(1u, cores / workers);
    startProgress(showProgress(args), static_cast<unsigned>(todo.size()), totalBytes);
    runPool(todo.size(), workers, [&](size_t k) {
        const InputFile& file = files[todo[k]];
        results[todo[k]] = processFile(args, file, streamThreads);
        advanceProgress(file.size);
    });
    stopProgress();

    unsigned written = 0, loadFailed = 0, writeFailed = 0, skipped = 0, converted = 0, unchanged = 0, undecided = 0;
    for (const FileResult& result : results) {
        written += result.outcome == Outcome::written;
        loadFailed += result.outcome == Outcome::loadFailed;
        writeFailed += result.outcome == Outcome::writeFailed;
        skipped += result.outcome == Outcome::upToDate;
        converted += result.conversion == Conversion::converted;
        unchanged += result.conversion == Conversion::unchanged;
        undecided += result.conversion == Conversion::undecided;
    }
    std::printf("%u file%s: %u written", static_cast<unsigned>(files.size()), files.size() == 1 ? "" : "s", written);
    if (args.update) {
        std::printf(", %u up to date", skipped);
        if (loadFailed + writeFailed) std::printf(", %u failed", loadFailed + writeFailed);
    } else {
        std::printf(", %u failed", loadFailed + writeFailed);
    }
    if (args.to != GreenConvention::unknown)
        std::printf("; %u converted to %s, %u unchanged, %u undecided", converted, conventionName(args.to), unchanged,
                    undecided);
    std::printf("\n");
    if (writeFailed) return exitWriteFailed;
    return loadFailed ? exitLoadFailed : exitOk;
}

int runDetect(const Arguments& args) {
    std::vector<std::string> problems;
    std::vector<InputFile> files = collectInputs(args, problems);
    if (files.empty() && problems.empty()) problems.push_back("no input found");
    if (usageProblems(problems)) return exitUsage;

    // Lines come out in the order of the inputs, each as soon as it and all
    // before it are known.
    struct Line {
        bool done = false;
        bool loaded = false;
        ConventionGuess guess;
    };
    std::vector<Line> lines(files.size());
    std::mutex lock;
    size_t printed = 0;
    uint64_t totalBytes = 0;
    for (const InputFile& file : files) totalBytes += file.size;
    startProgress(showProgress(args), static_cast<unsigned>(files.size()), totalBytes);
    runPool(files.size(), workerCount(args, files.size()), [&](size_t index) {
        const std::string input = display(files[index].path);
        Line line;
        Image image{};
        if (readImageFile(input.c_str(), &image)) {
            line.loaded = true;
            line.guess = detectGreenConvention(image);
        } else {
            reportLine("%s: Failed to load open file: %s", input.c_str(), loadFailureReason(input.c_str()).c_str());
        }
        resetImage(&image);
        advanceProgress(files[index].size);
        std::lock_guard guard(lock);
        line.done = true;
        lines[index] = line;
        for (; printed < lines.size() && lines[printed].done; ++printed) {
            if (!lines[printed].loaded) continue;
            if (args.check.json) {
                printAboveProgress(detectJsonLine(display(files[printed].path), lines[printed].guess), stdout);
                continue;
            }
            printAboveProgress(display(files[printed].path) + ": " + guessText(lines[printed].guess) + "\n", stdout);
        }
    });
    stopProgress();
    const bool anyFailed = std::any_of(lines.begin(), lines.end(), [](const Line& line) { return !line.loaded; });
    return anyFailed ? exitLoadFailed : exitOk;
}

// Many files at once: the inputs found in files and folders, checked as a
// whole before any work starts, then worked on by a pool of workers, each on
// Images of its own, with the lines of the run printed in input order. The
// folder run and --detect are here; --check and --fix in cli/check.cpp.
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
#include "readers/float_picture.h"
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
        case OutputFormat::exr: return ".exr";
        case OutputFormat::ktx2: return ".ktx2";
        case OutputFormat::astc: return ".astc";
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
            // --from-height also reads files of float heights (OpenEXR).
            if (!formatNameOf(name.c_str()) && !(args.make.fromHeight && isFloatPictureName(name.c_str()))) return;
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
// it is BMP, PNG, Targa or TIFF, else PNG (a DDS, KTX2 or ASTC file only on
// request).
// Heights (--to-height) are PNG unless asked for otherwise.
OutputFormat formatFor(const Arguments& args, const fs::path& input) {
    if (args.formatGiven) return args.format;
    if (args.make.toHeight) return OutputFormat::png;
    OutputFormat own;
    const bool kept = outputFormatOf(input.filename().string().c_str(), own) && own != OutputFormat::dds &&
                      own != OutputFormat::ktx2 && own != OutputFormat::astc;
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

}  // namespace batch

using namespace batch;

namespace {

// The workers for `files` files: -j, or one per processor, and never more
// than there are files.
unsigned workerCount(const Arguments& args, size_t files) {
    unsigned jobs = args.jobs;
    if (jobs == 0) {
        jobs = std::thread::hardware_concurrency();
        if (jobs == 0) jobs = 1;
    }
    return static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(files, 1)));
}

// The progress line is drawn on a terminal only, and never with --quiet.
bool showProgress(const Arguments& args) { return !args.quiet && isatty(fileno(stderr)); }

}  // namespace

bool batch::upToDate(const InputFile& file) {
    std::error_code error;
    if (!fs::is_regular_file(file.output, error) || error) return false;
    const auto written = fs::last_write_time(file.output, error);
    if (error) return false;
    const auto changed = fs::last_write_time(file.path, error);
    return !error && written >= changed;
}

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

void batch::runFiles(const Arguments& args, const std::vector<InputFile>& files, std::vector<FileResult>& results,
                     const FileWork& work, const FilePrint& print) {
    std::vector<size_t> todo;
    std::vector<char> settled(files.size(), 0);
    uint64_t totalBytes = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (results[i].outcome != Outcome::pending) {
            settled[i] = 1;
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

    std::mutex lock;  // guards `results`, `settled` and `printed`
    size_t printed = 0;
    const auto printSettled = [&] {
        if (print)
            for (; printed < files.size() && settled[printed]; ++printed) print(printed);
    };
    std::atomic<size_t> next{0};
    const auto loop = [&] {
        for (size_t k; (k = next.fetch_add(1)) < todo.size();) {
            const size_t index = todo[k];
            FileResult result = work(index, streamThreads);
            advanceProgress(files[index].size);
            std::lock_guard guard(lock);
            results[index] = result;
            settled[index] = 1;
            printSettled();
        }
    };
    startProgress(showProgress(args), static_cast<unsigned>(todo.size()), totalBytes);
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(loop);
    loop();
    for (std::thread& thread : threads) thread.join();
    printSettled();
    stopProgress();
}

int runFolder(const Arguments& args) {
    std::vector<std::string> problems;
    std::vector<InputFile> files = collectInputs(args, problems);
    if (files.empty() && problems.empty()) problems.push_back("no input found");
    planOutputs(args, files, problems);
    if (usageProblems(problems)) return exitUsage;

    // --blend's DETAIL, read once before anything is written.
    BlendDetail detail;
    if (!readBlendDetail(args, &detail)) return exitLoadFailed;
    const BlendDetail* const blend = args.make.blend ? &detail : nullptr;

    // Every folder an output goes into, made before the work starts.
    if (!makeOutputFolders(files)) return exitWriteFailed;

    // With --update, the files whose output is up to date are settled here,
    // before anything is read.
    std::vector<FileResult> results(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        if (args.update && upToDate(files[i])) results[i].outcome = Outcome::upToDate;
    const auto adjust = [&](size_t index, unsigned streamThreads) {
        const std::string input = display(files[index].path), output = display(files[index].output);
        return adjustFile(args, input.c_str(), output.c_str(), formatFor(args, files[index].path), blend,
                          streamThreads);
    };
    // --to-height: each map's height, its range printed as it is written.
    const auto height = [&](size_t index, unsigned) {
        const std::string input = display(files[index].path), output = display(files[index].output);
        FileResult result = heightFile(args, input.c_str(), output.c_str(), formatFor(args, files[index].path));
        if (result.conversion == Conversion::undecided)
            reportLine("%s: its green convention is unclear (detected: %s); give --convention opengl or directx",
                       input.c_str(), guessText(result.guess).c_str());
        return result;
    };
    const auto printHeight = [&](size_t index) {
        if (results[index].outcome != Outcome::done) return;
        const std::string input = display(files[index].path), output = display(files[index].output);
        printAboveProgress(heightLine(args, input.c_str(), output.c_str(), results[index], true), stdout);
    };
    if (args.make.toHeight) runFiles(args, files, results, height, printHeight);
    else runFiles(args, files, results, adjust);

    const unsigned loadFailed = static_cast<unsigned>(std::count_if(
        results.begin(), results.end(), [](const FileResult& r) { return r.outcome == Outcome::loadFailed; }));
    const unsigned writeFailed = static_cast<unsigned>(std::count_if(
        results.begin(), results.end(), [](const FileResult& r) { return r.outcome == Outcome::writeFailed; }));
    // JSON Lines hold one object a file and nothing else.
    if (args.check.json) return writeFailed ? exitWriteFailed : loadFailed ? exitLoadFailed : exitOk;
    std::fputs(folderSummary(args, results).c_str(), stdout);
    if (writeFailed) return exitWriteFailed;
    return loadFailed ? exitLoadFailed : exitOk;
}

std::string batch::folderSummary(const Arguments& args, const std::vector<FileResult>& results) {
    unsigned written = 0, loadFailed = 0, writeFailed = 0, skipped = 0, converted = 0, unchanged = 0, undecided = 0;
    for (const FileResult& result : results) {
        written += result.outcome == Outcome::done;
        loadFailed += result.outcome == Outcome::loadFailed;
        writeFailed += result.outcome == Outcome::writeFailed;
        skipped += result.outcome == Outcome::upToDate;
        converted += result.conversion == Conversion::converted;
        unchanged += result.conversion == Conversion::unchanged;
        undecided += result.conversion == Conversion::undecided;
    }
    const size_t files = results.size();
    std::string text = std::to_string(files) + " file" + (files == 1 ? "" : "s") + ": " + std::to_string(written) +
                       " written";
    if (args.update) {
        text += ", " + std::to_string(skipped) + " up to date";
        if (loadFailed + writeFailed) text += ", " + std::to_string(loadFailed + writeFailed) + " failed";
    } else {
        text += ", " + std::to_string(loadFailed + writeFailed) + " failed";
    }
    if (args.to != GreenConvention::unknown)
        text += "; " + std::to_string(converted) + " converted to " + conventionName(args.to) + ", " +
                std::to_string(unchanged) + " unchanged, " + std::to_string(undecided) + " undecided";
    return text + "\n";
}

int runDetect(const Arguments& args) {
    std::vector<std::string> problems;
    std::vector<InputFile> files = collectInputs(args, problems);
    if (files.empty() && problems.empty()) problems.push_back("no input found");
    if (usageProblems(problems)) return exitUsage;

    std::vector<FileResult> results(files.size());
    const auto detect = [&](size_t index, unsigned) {
        const std::string input = display(files[index].path);
        FileResult result;
        Image image{};
        LoadFailure failure;
        if (readImageFile(input.c_str(), &image, &failure, DisplayBitmap::notMade)) {
            result.outcome = Outcome::done;
            result.guess = detectGreenConvention(image);
        } else {
            reportLoadFailure(input.c_str(), failure);
            result.outcome = Outcome::loadFailed;
        }
        resetImage(&image);
        return result;
    };
    const auto print = [&](size_t index) {
        const FileResult& result = results[index];
        if (result.outcome != Outcome::done) return;
        const std::string path = display(files[index].path);
        printAboveProgress(args.check.json ? detectJsonLine(path, result.guess) : path + ": " + guessText(result.guess) + "\n",
                           stdout);
    };
    runFiles(args, files, results, detect, print);
    const bool anyFailed =
        std::any_of(results.begin(), results.end(), [](const FileResult& r) { return r.outcome == Outcome::loadFailed; });
    return anyFailed ? exitLoadFailed : exitOk;
}

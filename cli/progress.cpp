#include "cli/progress.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Progress {
    std::mutex lock;  // guards everything below and standard error
    std::condition_variable wake;
    std::thread painter;
    bool shown = false;
    bool stopping = false;
    bool drawn = false;
    unsigned totalFiles = 0;
    unsigned doneFiles = 0;
    uint64_t totalBytes = 0;
    uint64_t doneBytes = 0;
    Clock::time_point start;
} progress;

constexpr int barWidth = 24;

#ifdef _WIN32
// Consoles that take no escape sequences are cleared with blanks.
#define eraseToEnd "                                                                              \r"
#else
#define eraseToEnd "\033[K"
#endif

// "1:05" for 65 seconds, "1:01:05" past the hour.
std::string clockText(double seconds) {
    const auto whole = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
    return text;
}

// Draws the line; the lock is held.
void drawLine() {
    const double elapsed = std::chrono::duration<double>(Clock::now() - progress.start).count();
    const double share = progress.totalBytes ? static_cast<double>(progress.doneBytes) / static_cast<double>(progress.totalBytes)
                                             : (progress.totalFiles ? progress.doneFiles / double(progress.totalFiles) : 1.0);
    const int filled = static_cast<int>(share * barWidth + 0.5);
    char bar[barWidth + 1];
    for (int i = 0; i < barWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[barWidth] = '\0';
    const double rate = elapsed > 0 ? static_cast<double>(progress.doneBytes) / elapsed : 0;
    std::string left = "--:--";
    if (rate > 0 && progress.doneBytes > 0)
        left = clockText(static_cast<double>(progress.totalBytes - progress.doneBytes) / rate);
    std::fprintf(stderr, "\r[%s] %u/%u files  %.1f MB/s  %s left" eraseToEnd, bar, progress.doneFiles, progress.totalFiles,
                 rate / 1e6, left.c_str());
    std::fflush(stderr);
    progress.drawn = true;
}

void clearLine() {
    if (!progress.drawn) return;
    std::fputs("\r" eraseToEnd, stderr);
    progress.drawn = false;
}

void paint() {
    std::unique_lock guard(progress.lock);
    while (!progress.stopping) {
        drawLine();
        progress.wake.wait_for(guard, std::chrono::milliseconds(100));
    }
}

}  // namespace

void startProgress(bool show, unsigned totalFiles, uint64_t totalBytes) {
    std::lock_guard guard(progress.lock);
    progress.shown = show;
    progress.stopping = false;
    progress.totalFiles = totalFiles;
    progress.totalBytes = totalBytes;
    progress.doneFiles = 0;
    progress.doneBytes = 0;
    progress.start = Clock::now();
    if (!show) return;
    // Drawn once here, so that even a run over before the painter starts
    // shows the line.
    drawLine();
    progress.painter = std::thread(paint);
}

void advanceProgress(uint64_t bytes) {
    std::lock_guard guard(progress.lock);
    ++progress.doneFiles;
    progress.doneBytes += bytes;
}

void stopProgress() {
    {
        std::lock_guard guard(progress.lock);
        if (!progress.shown) return;
        progress.stopping = true;
    }
    progress.wake.notify_all();
    progress.painter.join();
    std::lock_guard guard(progress.lock);
    clearLine();
    std::fflush(stderr);
    progress.shown = false;
}

void printAboveProgress(const std::string& text, std::FILE* stream) {
    std::lock_guard guard(progress.lock);
    clearLine();
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
    // The painter draws the line again within a tenth of a second.
}

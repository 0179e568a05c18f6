// The progress line of a long run: one line on standard error, redrawn in
// place at most ten times a second, shown only on a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Starts drawing progress for `totalFiles` files of `totalBytes` bytes in
// all; does nothing when `show` is false.
void startProgress(bool show, unsigned totalFiles, uint64_t totalBytes);
// Counts one finished file of `bytes` bytes.
void advanceProgress(uint64_t bytes);
// Ends the progress line and clears it.
void stopProgress();

// Prints `text` (whole lines) on `stream` (standard error unless said),
// with the progress line cleared before and drawn again after. Safe from
// several threads.
void printAboveProgress(const std::string& text, std::FILE* stream = stderr);

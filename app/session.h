// The one application-wide record and the commands that need no window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "adjust/adjust.h"
#include "adjust/scale_text.h"  // the scale field's text
#include "image/image.h"

inline constexpr size_t pathBufferSize = 256;

struct Session {
    char savePath[pathBufferSize];
    char saveDirectory[pathBufferSize];  // ends in the path separator
    char openPath[pathBufferSize];
    char openDirectory[pathBufferSize];  // ends in the path separator
    Image image;      // the loaded and adjusted picture
    Image thumbnail;  // only its bitmap is used
    // A map made in the program (the Linux program's Open Height Map),
    // unadjusted and without a display bitmap: what Apply starts from
    // instead of the file named by openPath. Empty for a picture opened from
    // a file.
    Image made;
    int32_t loaded;   // 1 once anything has loaded; never set back
    AdjustOptions options;
};

// The executable's directory, ending in the separator (or empty: see
// composeModuleDirectory). Filled once by findModuleDirectory.
extern char moduleDirectory[pathBufferSize];
extern Session* session;

void findModuleDirectory();

// The directory part of `executablePath` (null when the executable's path is
// unknown) with its pieces joined by `separator`, ending in it. A leading run
// of separators (a POSIX root, or the two of a network share) is kept. When
// there is no executable path, `currentDirectory` stands in. A directory that
// would leave no room for "Untitled.bmp" in a path field is not used: the next
// candidate is tried, and the last resort is the empty directory, which names
// the current one.
void composeModuleDirectory(const char* executablePath, const char* currentDirectory, char separator,
                            char (&result)[pathBufferSize]);

// Creates the Session with its defaults made from moduleDirectory, or null.
Session* createSession();
void destroySession(Session* record);

// Copies `text` into a path field; false (and the field unchanged) when it
// does not fit.
bool copyPath(char (&field)[pathBufferSize], const char* text);

// Loads the file the user chose and adopts it: openPath names it from then
// on (and a made map is let go), the options go back to their defaults and
// the thumbnail is rebuilt. On failure nothing of the Session changes, so
// openPath keeps naming the file that is shown and later adjustments keep
// working on it.
bool loadOpenFile(const char* chosenPath);

// loadOpenFile without rebuilding the thumbnail, for callers that adjust the
// image first and build the thumbnail afterwards (or never).
bool adoptOpenFile(const char* chosenPath);

// Adopts a freshly loaded Image as the Session's image (the old image and
// thumbnail are released) and marks the Session loaded.
void adoptImage(Image* fresh);

// Adopts a map made in the program from the file `madeFrom` (a height map)
// as a loaded file is adopted: `map` becomes the shown image with its
// display bitmap, a copy of it is kept as the Session's `made` map for Apply
// to start from, openPath names `madeFrom`, the options go back to their
// defaults and the thumbnail is rebuilt. False (and nothing of the Session
// changed, `map` left as it was) when there is no memory for the copy or
// the bitmap, or `madeFrom` does not fit a path field.
bool adoptMadeMap(Image* map, const char* madeFrom);

// A copy of `source`'s record and pixels into `copy` (reset first), without
// its display bitmap. False when there is no memory.
bool copyImagePixels(const Image& source, Image* copy);

// Rebuilds the Session's thumbnail from the display bitmap of its image.
int buildThumbnail();

// The write-and-remember half of Save: writes the image to `path`, and on
// success remembers the path and the current directory as the save folder.
bool saveImageTo(const char* path);

// Applies a remembered folder: the directory with the separator appended
// when it has none.
void rememberDirectory(char (&field)[pathBufferSize], const char* directory);

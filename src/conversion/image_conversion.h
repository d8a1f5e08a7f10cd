// The imaging part of converting one bitmap into one JPEG, safe on any
// thread: read, widen, encode. The JPEG is complete but stays without its
// name until the caller commits it, so a caller converting ahead decides in
// list order which JPEGs appear.
#pragma once

#include "file_identity.h"
#include "imaging.h"
#include "short_path.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

// Which step failed, if any.
enum class ImageOutcome { Written, CannotFind, NoMemory, CannotLoad, CannotSave };

struct ImageResult {
    ImageOutcome outcome = ImageOutcome::CannotFind;
    // A target past PATH_MAX is written through its folder's descriptor: held
    // as long as the JPEG (declared first, so it goes last).
    std::shared_ptr<const files::ShortPath> targetPath;
    std::shared_ptr<PendingJpeg> jpeg;  // Written: the JPEG to commit
    std::optional<FileStamp> source;  // the source as it was before it was read
    int code = 0;  // the failing imaging call's IMG_ERR_* code
    int osError = 0;  // and the system's reason behind it (errno), if any
    QString why;  // the program's own reason for refusing the save, if it did
    // NoMemory: what the picture would have needed, or why no memory would do.
    std::uint64_t needed = 0;
    QString tooLarge;
    bool begun = true;  // false: work ahead the run stopped before it began
    double seconds = 0;  // reading and encoding took
    // Gives the JPEG its name; false (and a failed save) when that fails.
    // With `preserve`, it has the source's modification time and permission
    // bits before it has its name.
    bool commit(bool replace = true, bool preserve = false);
    // Refuses the save for a reason of the program's own.
    void refuse(const QString& reason);
    // Why it failed, in a line for the user ("No space left on device"); empty when nothing is known.
    QString reason() const;
};

// The window's words for a failed step: the first line says what failed
// ("Cannot load file <source>", ...), the second why ("<source> needs
// 3.4 GiB" when memory failed); empty for a JPEG that was written.
QString failureText(const ImageResult& result, const QString& source, const QString& target);
// NoMemory: what the picture needs ("needs 3.4 GiB", "is wider than a JPEG can be"); empty when not known.
QString memoryNeed(const ImageResult& result);

// Reads `source` and encodes `target` as `jpeg` says (a quality alone: the
// window's JPEG). A target that is the source itself is refused, as a save
// that cannot be done.
ImageResult convertImage(const QString& source, const QString& target, const JpegOptions& jpeg);

// The memory a conversion of `source` into a JPEG made as `jpeg` says holds
// at its peak, from its header; 0 for a file that will not get that far.
std::size_t conversionBytes(const QString& source, const JpegOptions& jpeg = {});

// Only bitmaps are ever deleted after their conversion: a dropped file of
// another name (notes.txt, pic.jpeg, a bitmap without an extension) stays.
bool isBitmapName(const QString& path);

// A name in a folder: never a doubled separator ("/" + "a.bmp" is "/a.bmp"),
// and an empty folder gives the name alone.
QString joinPath(const QString& folder, const QString& name);

// The entry without its extension: the last dot of the last path component
// and what follows; the whole entry when there is none.
QString baseNameOf(const QString& entry);

// A FAT file system in an image file, mounted through FUSE (fusefat) for as
// long as the object lives: a real folder that ignores letter case and has no
// unnamed files, hard links or rename without replacing. Needs /dev/fuse,
// fusefat and mkfs.vfat; mounted() is false without them.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace support {

class FatStick {
public:
    FatStick();
    ~FatStick();  // unmounts, and waits until the mount is gone
    FatStick(const FatStick&) = delete;
    FatStick& operator=(const FatStick&) = delete;

    bool mounted() const { return mounted_; }
    QString path() const { return dir_.filePath("stick"); }  // the stick's root folder
    QString whyNot() const { return whyNot_; }  // why it could not be mounted

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString whyNot_;
};

}  // namespace support

#pragma once

#include "copy/FileOperations.h"
#include "drives/Failure.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

// A native place on a volume: the volume's root and the device it held when its
// letter was given (0 for the system drive, which never leaves).
struct VolumePlace
{
    QString path;
    QString root;
    quint64 device = 0;
    std::optional<Failure> unresolved; ///< the place could not be named at the press
};

// All that one slot's worker needs, copied out of the window at the press: the
// worker never touches the window, and the window never touches a key.
struct SlotJob
{
    int slot = 0;
    VolumePlace source;      ///< the source file
    VolumePlace destination; ///< the slot's folder
    VolumePlace listing;     ///< the folder the slot's file list shows
    QString name;            ///< the name the copy takes on the key
    QString deleteName;      ///< empty when this run deletes nothing
};

struct SlotResult
{
    int slot = 0;
    bool copied = false;
    std::optional<Failure> failure;   ///< the last failure of the slot's actions
    std::optional<QStringList> files; ///< the listed folder's files; none when it could not be read
};

// A volume pulled out keeps its letter until its removal is handled; its root is
// then a bare folder of the system disk, which must receive nothing. Throws 71.
void requireVolume(const VolumePlace &place);

// What any exception a slot's action throws becomes: nothing but a failure leaves a worker.
Failure failureOf(std::exception_ptr error);

// The copy, the deletion and the re-reading of the folder, in this order, each
// going on past the failure of the one before; a stop ends the slot with Failure 18.
// Runs on the slot's worker.
SlotResult runSlotJob(const SlotJob &job, FileOperations &files, const FileOperations::Progress &progress,
                      std::stop_token stop = {});

// The failure a run reports: the highest slot's that had one.
std::optional<Failure> lastFailureInSlotOrder(const QList<SlotResult> &results);

#include "copy/SlotJob.h"

#include "drives/DriveTable.h"
#include "drives/FolderReading.h"

namespace {

// A stop skips what is left of the slot's work; the failure it ran into, if any, is the
// one the slot shows.
template<typename Action>
void recording(std::optional<Failure> &record, const std::stop_token &stop, Action action)
{
    if (stop.stop_requested()) {
        if (!record)
            record = failureFor(FailureNumber::Interrupted);
        return;
    }
    try {
        action();
    } catch (...) {
        record = failureOf(std::current_exception());
    }
}

void requireResolved(const VolumePlace &place)
{
    if (place.unresolved)
        throw *place.unresolved;
}

// A key pulled out in the middle of an action fails it as not ready, whatever the
// action ran into first. A stopped action leaves the key alone: it may hang.
template<typename Action>
void onTheKey(const SlotJob &job, Action action)
{
    try {
        action();
    } catch (const Failure &failure) {
        if (failure.number() == FailureNumber::Interrupted)
            throw;
        requireVolume(job.source);
        requireVolume(job.destination);
        throw;
    }
}

} // namespace

void requireVolume(const VolumePlace &place)
{
    if (place.device == 0)
        return;
    if (deviceOf(place.root) != place.device)
        throw failureFor(FailureNumber::DiskNotReady);
}

Failure failureOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Failure &failure) {
        return failure;
    } catch (const std::bad_alloc &) {
        return failureFor(FailureNumber::OutOfMemory);
    } catch (...) {
        return failureFor(FailureNumber::InternalError);
    }
}

SlotResult runSlotJob(const SlotJob &job, FileOperations &files, const FileOperations::Progress &progress,
                      std::stop_token stop)
{
    SlotResult result{job.slot, false, std::nullopt, std::nullopt};
    const KeyBounds bounds{job.destination.device, job.name, job.source.path};
    recording(result.failure, stop, [&] {
        requireResolved(job.source);
        requireResolved(job.destination);
        // The copy itself refuses a folder off the key; a source folder left bare could still hold a file.
        requireVolume(job.source);
        onTheKey(job, [&] {
            files.copyFile(job.source.path, job.destination.path + u'/' + job.name, progress, bounds, stop);
        });
        result.copied = true;
    });
    if (!job.deleteName.isEmpty()) {
        recording(result.failure, stop, [&] {
            requireResolved(job.destination);
            onTheKey(job, [&] { files.deleteMatching(job.destination.path, job.deleteName, bounds, stop); });
        });
    }
    recording(result.failure, stop, [&] {
        requireResolved(job.listing);
        result.files = FolderReading::readOrThrow(job.listing.path, job.listing.root, FolderReading::Kind::Files);
    });
    return result;
}

std::optional<Failure> lastFailureInSlotOrder(const QList<SlotResult> &results)
{
    const SlotResult *last = nullptr;
    for (const SlotResult &result : results) {
        if (result.failure && (!last || result.slot > last->slot))
            last = &result;
    }
    return last ? last->failure : std::nullopt;
}

#pragma once

#include "copy/SlotJob.h"

#include <QList>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// Runs every slot's job at once, one thread a slot, so that each key is written
// at its own speed and a key that stops answering holds back only its own slot.
// The callbacks run on the workers: whoever shows results posts them to its own thread.
// Every slot ends, with a failure when its worker throws or cannot start.
class ParallelRun
{
public:
    struct Callbacks
    {
        std::function<void(int slot, qint64 done, qint64 total)> progress;
        std::function<void(const SlotResult &)> slotDone;
        std::function<void()> allDone; ///< once, after the last slotDone
    };

    ParallelRun(FileOperations &files, Callbacks callbacks);
    virtual ~ParallelRun(); ///< stops the workers and waits for them
    ParallelRun(const ParallelRun &) = delete;
    ParallelRun &operator=(const ParallelRun &) = delete;

    // Call once. With no job, allDone is called at once.
    void start(const QList<SlotJob> &jobs);

    // Each worker stops at its next block or file and ends its slot with Failure 18.
    // A worker blocked in the kernel stops only when the call returns.
    void stop();

protected:
    virtual std::jthread startWorker(std::function<void(std::stop_token)> work);

private:
    void work(const SlotJob &job, const std::stop_token &stop);
    void finish(const SlotResult &result);

    FileOperations &m_files;
    Callbacks m_callbacks;
    std::atomic<int> m_running{0};
    std::vector<std::jthread> m_workers;
};

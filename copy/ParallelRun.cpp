#include "copy/ParallelRun.h"

ParallelRun::ParallelRun(FileOperations &files, Callbacks callbacks)
    : m_files(files)
    , m_callbacks(std::move(callbacks))
{ }

ParallelRun::~ParallelRun() = default; // each jthread asks its worker to stop, then joins it

void ParallelRun::start(const QList<SlotJob> &jobs)
{
    if (jobs.isEmpty()) {
        if (m_callbacks.allDone)
            m_callbacks.allDone();
        return;
    }
    m_running = int(jobs.size());
    m_workers.reserve(size_t(jobs.size()));
    for (const SlotJob &job : jobs) {
        try {
            m_workers.push_back(startWorker([this, job](std::stop_token stop) { work(job, stop); }));
        } catch (...) {
            finish(SlotResult{job.slot, false, failureOf(std::current_exception()), std::nullopt});
        }
    }
}

void ParallelRun::stop()
{
    for (std::jthread &worker : m_workers)
        worker.request_stop();
}

std::jthread ParallelRun::startWorker(std::function<void(std::stop_token)> work)
{
    return std::jthread(std::move(work));
}

void ParallelRun::work(const SlotJob &job, const std::stop_token &stop)
{
    FileOperations::Progress progress;
    if (m_callbacks.progress)
        progress = [this, slot = job.slot](qint64 done, qint64 total) { m_callbacks.progress(slot, done, total); };
    SlotResult result{job.slot, false, std::nullopt, std::nullopt};
    try {
        result = runSlotJob(job, m_files, progress, stop);
    } catch (...) {
        result.failure = failureOf(std::current_exception());
    }
    finish(result);
}

void ParallelRun::finish(const SlotResult &result)
{
    if (m_callbacks.slotDone)
        m_callbacks.slotDone(result);
    if (m_running.fetch_sub(1) == 1 && m_callbacks.allDone)
        m_callbacks.allDone();
}

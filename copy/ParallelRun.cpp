#include "copy/ParallelRun.h"

ParallelRun::ParallelRun(FileOperations &files, Callbacks callbacks)
    : m_files(files)
    , m_callbacks(std::move(callbacks))
{ }

ParallelRun::~ParallelRun() = default; // the jthreads join

void ParallelRun::start(const QList<SlotJob> &jobs)
{
    if (jobs.isEmpty()) {
        if (m_callbacks.allDone)
            m_callbacks.allDone();
        return;
    }
    m_running = int(jobs.size());
    m_workers.reserve(size_t(jobs.size()));
    for (const SlotJob &job : jobs)
        m_workers.emplace_back([this, job] { work(job); });
}

void ParallelRun::work(const SlotJob &job)
{
    FileOperations::Progress progress;
    if (m_callbacks.progress)
        progress = [this, slot = job.slot](qint64 done, qint64 total) { m_callbacks.progress(slot, done, total); };
    const SlotResult result = runSlotJob(job, m_files, progress);
    if (m_callbacks.slotDone)
        m_callbacks.slotDone(result);
    if (m_running.fetch_sub(1) == 1 && m_callbacks.allDone)
        m_callbacks.allDone();
}

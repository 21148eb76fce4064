// bench_progress [size_mib ...=4 24 200]: whether the progress bar of a copy follows
// the key rather than the page cache. Run as root; the bench enters a private mount
// namespace itself.
//
// One slow key, a throttled loop device as in bench_keys (see ThrottledKeys.h). For
// each size, one copy run of the window's engine (ParallelRun over
// LinuxFileOperations); every 50 ms the bar's fraction (the latest done / total of the
// progress callback) is set against the key's: what the loop device has written and
// read since the run started, over twice the size (the copy is written, then read
// back). ext4's metadata and journal count: the key writes them too. Target: the two
// fractions less than 10 % apart at every sample. Before each run the previous copy
// goes, the volume is synced, and the bench waits until nothing else uses the device:
// a device manager probing it would count as the copy.
#include "ThrottledKeys.h"
#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "copy/SlotJob.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ThrottledKeys;

namespace {

constexpr double WriteMiBs = 12;
constexpr double ReadMiBs = 30;
constexpr std::chrono::milliseconds SamplePeriod(50);
constexpr double TargetGap = 0.10;

// What the loop device has passed on since it was attached, after the throttle.
struct Counters
{
    qint64 read = 0;
    qint64 written = 0;
};

// Fields 3 and 7 of the device's statistics: sectors read and written, 512 bytes each.
Counters countersOf(const Key &key)
{
    std::ifstream stat("/sys/block/" + key.loopPath().substr(std::strlen("/dev/")) + "/stat");
    qint64 fields[7] = {};
    for (qint64 &field : fields)
        stat >> field;
    if (!stat)
        throw Error("cannot read the statistics of " + key.loopPath());
    return {fields[2] * 512, fields[6] * 512};
}

// Waits until nothing reads or writes the key: a prober's reads during a run would
// count as the copy's.
void waitUntilQuiet(const Key &key)
{
    constexpr int QuietSamples = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    Counters last = countersOf(key);
    for (int quiet = 0; quiet < QuietSamples;) {
        std::this_thread::sleep_for(SamplePeriod);
        checkStopped();
        const Counters now = countersOf(key);
        quiet = now.read == last.read && now.written == last.written ? quiet + 1 : 0;
        last = now;
        if (std::chrono::steady_clock::now() > deadline)
            throw Error("the key never went quiet: another program reads or writes it");
    }
}

struct Sample
{
    double seconds = 0;
    double bar = 0; ///< the fraction the window would show
    Counters key;   ///< since the run started
};

struct Run
{
    std::vector<Sample> samples;
    double seconds = 0;
    Counters key;
};

// One copy run onto the key, sampled while it runs.
Run sampledRun(const Key &key, const std::string &source)
{
    // As the window gives it: the key's folder with its root and device, listed where
    // it is written; the source on the system drive (device 0).
    struct stat status = {};
    if (stat(key.mountPoint().c_str(), &status) != 0)
        throw Error(withErrno(key.mountPoint()));
    const QString sourcePath = QFile::decodeName(source.c_str());
    const QString folder = QFile::decodeName(key.mountPoint().c_str());
    SlotJob job;
    job.slot = 1;
    job.name = QString::fromLatin1(FileName);
    job.source = VolumePlace{sourcePath, sourcePath.left(sourcePath.lastIndexOf(u'/')), 0, std::nullopt};
    job.destination = VolumePlace{folder, folder, quint64(status.st_dev), std::nullopt};
    job.listing = job.destination;

    LinuxFileOperations files;
    std::atomic<double> bar{0};
    std::atomic<bool> ended{false};
    std::optional<SlotResult> result; // read once the workers are joined
    Run run;
    const Counters before = countersOf(key);
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&](const Counters &now) {
        return Counters{now.read - before.read, now.written - before.written};
    };
    {
        ParallelRun copy(files,
                         ParallelRun::Callbacks{
                             [&](int, qint64 done, qint64 total) { // the window's bar, less the posting
                                 bar.store(total > 0 ? double(done) / double(total) : 1.0);
                             },
                             [&](const SlotResult &slotResult) { result = slotResult; },
                             [&] { ended.store(true); },
                         });
        copy.start({job});
        // This thread is the sampler; the fixed schedule keeps the period from drifting.
        for (auto next = start + SamplePeriod; !ended.load(); next += SamplePeriod) {
            std::this_thread::sleep_until(next);
            if (stopped)
                copy.stop();
            const double shown = bar.load();
            const Counters now = countersOf(key);
            if (ended.load())
                break;
            run.samples.push_back(
                {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), shown, since(now)});
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.key = since(countersOf(key));
    checkStopped();
    if (!result || !result->copied || result->failure)
        throw Error(
            "the copy failed: "
            + std::string(result && result->failure ? qPrintable(result->failure->description()) : "not copied"));
    return run;
}

double keyFraction(const Counters &key, qint64 size)
{
    return double(key.written + key.read) / double(2 * size);
}

// Prints one size's figures; returns whether the target is met.
bool report(qint64 sizeMiB, const Run &run)
{
    const qint64 size = sizeMiB << 20;
    std::printf("%5lld MiB: %6.2f s, key wrote %.1f MiB and read %.1f MiB; ", static_cast<long long>(sizeMiB),
                run.seconds, double(run.key.written) / MiB, double(run.key.read) / MiB);
    if (run.samples.empty()) {
        std::printf("no sample (the run ended within %lld ms): target not measured\n",
                    static_cast<long long>(SamplePeriod.count()));
        return false;
    }
    const auto gap = [&](const Sample &sample) { return std::abs(sample.bar - keyFraction(sample.key, size)); };
    const auto worst = std::max_element(run.samples.begin(), run.samples.end(),
                                        [&](const Sample &a, const Sample &b) { return gap(a) < gap(b); });
    const bool met = gap(*worst) < TargetGap;
    std::printf("%zu samples, largest gap %.1f %% at %.2f s (bar %.1f %%, key %.1f %%): target < %.0f %%: %s\n",
                run.samples.size(), 100 * gap(*worst), worst->seconds, 100 * worst->bar,
                100 * keyFraction(worst->key, size), 100 * TargetGap, met ? "met" : "MISSED");
    if (!met) {
        // The neighbourhood of the worst sample, for whoever tunes the engine.
        std::printf("       time    bar   key written   key read    key\n");
        const auto at = worst - run.samples.begin();
        const auto first = std::max<std::ptrdiff_t>(0, at - 4);
        const auto last = std::min<std::ptrdiff_t>(std::ptrdiff_t(run.samples.size()) - 1, at + 4);
        for (auto i = first; i <= last; ++i) {
            const Sample &sample = run.samples[size_t(i)];
            std::printf("    %6.2f s %5.1f %% %8.2f MiB %6.2f MiB %5.1f %%%s\n", sample.seconds, 100 * sample.bar,
                        double(sample.key.written) / MiB, double(sample.key.read) / MiB,
                        100 * keyFraction(sample.key, size), i == at ? "  <-" : "");
        }
    }
    return met;
}

int bench(const std::vector<qint64> &sizesMiB)
{
    const qint64 largest = *std::max_element(sizesMiB.begin(), sizesMiB.end()) << 20;
    const qint64 imageBytes = ((largest * 9 / 8) & ~qint64(0xfffff)) + (qint64(48) << 20);
    Guard guard;
    Workspace workspace("bench-progress", imageBytes + largest + (qint64(64) << 20));
    guard.workspace(workspace.path());
    const std::string source = workspace.path() + "/source.bin";

    Key key(workspace.path(), "key", "CLE");
    int code = 0;
    try {
        key.setUp(imageBytes);
        // A device manager, when one runs, probes the new device: let it finish while
        // the device is not throttled yet. Without udev there is nothing to wait for.
        runProgram({"udevadm", "settle", "--timeout=10"});
        sync();
        guard.throttled(key.device());
        key.throttle(qint64(WriteMiBs * MiB), qint64(ReadMiBs * MiB));
        std::printf("one ext4 key on a throttled loop device, writes %.0f MiB/s, reads %.0f MiB/s; bar against key "
                    "every %lld ms\n",
                    WriteMiBs, ReadMiBs, static_cast<long long>(SamplePeriod.count()));
        std::fflush(stdout);
        bool met = true;
        for (const qint64 sizeMiB : sizesMiB) {
            checkStopped();
            makeRandomFile(source, sizeMiB << 20);
            key.clear();
            waitUntilQuiet(key);
            const Run run = sampledRun(key, source);
            unlink(source.c_str());
            met = report(sizeMiB, run) && met;
            std::fflush(stdout);
        }
        std::printf("targets: %s\n", met ? "all met" : "some MISSED");
        code = met ? 0 : 3;
    } catch (const Error &error) {
        std::fprintf(stderr, "bench_progress: %s\n", error.what());
        code = 1;
    }
    if (const std::string problems = key.undo(); !problems.empty()) {
        std::fprintf(stderr, "bench_progress: cleanup: %s\n", problems.c_str());
        code = 1;
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!enterPrivateMounts("bench_progress", argc, argv))
        return 1;
    std::vector<qint64> sizesMiB;
    for (int i = 2; i < argc; ++i)
        sizesMiB.push_back(std::atoll(argv[i]));
    if (sizesMiB.empty())
        sizesMiB = {4, 24, 200};
    if (std::any_of(sizesMiB.begin(), sizesMiB.end(), [](qint64 size) { return size <= 0 || size > 65536; })) {
        std::fprintf(stderr, "usage: bench_progress [size_mib ...=4 24 200]\n");
        return 2;
    }
    stopOnSignals();
    return bench(sizesMiB);
}

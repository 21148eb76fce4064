// bench_keys [size_mib=24] [keys=8] [write_mib_s=12] [read_mib_s=30]: the copy run of
// the window (ParallelRun over LinuxFileOperations) onto slow keys, simulated with
// throttled loop devices (see ThrottledKeys.h). Run as root; the bench enters a
// private mount namespace itself.
//
// The bench times one key, then all keys at once, and the peak memory (VmHWM) of each
// run in a fresh process; all keys again with four times the file shows whether the
// memory grows with the file.
#include "ThrottledKeys.h"
#include "copy/LinuxFileOperations.h"
#include "copy/ParallelRun.h"
#include "copy/SlotJob.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace ThrottledKeys;

namespace {

constexpr char MeasureFlag[] = "--measure";
constexpr int FlatnessFactor = 4;
constexpr double MemoryTargetMiB = 48;
constexpr double FlatnessSlackMiB = 4;

struct Measure
{
    double seconds = 0;
    double peakMiB = 0;
};

double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    }
    return -1;
}

// Child mode: one run of the window's engine onto the given mount points; writes
// "seconds peak_mib" to the result file.
int measureChild(int argc, char *argv[])
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const std::string resultPath = argv[2];
    const QString source = QFile::decodeName(argv[3]);
    QList<SlotJob> jobs;
    for (int i = 4; i < argc; ++i) {
        struct stat status = {};
        if (stat(argv[i], &status) != 0) {
            std::perror(argv[i]);
            return 1;
        }
        // As the window gives them: a key's folder with its root and device, listed
        // where it is written; the source on the system drive (device 0).
        SlotJob job;
        job.slot = i - 3;
        job.name = QString::fromLatin1(FileName);
        job.source = VolumePlace{source, source.left(source.lastIndexOf(u'/')), 0, std::nullopt};
        job.destination =
            VolumePlace{QFile::decodeName(argv[i]), QFile::decodeName(argv[i]), quint64(status.st_dev), std::nullopt};
        job.listing = job.destination;
        jobs.append(job);
    }

    LinuxFileOperations files;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    QList<SlotResult> results;
    std::vector<std::atomic<int>> shown(size_t(jobs.size() + 1));
    const auto start = std::chrono::steady_clock::now();
    {
        ParallelRun run(
            files,
            ParallelRun::Callbacks{
                [&](int slot, qint64 copied, qint64 total) { // what the window's progress does, less the posting
                    shown[size_t(slot)].store(total > 0 ? int(copied * 1000 / total) : 1000);
                },
                [&](const SlotResult &result) {
                    const std::lock_guard lock(mutex);
                    results.append(result);
                },
                [&] {
                    const std::lock_guard lock(mutex);
                    done = true;
                    ended.notify_all();
                },
            });
        run.start(jobs);
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return done; });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const SlotResult &result : results) {
        if (!result.copied || result.failure) {
            std::fprintf(stderr, "slot %d: %s\n", result.slot,
                         result.failure ? qPrintable(result.failure->description()) : "not copied");
            return 1;
        }
    }
    std::ofstream(resultPath) << seconds << ' ' << peakMemoryMiB() << '\n';
    return 0;
}

Measure measure(const std::string &self, const std::string &folder, const std::string &source,
                const std::vector<std::unique_ptr<Key>> &keys, size_t count)
{
    std::vector<std::string> args{self, MeasureFlag, folder + "/result", source};
    for (size_t i = 0; i < count; ++i) {
        keys[i]->clear();
        args.push_back(keys[i]->mountPoint());
    }
    if (runProgram(args, false) != 0)
        throw Error("the copy run failed");
    Measure result;
    std::ifstream(folder + "/result") >> result.seconds >> result.peakMiB;
    return result;
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

int bench(const std::string &self, qint64 sizeMiB, int keyCount, double writeMiBs, double readMiBs)
{
    const qint64 size = sizeMiB << 20;
    const qint64 imageBytes = ((FlatnessFactor * size * 9 / 8) & ~qint64(0xfffff)) + (qint64(48) << 20);
    Guard guard;
    Workspace workspace("bench-keys", keyCount * imageBytes + (FlatnessFactor + 1) * size + (qint64(64) << 20));
    const std::string &folder = workspace.path();
    guard.workspace(folder);
    const std::string small = folder + "/source-small.bin";
    const std::string large = folder + "/source-large.bin";
    makeRandomFile(small, size);
    makeRandomFile(large, FlatnessFactor * size);

    std::vector<std::unique_ptr<Key>> keys;
    std::string problems;
    int code = 0;
    try {
        for (int i = 1; i <= keyCount; ++i) {
            checkStopped();
            keys.push_back(std::make_unique<Key>(folder, "key" + std::to_string(i), "CLE" + std::to_string(i)));
            keys.back()->setUp(imageBytes);
        }
        sync();
        for (const auto &key : keys) {
            guard.throttled(key->device());
            key->throttle(qint64(writeMiBs * MiB), qint64(readMiBs * MiB));
        }

        const double limit = sizeMiB / writeMiBs + sizeMiB / readMiBs;
        std::printf("%d ext4 keys on throttled loop devices, writes %.0f MiB/s, reads %.0f MiB/s, file %lld MiB\n",
                    keyCount, writeMiBs, readMiBs, static_cast<long long>(sizeMiB));
        std::printf("physical limit of one key: %.2f s (%lld MiB / %.0f MiB/s + %lld MiB / %.0f MiB/s)\n", limit,
                    static_cast<long long>(sizeMiB), writeMiBs, static_cast<long long>(sizeMiB), readMiBs);
        std::fflush(stdout);
        const Measure one = measure(self, folder, small, keys, 1);
        std::printf("one key:     %6.2f s = %.2f x the limit (target <= 1.15: %s), peak memory %.1f MiB\n", one.seconds,
                    one.seconds / limit, verdict(one.seconds <= 1.15 * limit), one.peakMiB);
        std::fflush(stdout);
        const Measure all = measure(self, folder, small, keys, keys.size());
        std::printf(
            "%d keys:      %6.2f s = %.2f x one key (target <= 1.30: %s), peak memory %.1f MiB (target < %.0f: %s)\n",
            keyCount, all.seconds, all.seconds / one.seconds, verdict(all.seconds <= 1.3 * one.seconds), all.peakMiB,
            MemoryTargetMiB, verdict(all.peakMiB < MemoryTargetMiB));
        std::fflush(stdout);
        const Measure big = measure(self, folder, large, keys, keys.size());
        const bool flat = big.peakMiB < MemoryTargetMiB && big.peakMiB - all.peakMiB < FlatnessSlackMiB;
        std::printf("%d keys, %lld MiB file: %6.2f s, peak memory %.1f MiB (%+.1f MiB for %dx the file; flat: %s)\n",
                    keyCount, static_cast<long long>(FlatnessFactor * sizeMiB), big.seconds, big.peakMiB,
                    big.peakMiB - all.peakMiB, FlatnessFactor, verdict(flat));
        const bool met =
            one.seconds <= 1.15 * limit && all.seconds <= 1.3 * one.seconds && all.peakMiB < MemoryTargetMiB && flat;
        std::printf("targets: %s\n", met ? "all met" : "some MISSED");
        code = met ? 0 : 3;
    } catch (const Error &error) {
        std::fprintf(stderr, "bench_keys: %s\n", error.what());
        code = 1;
    }
    while (!keys.empty()) {
        problems += keys.back()->undo();
        keys.pop_back();
    }
    if (!problems.empty()) {
        std::fprintf(stderr, "bench_keys: cleanup: %s\n", problems.c_str());
        code = 1;
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], MeasureFlag) == 0)
        return measureChild(argc, argv);
    const std::optional<std::string> self = enterPrivateMounts("bench_keys", argc, argv);
    if (!self)
        return 1;
    const auto argument = [&](int index, double fallback) { return argc > index ? std::atof(argv[index]) : fallback; };
    const qint64 sizeMiB = qint64(argument(2, 24));
    const int keys = int(argument(3, 8));
    const double writeMiBs = argument(4, 12);
    const double readMiBs = argument(5, 30);
    if (sizeMiB <= 0 || keys < 1 || keys > 8 || writeMiBs <= 0 || readMiBs <= 0) {
        std::fprintf(stderr, "usage: bench_keys [size_mib=24] [keys=1..8, 8] [write_mib_s=12] [read_mib_s=30]\n");
        return 2;
    }
    stopOnSignals();
    return bench(*self, sizeMiB, keys, writeMiBs, readMiBs);
}

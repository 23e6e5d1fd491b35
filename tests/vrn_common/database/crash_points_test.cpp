// The model database killed at every file change of a workload, then
// reopened in a fresh process: it must open; every state closed before
// the cut must read back exactly; nothing deleted or superseded may come
// back; the step under way at the cut is there whole or not at all; and
// undo and redo from the reopened file reach only whole states.
//
// A reference run records, after each step, the file changes made so far
// and the model it leaves: the snapshot of every state undo and redo may
// reach. A cut after change n-1 must leave the model of the last step
// done by then or of the step under way, also when the file ends part way
// through the write at the cut. Workloads of more than kMaxPoints changes
// would be cut at kMaxPoints points spread evenly over them (those here
// make a few hundred).
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <string>
#include <vector>

#include "../handed_over.h"
#include "crash_points.h"
#include "model_scripts.h"
#include "support/system.h"
#include "test_support.h"
#include "vrn_platform.h"

using namespace modelscripts;
using vrntest::listDir;

namespace {

const long long kMaxPoints = 3000;
const long long kTornPoints = 60;

struct CrashRun : SessionRun {
    using SessionRun::SessionRun;

    // Cuts the workload at every change (or kMaxPoints of them), then at
    // part of each write (a write cut after its first byte at firstByteCuts
    // points); answers the failures, at most a few.
    void run(const Workload& work, long long firstByteCuts = kMaxPoints) {
        std::vector<Step> steps = reference(work);
        ASSERT_FALSE(steps.empty()) << "the reference run recorded nothing";
        long long total = steps.back().changes;
        ASSERT_GT(total, 0);
        int failures = 0;
        // Whole calls at every change; a write cut after its first byte at
        // every change too, unless asked otherwise; one cut after 21 bytes
        // at fewer points.
        const std::pair<long long, long long> cuts[] = {{-1, kMaxPoints}, {1, firstByteCuts}, {21, kTornPoints}};
        for (const auto& cut : cuts) {
            const long long keep = cut.first;
            for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, cut.second))) {
                reset();
                if (!vrntest::runUntilCrash(
                        [&] {
                            Recorder rec = seed;
                            work(path, rec);
                        },
                        n, keep)) {
                    // Every counted call ends the process there; kept bytes
                    // only change how much of a write is left.
                    ADD_FAILURE() << "the workload did not end at change " << n << " of " << total;
                    return;
                }
                // The step done before change n, and the one under way.
                const View start = startView();
                const View* done = &start;
                const View* next = &steps.front().view;
                for (size_t i = 0; i < steps.size(); ++i) {
                    if (steps[i].changes <= n - 1) {
                        done = &steps[i].view;
                        next = i + 1 < steps.size() ? &steps[i + 1].view : &steps[i].view;
                    }
                }
                std::string failed = check(*done, *next);
                if (!failed.empty()) {
                    ADD_FAILURE() << "cut at change " << n << " of " << total
                                  << (keep >= 0 ? " keeping " + std::to_string(keep) + " bytes" : std::string())
                                  << ":\n"
                                  << failed;
                    if (++failures >= 3) return;
                }
            }
        }
    }
};

}  // namespace

TEST(ModelCrashPoints, EditsAndClosedStatesOfANewModel) {
    CrashRun run(blobs);
    run.run(newModel);
}

TEST(ModelCrashPoints, UndoRedoAndAnEditThatDiscardsRedoStates) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(undoRedoAndDiscard);
}

TEST(ModelCrashPoints, AStateWithAFailedWriteIsDroppedWholeByTheNextEdit) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(aFailedStateThenAnEdit);
}

TEST(ModelCrashPoints, CloseWithCompactionKeepsTheModelUnderItsName) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(closeWithCompaction);
}

TEST(ModelCrashPoints, RepositoryWithTopologyObjects) {
    CrashRun run(repositories);
    run.buildBase(newRepository);
    run.run(repositoryEdits);
}

TEST(ModelCrashPoints, CloseWithPurgeToOneStateOfARepository) {
    CrashRun run(repositories);
    run.buildBase([](const std::string& path, Recorder& rec) {
        newRepository(path, rec);
        repositoryEdits(path, rec);
        deleteRegion(path, rec);
    });
    // Most of the close writes the copy, which is read only once it is
    // whole: writes cut part way are tried at fewer points.
    run.run(repositoryCloseWithPurge, kTornPoints);
}

namespace {

// Cuts the create of a repository named file at each of its file changes:
// the name then holds a model that opens, and whatever the cut leaves
// beside it bears the model file's name (the start of a long one). The
// failures, "" when none.
std::string cutCreateAtEveryChange(const vrntest::TempDir& dir, const std::string& file) {
    std::string path = dir.file(file);
    const std::string stem = file.substr(0, 100);
    useFlavour(repositories);
    auto create = [&] {
        Recorder rec;
        newRepository(path, rec);
    };
    long long total = vrntest::countFileChanges(create);
    if (total <= 0) return "the create made no change\n";
    for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, kMaxPoints))) {
        for (const std::string& e : listDir(dir.path())) vrnRemoveFile(dir.file(e).c_str());
        std::string at = " (cut at change " + std::to_string(n) + " of " + std::to_string(total) + ")\n";
        if (!vrntest::runUntilCrash(create, n)) return "no end" + at;
        for (const std::string& e : listDir(dir.path()))
            if (e.rfind(stem, 0) != 0) return e + " is left beside the model" + at;
        std::string failed = vrntest::runInFreshProcess([&](std::string& f) {
            vrntest::removeDeadWriterLock(path);
            vrnStateManager* m = openRepository(path);
            if (!m) {
                f += "the repository does not open\n";
                return;
            }
            if (!vrnStateManager_getSingletonByTypeName(m, "Model")) f += "no model\n";
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
        });
        if (!failed.empty()) return failed + at;
    }
    return "";
}

}  // namespace

TEST(ModelCrashPoints, ARepositoryCutBeforeItsFirstStateClosedOpensAsANewOne) {
    vrntest::TempDir dir;
    EXPECT_EQ(cutCreateAtEveryChange(dir, "model.vrn"), "");
    // A name that leaves no room for a temporary one ending in its own.
    EXPECT_EQ(cutCreateAtEveryChange(dir, std::string(240, 'm') + ".vrn"), "");
    // Where the model cannot be renamed into place without replacing in
    // one step, it is linked there and its temporary name unlinked.
    auto r = vrntest::runInChild([&] {
        if (!vrntest::refuseSystemCalls({{__NR_renameat2, EINVAL}})) return 10;
        std::string failed = cutCreateAtEveryChange(dir, "model.vrn");
        std::fprintf(stderr, "%s", failed.c_str());
        return failed.empty() ? 0 : 1;
    });
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

// A create refused by another process's lock on the name: wherever the
// process dies, the name holds nothing or a whole model, and a create
// that fails leaves nothing.
TEST(ModelCrashPoints, ACreateRefusedByALockLeavesNothingUnderTheName) {
    vrntest::TempDir dir;
    std::string path = dir.file("model.vrn");
    auto create = [&] { openRepository(path); };
    vrntest::writeFile(path + ".lck", "-1");
    long long total = vrntest::countFileChanges(create);
    ASSERT_GT(total, 0);
    EXPECT_FALSE(vrnFileExists(path.c_str())) << "the refused create left a file";
    for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, kMaxPoints))) {
        vrnRemoveFile(path.c_str());
        vrntest::writeFile(path + ".lck", "-1");
        ASSERT_TRUE(vrntest::runUntilCrash(create, n)) << "no end at change " << n << " of " << total;
        std::string failed = vrntest::runInFreshProcess([&](std::string& f) {
            vrntest::removeDeadWriterLock(path);
            if (!vrnFileExists(path.c_str())) return;
            vrnStateManager* m = openRepository(path);
            if (!m) {
                f += "the file left does not open\n";
                return;
            }
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
        });
        ASSERT_EQ(failed, "") << "cut at change " << n << " of " << total;
    }
}

// The model database with one file change failing, as on a full or failing
// disk, while the session goes on: the k-th file change of a session fails
// once (ENOSPC; EIO for an unlink or a truncation), for every k, and the
// session carries on with its edits, undo and redo, edits after an undo
// and its close. Then the model is opened again by a new manager, once the
// session has let go of it.
//
// Demanded at every k:
// - every answer of the session fits its memory: a state reported closed,
//   an undo or redo answered 1, is the state the host then sees; after a
//   reported failure (a close answered -1, an undo answered 0) memory is
//   the state the host was last shown;
// - the model opens again and shows what the host was last shown: its
//   current state, and every state undo and redo reach, walking through
//   them; nothing closed before the session is lost; the stored type list
//   names the type of every stored object; new states go on top.
// Each session is also killed once after its failure, and the file opened
// in a fresh process: in turn just after the host was next shown a change,
// and a few changes past the failure. The file must then hold the model
// the host was last shown or the one of the step under way, as after a
// crash.
//
// The sessions are those the crash-point harness cuts, on new models and
// on existing ones; under the sanitizers half the failing changes are
// tried, spread evenly, as for the crash points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash_points.h"
#include "io_files.h"
#include "model_scripts.h"
#include "test_support.h"
#include "vrn_platform.h"

using namespace modelscripts;

namespace {

const long long kMaxPoints = 3000;
// After every other failure the session is killed at one of these
// distances past it, in turn.
const long long kKillsAfter[] = {2, 3, 5, 8, 13};
const size_t kKillDistances = sizeof kKillsAfter / sizeof kKillsAfter[0];

// What a session reports after its own lines: the failures of the open
// after it.
const std::string kReopened = "\x01reopened\n";

// The path of the failing change, noted by the file-change hook.
long long g_seen = 0, g_failAt = 0;
vrntest::Report* g_report = nullptr;

void noteFailingChange(const char* path) {
    if (++g_seen == g_failAt && g_report) (*g_report)(std::string("@ ") + (path ? path : "?") + "\n");
}

// What a session with a failure point reported.
struct Session {
    bool reachedFailure = false;
    bool crashed = false;
    std::vector<Step> steps;
    std::string mismatches;  // answers that did not fit memory
    std::string failingChange;
    std::string reopened;  // what the open after the session found wrong
};

struct FailRun : SessionRun {
    using SessionRun::SessionRun;
    int failures = 0;

    Session runSession(const Workload& work, long long failAt, long long crashAt) {
        reset();
        vrntest::FailedRun run = vrntest::runWithFailure(
            [&](const vrntest::Report& report) {
                vrntest::Report forward = report;
                // A lock mutex whose removal failed is stale: the
                // session's next open takes it over at once.
                kwxIoSetLockWait(1, 1);
                g_seen = 0;
                g_failAt = failAt;
                g_report = &forward;
                vrnPlatform_setFileChangeHook(noteFailingChange);
                Recorder rec = seed;
                rec.recording = true;
                rec.start = vrnPlatform_fileChangeCount();
                rec.report = report;
                work(path, rec);
                vrnPlatform_setFileChangeHook(nullptr);
                // The session has closed the model: it is opened again here
                // as a fresh process would.
                if (crashAt == 0) {
                    const std::string failed =
                        checkHere(rec.steps.empty() ? startView() : rec.steps.back().view,
                                  rec.steps.empty() ? startView() : rec.steps.back().view);
                    if (!failed.empty()) report(kReopened + failed);
                }
            },
            failAt, -1, crashAt);
        Session s;
        s.reachedFailure = run.reachedFailure;
        s.crashed = run.crashed;
        // The session's lines, then what the open after it found wrong.
        std::string lines = run.reported;
        const size_t checked = lines.find(kReopened);
        if (checked != std::string::npos) {
            s.reopened = lines.substr(checked + kReopened.size());
            lines.erase(checked);
        }
        s.steps = decode(lines);
        size_t at = 0;
        while (at < lines.size()) {
            size_t end = lines.find('\n', at);
            if (end == std::string::npos) end = lines.size();
            const std::string line = lines.substr(at, end - at);
            if (line.rfind("! ", 0) == 0) s.mismatches += "  " + line.substr(2) + "\n";
            if (line.rfind("@ ", 0) == 0) s.failingChange = line.substr(2);
            at = end + 1;
        }
        return s;
    }

    bool fail(const std::string& what) {
        ADD_FAILURE() << what;
        return ++failures < 3;
    }

    // The changes made up to the first step past change k that shows the
    // host a model other than the one shown before it; 0 when none does.
    long long nextShownChange(const std::vector<Step>& steps, long long k) const {
        View before = startView();
        for (const Step& step : steps) {
            if (step.changes < k) {
                before = step.view;
                continue;
            }
            if (step.view.current != before.current || step.view.states != before.states) return step.changes;
        }
        return 0;
    }

    // The step done before change n of a session, and the one under way.
    std::pair<View, View> around(const std::vector<Step>& steps, long long n) const {
        View done = startView();
        View next = steps.empty() ? done : steps.front().view;
        for (size_t i = 0; i < steps.size(); ++i)
            if (steps[i].changes <= n - 1) {
                done = steps[i].view;
                next = i + 1 < steps.size() ? steps[i + 1].view : steps[i].view;
            }
        return {done, next};
    }

    void run(const Workload& work) {
        const std::vector<Step> reference = SessionRun::reference(work);
        ASSERT_FALSE(reference.empty()) << "the reference run recorded nothing";
        const long long total = reference.back().changes;
        ASSERT_GT(total, 0);
        long long failedAt = 0;
        for (long long k : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, kMaxPoints))) {
            const Session s = runSession(work, k, 0);
            if (!s.reachedFailure) continue;
            const std::string at = "change " + std::to_string(k) + " of " + std::to_string(total) + " failing (" +
                                   s.failingChange + ")";
            if (!s.mismatches.empty() && !fail(at + ": answers that do not fit the session:\n" + s.mismatches))
                return;
            if (!s.reopened.empty() && !fail(at + ", the session ended:\n" + s.reopened)) return;
            // The session is also killed past the failure, in turn just
            // after the host was next shown a change (whatever its close
            // would still have stored goes with it) and a few changes past
            // the failure (one past it would leave the file as a crash at
            // the failing change does).
            const long long c = ++failedAt % 2 ? nextShownChange(s.steps, k) + 1
                                               : k + kKillsAfter[static_cast<size_t>(failedAt / 2) % kKillDistances];
            if (c <= 1) continue;
            const Session killed = runSession(work, k, c);
            if (!killed.crashed) continue;
            const std::pair<View, View> views = around(s.steps, c);
            const std::string failed = check(views.first, views.second);
            if (!failed.empty() && !fail(at + ", killed at change " + std::to_string(c) + ":\n" + failed)) return;
        }
    }
};

}  // namespace

TEST(ModelFailedWrites, EditsAndClosedStatesOfANewModel) {
    FailRun run(blobs);
    run.run(newModel);
}

TEST(ModelFailedWrites, UndoRedoAndAnEditThatDiscardsRedoStates) {
    FailRun run(blobs);
    run.buildBase(newModel);
    run.run(undoRedoAndDiscard);
}

TEST(ModelFailedWrites, UndoRedoAndDiscardOverAStateAKilledWriterLeftOpen) {
    FailRun run(blobs);
    run.buildBase(newModel);
    run.leaveAStateOpenInTheBase();
    run.run(undoRedoAndDiscard);
}

TEST(ModelFailedWrites, AStateWithAFailedWriteThenAnEdit) {
    FailRun run(blobs);
    run.buildBase(newModel);
    run.run(aFailedStateThenAnEdit);
}

TEST(ModelFailedWrites, CloseWithCompaction) {
    FailRun run(blobs);
    run.buildBase(newModel);
    run.run(closeWithCompaction);
}

TEST(ModelFailedWrites, ANewRepository) {
    FailRun run(repositories);
    run.run(newRepository);
}

TEST(ModelFailedWrites, RepositoryWithTopologyObjects) {
    FailRun run(repositories);
    run.buildBase(newRepository);
    run.run(repositoryEdits);
}

TEST(ModelFailedWrites, CloseWithPurgeToOneStateOfARepository) {
    FailRun run(repositories);
    run.buildBase([](const std::string& path, Recorder& rec) {
        newRepository(path, rec);
        repositoryEdits(path, rec);
        deleteRegion(path, rec);
    });
    run.run(repositoryCloseWithPurge);
}

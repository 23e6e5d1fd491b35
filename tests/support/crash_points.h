// Running a workload that writes files up to a chosen file change, and
// checking what is left in a process of its own.
//
// The platform layer counts every call that changes a file (a creating
// open, a write, a truncation, a rename, an unlink) and can end the process
// at the n-th one as SIGKILL would, optionally after part of that write.
// These helpers run each workload in a forked child, so the test process
// itself never crashes and starts every run from the same state.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vrntest {

// Runs workload in a forked child with no crash point and answers how many
// counted file changes it made; -1 when the child did not finish normally.
long long countFileChanges(const std::function<void()>& workload);

// Runs workload in a forked child that ends at its n-th counted file change
// (1-based), keeping keepBytes of that change when it is a write (-1: none
// of it, as for the other calls). True when the child ended there; false
// when it finished first or died some other way. The child's standard
// output and error are discarded.
bool runUntilCrash(const std::function<void()>& workload, long long n, long long keepBytes = -1);

// What a run with a failure point left: whether the workload got as far as
// the failing call, whether the process was then ended at its crash point,
// and everything the workload reported, in order (what was reported before
// a crash is kept).
struct FailedRun {
    bool reachedFailure = false;
    bool crashed = false;
    std::string reported;
};
using Report = std::function<void(const std::string& text)>;

// Runs workload in a forked child whose failAt-th counted file change fails
// once (ENOSPC, or EIO for an unlink or a truncation; a failing write keeps
// keepBytes of itself when that is above 0) while the workload goes on.
// With crashAt > 0 the child also ends, as SIGKILL would, at its crashAt-th
// change. The workload passes what it wants checked to report, which sends
// it to the parent at once. The child's standard output and error are
// discarded.
FailedRun runWithFailure(const std::function<void(const Report& report)>& workload, long long failAt,
                         long long keepBytes = -1, long long crashAt = 0);

// Runs check in a forked child and answers the failures it recorded: "" when
// it recorded none; a child that crashes, is killed or exits without
// reporting is a failure too.
std::string runInFreshProcess(const std::function<void(std::string& failures)>& check);

// The crash points to try for a workload of total changes: every one of
// 1..total, or cap points spread evenly over them (first and last included)
// when total is above cap.
std::vector<long long> crashPointsToTry(long long total, long long cap);

// The cap a workload of total changes uses: cap itself, except in a build
// under the sanitizers, whose child processes cost several times more and
// which tries half the points, spread evenly (the plain build tries them
// all).
long long crashPointCap(long long total, long long cap);

// Removes what a writer that died leaves beside a data file: its lock file
// "<path>.lck" (holding -1) and the lock mutex "<path>.lck.lck", as the
// README tells a user to do before opening the file again.
void removeDeadWriterLock(const std::string& dataFile);

}  // namespace vrntest

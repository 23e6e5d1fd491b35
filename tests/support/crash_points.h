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

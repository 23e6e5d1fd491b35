// The sessions that the crash-point and the failed-write harnesses run on
// a model database, and what both need to follow them: a recorder of the
// model each step leaves, and the check of a file opened again in a fresh
// process against the models a session may have left.
//
// A session's steps go through the recorder, which answers as the library
// does and notes the model the host was shown: the current state and the
// snapshot of every state undo and redo may reach. Where an answer does
// not fit the session's memory (a state reported stored whose memory
// differs, an undo answered 0 that moved, memory after a reported failure
// that is not the state the host was last shown), the recorder reports it
// when told where to.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "database/state_manager.h"
#include "model_fixture.h"
#include "test_support.h"

namespace modelscripts {

// What a workload's model is made of: how to open it, see it, and add
// something to it.
struct Flavour {
    std::function<vrnStateManager*(const std::string& path)> open;
    std::function<std::string(vrnStateManager*)> snapshot;
    std::function<void(vrnStateManager*, int)> addOne;
};

extern const Flavour blobs;         // vrnBlob objects on a plain manager
extern const Flavour repositories;  // a repository with its model and topology

// The flavour the sessions of this process use.
void useFlavour(const Flavour& f);
std::string snapshotOf(vrnStateManager* m);

// The model a step leaves: the current state and the snapshot of each
// state undo and redo may reach.
struct View {
    int current = 0;
    std::map<int, std::string> states{{0, ""}};
};

struct Step {
    long long changes;  // file changes made by the session up to the step
    View view;
};

std::string encode(const std::vector<Step>& steps);
std::vector<Step> decode(const std::string& text);

// Follows a session: knows the snapshot of every state it has shown, and
// records a step (with the file changes made so far) when recording.
struct Recorder {
    bool recording = false;
    long long start = 0;
    std::map<int, std::string> known{{0, ""}};
    std::vector<Step> steps;
    // Where steps and answers that do not fit the session go as they are
    // made (lines "step"/"state" as encode writes them, and "! " lines);
    // unset, they are kept in steps only.
    std::function<void(const std::string&)> report;
    int told = -1;  // the current state the host was last shown; -1 before the open

    // After an open or an edit that leaves its state open: a state still
    // open is not counted, since it is gone once reopened.
    void step(vrnStateManager* m);
    // A step of the session, answered as the library answers it.
    int close(vrnStateManager* m);
    int change(vrnStateManager* m, int relative, int n);
    int checkpoint(vrnStateManager* m);
    // Closes the database (and frees the manager) in the mode given.
    int closeDatabase(vrnStateManager* m, int mode);

    View viewOf(vrnStateManager* m) const;
    void record(const View& v);
    void mismatch(const std::string& text);

private:
    // After a step that answered s (a state closed, or -1 for a failure).
    void closed(vrnStateManager* m, int s, const char* what);
};

// A session on the model file at path; the recorder follows it.
using Workload = std::function<void(const std::string& path, Recorder& rec)>;

// Sessions. On a new model: four states. On that model: undo, redo and an
// edit after an undo; a state with a write no file can hold, then an edit;
// a close that compacts.
void newModel(const std::string& path, Recorder& rec);
void undoRedoAndDiscard(const std::string& path, Recorder& rec);
void aFailedStateThenAnEdit(const std::string& path, Recorder& rec);
void closeWithCompaction(const std::string& path, Recorder& rec);
// Repositories: a new one; regions added at checkpoints with an undo in
// between; a region deleted; a close that keeps one state.
void newRepository(const std::string& path, Recorder& rec);
void repositoryEdits(const std::string& path, Recorder& rec);
void deleteRegion(const std::string& path, Recorder& rec);
void repositoryCloseWithPurge(const std::string& path, Recorder& rec);

vrnStateManager* openModel(const std::string& path);
vrnStateManager* openRepository(const std::string& path);

// A session's model file, the base it starts from, and the check of the
// file a session left, opened again in a fresh process.
struct SessionRun {
    vrntest::TempDir dir;
    std::string base = dir.file("base.vrn");  // what the workload starts from, when fromBase
    std::string path = dir.file("model.vrn");
    bool fromBase = false;
    Recorder seed;

    explicit SessionRun(const Flavour& f) { useFlavour(f); }

    // The model file as the session starts from it.
    void reset();
    // Builds the model the workload starts from in this process, noting
    // the snapshots of its states.
    void buildBase(const Workload& build);
    // The base as a writer killed in the middle of a state leaves it: that
    // state's counters and one of its values stored, never closed.
    void leaveAStateOpenInTheBase();
    // The steps of the workload run in a fresh process without a fault.
    std::vector<Step> reference(const Workload& work);
    // The model the session starts from.
    View startView() const;

    static std::string describe(const View& v);
    // Opens the file in a fresh process and checks it against the step
    // done before a cut and the one under way (the same view twice when
    // the session ended): it opens, every state undo and redo reach is one
    // of theirs, every closed state the step under way keeps is there, the
    // type list names every stored object's type, and new states go on top.
    // The failures, "" when none.
    std::string check(const View& done, const View& next);
    // The same in this process, for one whose session has closed the
    // model and let go of it.
    std::string checkHere(const View& done, const View& next);
};

}  // namespace modelscripts

// The atlas bridge: the Primary map stored as its ORV text, rebuilt on
// reopen, undo and redo, and a stored map that cannot be read.
#include "model_describe.h"
#include "region_definition.h"

using modeltest::RepositoryFixture;

namespace {

std::string mapText(Atlas* atlas) {
    char* text = nullptr;
    if (RegionStatus_isError(RegionMap_getORV(atlas->primaryMap, 0, &text))) return "<error>";
    std::string out = text ? text : "";
    RegionMap_freeORV(atlas->primaryMap);
    return out;
}

void define(Atlas* atlas, const char* name, int combination, std::vector<const char*> a,
            std::vector<const char*> b = {}) {
    RegionDefinition* def = nullptr;
    ASSERT_FALSE(RegionStatus_isError(RegionDefinition_new(&def, name, combination, const_cast<char**>(a.data()),
                                                           const_cast<char**>(b.data()), static_cast<unsigned>(a.size()),
                                                           static_cast<unsigned>(b.size()))));
    ASSERT_FALSE(RegionStatus_isError(RegionMap_addDefinition(atlas->primaryMap, def)));
    Atlas_markModified(atlas);
}

}  // namespace

TEST_F(RepositoryFixture, EveryCombinationKindSurvivesReopenUndoAndRedo) {
    Atlas* atlas = names->atlas;
    ASSERT_NE(atlas, nullptr);
    ASSERT_NE(atlas->primaryMap, nullptr);
    std::string empty = mapText(atlas);
    define(atlas, "Walls", 1, {"Left", "Right"});
    define(atlas, "Common", 2, {"Left", "Walls"});
    vrnStateManager_closeState(m);  // state 2
    std::string two = mapText(atlas);
    define(atlas, "Rest", 4, {"Walls"}, {"Left"});
    define(atlas, "Either", 5, {"Left"}, {"Right"});
    define(atlas, "Inlet", 7, {"Right"});
    vrnStateManager_closeState(m);  // state 3
    std::string three = mapText(atlas);
    for (const char* kind : {"Union", "Intersection", "Difference", "Alias"})
        EXPECT_NE(three.find(kind), std::string::npos) << kind;

    RegionMap* before = atlas->primaryMap;
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_NE(atlas->primaryMap, before);
    EXPECT_EQ(mapText(atlas), two);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(mapText(atlas), empty);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 2), 1);
    EXPECT_EQ(mapText(atlas), three);
    reopen();
    EXPECT_EQ(mapText(names->atlas), three);
    RegionMap* inAtlas = nullptr;
    RegionAtlas_getMap(names->atlas->regionAtlas, REGION_MAP_PRIMARY, &inAtlas);
    EXPECT_EQ(inAtlas, names->atlas->primaryMap);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST_F(RepositoryFixture, AStoredMergeKeepsThePreviousMap) {
    Atlas* atlas = names->atlas;
    define(atlas, "Walls", 1, {"Left", "Right"});
    vrnStateManager_closeState(m);
    std::string good = mapText(atlas);
    std::string bad = good;
    size_t at = bad.find("Union");
    ASSERT_NE(at, std::string::npos);
    bad.replace(at, 5, "Merge");
    vrnObject_setString(&atlas->header, "map - primary", bad.c_str());
    vrnStateManager_closeState(m);

    RegionMap* previous = atlas->primaryMap;
    Atlas_restore(&atlas->header, 0);
    EXPECT_EQ(atlas->primaryMap, previous);
    EXPECT_EQ(mapText(atlas), good);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
    EXPECT_EQ(errors[0].message.rfind("A problem was encountered in the region atlas.\n\nThe function "
                                      "\"RegionMap_readFromStrings\" reported:\n\n", 0),
              0u);
    EXPECT_NE(errors[0].message.find("\nDetails:\n--------\n\n"), std::string::npos);
    EXPECT_EQ(errors[1].message, "Failed to restore the primary region map.\n");

    // A stored map of none leaves an empty map and no error.
    vrnObject_setString(&atlas->header, "map - primary", nullptr);
    vrnStateManager_closeState(m);
    Atlas_restore(&atlas->header, 0);
    EXPECT_EQ(mapText(atlas).find("Walls"), std::string::npos);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST_F(RepositoryFixture, ReportedStatusesAndTheDebugListing) {
    RegionStatus* status = nullptr;
    RegionStatus_set(&status, 1, 8, nullptr);
    EXPECT_EQ(Atlas_reportError(status, "Caller", "Called", "Inlet"), 1);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, "Processing region \"Inlet\".\n\nA problem was encountered in the region "
                                 "atlas.\n\nThe function \"Called\" reported:\n\n" +
                                     std::string(RegionStatus_getCodeText(status)) + "\n");
    RegionStatus* fine = nullptr;
    RegionStatus_set(&fine, 0, 0, nullptr);
    EXPECT_EQ(Atlas_reportError(fine, "Caller", "Called", nullptr), 0);

    define(names->atlas, "Walls", 1, {"Left", "Right"});
    char* listing = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&listing, &size);
    Atlas_printMap(names->atlas, out);
    fclose(out);
    std::string text = listing;
    free(listing);
    EXPECT_NE(text.find("\nPrimary map:\n------------\n"), std::string::npos);
    EXPECT_NE(text.find("Composite names      = 1\n  \"Walls\"\n"), std::string::npos);
    EXPECT_NE(text.find("Implicit primitives  = 2\n"), std::string::npos);
}

TEST_F(RepositoryFixture, ACheckpointThatCannotStoreTheMapFails) {
    Atlas* atlas = names->atlas;
    define(atlas, "Walls", 1, {"Left", "Right"});
    define(atlas, "Rest", 1, {"Left"});
    // Made unwritable behind the map's back: no text of the map can be had.
    RegionDefinition* rest = nullptr;
    ASSERT_FALSE(RegionStatus_isError(RegionMap_getDefinitionByText(atlas->primaryMap, "Rest", &rest)));
    rest->combination = RC_DIFFERENCE;
    EXPECT_EQ(Repository_externalCheckpoint(repo), -1);
    auto errors = commontest::takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().code, VRN_U_UNABLE_TO_WRITE_DATASET);
    EXPECT_NE(errors.back().message.find("The primary region map could not be written. [map - primary, "),
              std::string::npos);
    // The failed state is dropped, in memory too: the map is back as
    // stored. Its definitions made again are stored whole.
    EXPECT_EQ(mapText(names->atlas).find("Walls"), std::string::npos);
    define(names->atlas, "Walls", 1, {"Left", "Right"});
    define(names->atlas, "Rest", 1, {"Left"});
    EXPECT_EQ(Repository_externalCheckpoint(repo), 1);
    reopen();
    std::string text = mapText(names->atlas);
    EXPECT_NE(text.find("Walls"), std::string::npos);
    EXPECT_NE(text.find("Rest"), std::string::npos);
}

// The quick cycle check against the full walk: random definitions of a few
// names, in three maps that join and leave one atlas, edited through the
// definitions and behind their backs; after every step both checks give
// the same answer for every definition against every map.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_resolution.h"
#include "region_test_util.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void expectSameAnswers(RegionMap* const maps[3], RegionDefinition* extra, int step)
{
    std::vector<RegionDefinition*> all;
    for (int i = 0; i < 3; ++i) {
        std::vector<RegionDefinition*> defs = regiontest::definitionsOf(maps[i]);
        all.insert(all.end(), defs.begin(), defs.end());
    }
    if (extra)
        all.push_back(extra);
    for (RegionDefinition* d : all)
        for (int i = 0; i < 3; ++i) {
            int quick = RegionStatus_getCode(RegionPrimitives_findCycle(d, maps[i], maps[i]->atlas));
            int walked = RegionStatus_getCode(regionatlas::findCycleByWalk(d, maps[i], maps[i]->atlas));
            ASSERT_EQ(quick, walked) << "step " << step;
        }
}

void play(unsigned seed, int steps)
{
    regiontest::Dice dice{seed, "c", 8};
    const int combinations[] = {RC_UNION, RC_SYMMETRIC_DIFFERENCE, RC_DIFFERENCE, RC_INTERSECTION};
    const int levels[3] = {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY};
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "Cycles");
    RegionMap* maps[3] = {};
    for (int i = 0; i < 3; ++i)
        RegionMap_new(&maps[i], ("Map " + std::to_string(i)).c_str());
    for (int step = 0; step < steps && !testing::Test::HasFatalFailure(); ++step) {
        RegionMap* m = maps[dice.next(3)];
        std::vector<RegionDefinition*> defs = regiontest::definitionsOf(m);
        RegionDefinition* some = defs.empty() ? nullptr : defs[dice.next(static_cast<unsigned>(defs.size()))];
        RegionDefinition* fresh = nullptr;
        std::string x = dice.name();
        char* names[] = {&x[0]};
        switch (dice.next(8)) {
        case 0:
        case 1:
        case 2: {
            std::string a = dice.name(), b = dice.name(), c = dice.name(), d = dice.name();
            char* sideA[] = {&a[0], &b[0]};
            char* sideB[] = {&c[0]};
            RegionDefinition_new(&fresh, d.c_str(), combinations[dice.next(4)], sideA, sideB, 1 + dice.next(2), 1);
            break;
        }
        case 3: {
            int i = static_cast<int>(dice.next(3));
            if (maps[i]->atlas)
                RegionAtlas_removeMap(atlas, maps[i]);
            else
                RegionAtlas_addMap(atlas, maps[i], levels[i]);
            break;
        }
        case 4:
            if (some)
                RegionDefinition_delete(&some);
            break;
        case 5:
            if (some)
                RegionDefinition_rename(some, x.c_str());
            break;
        case 6:
            // A name added behind the definition's back, as a caller holding
            // its list may, and taken out again once both checks have seen
            // it, so that the map stays whole.
            if (some && some->sideA) {
                int held = 0;
                RegionStringList_findText(some->sideA, x.c_str(), &held);
                if (!held && !RegionStatus_isError(RegionStringList_addText(some->sideA, x.c_str()))) {
                    expectSameAnswers(maps, nullptr, step);
                    RegionStringList_removeText(some->sideA, x.c_str());
                }
            }
            break;
        default:
            if (some) {
                if (dice.next(3) == 0)
                    RegionDefinition_setCombination(some, combinations[dice.next(4)]);
                else
                    RegionDefinition_modifyComponents(some, dice.next(2) ? RO_ADD : RO_REMOVE, 1, names, 1);
            }
        }
        expectSameAnswers(maps, fresh, step);
        if (fresh && RegionStatus_isError(RegionMap_addDefinition(m, fresh)))
            RegionDefinition_delete(&fresh);
        expectSameAnswers(maps, nullptr, step);
    }
    RegionAtlas_delete(atlas, 0);
    for (RegionMap*& m : maps)
        RegionMap_delete(&m, 1);
}

}  // namespace

TEST(CycleCheck, AgreesWithTheFullWalk)
{
    for (unsigned seed = 1; seed <= 8; ++seed)
        play(seed, 150);
}

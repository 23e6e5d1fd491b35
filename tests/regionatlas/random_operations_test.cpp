// Many operations in a fixed pseudo-random order on three maps that join and
// leave one atlas, are deleted and made again: the sanitizer run sees every
// object freed exactly once, and every map still reads back from its text.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_test_util.h"

#include <string>
#include <vector>

namespace {

void walk(unsigned seed, int steps)
{
    regiontest::Dice w{seed, "w", 12};
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "Walk");
    RegionMap* maps[3] = {};
    const int levels[3] = {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY};
    for (int i = 0; i < 3; ++i)
        RegionMap_new(&maps[i], ("Map " + std::to_string(i)).c_str());
    std::vector<RegionDefinition*> loose;
    for (int step = 0; step < steps; ++step) {
        RegionMap* m = maps[w.next(3)];
        std::vector<RegionDefinition*> defs = regiontest::definitionsOf(m);
        RegionDefinition* some = defs.empty() ? nullptr : defs[w.next(static_cast<unsigned>(defs.size()))];
        switch (w.next(11)) {
        case 0:
        case 1: {
            std::string a = w.name(), b = w.name(), d = w.name(), c = "w0";
            char* sideA[] = {&a[0], &b[0]};
            char* sideB[] = {&c[0]};
            bool two = w.next(2);
            RegionDefinition* def = nullptr;
            RegionDefinition_new(&def, d.c_str(), two ? RC_DIFFERENCE : RC_UNION, sideA, sideB, 2, 1);
            if (def && RegionStatus_isError(RegionMap_addDefinition(m, def)))
                RegionDefinition_delete(&def);
            break;
        }
        case 2:
            if (some && !RegionStatus_isError(RegionMap_removeDefinition(m, some)))
                loose.push_back(some);
            break;
        case 3:
            RegionMap_addExplicitPrimitive(m, w.name().c_str());
            break;
        case 4:
            RegionMap_removeExplicitPrimitive(m, w.name().c_str());
            break;
        case 5: {
            int i = static_cast<int>(w.next(3));
            if (maps[i]->atlas)
                RegionAtlas_removeMap(atlas, maps[i]);
            else
                RegionAtlas_addMap(atlas, maps[i], levels[i]);
            break;
        }
        case 6:
            if (!loose.empty()) {
                RegionDefinition* d = loose.back();
                loose.pop_back();
                if (RegionStatus_isError(RegionMap_addDefinition(m, d)))
                    RegionDefinition_delete(&d);
            }
            break;
        case 7:
            if (some)
                RegionDefinition_delete(&some);
            break;
        case 8:
            if (some)
                RegionDefinition_rename(some, w.name().c_str());
            break;
        case 9:
            if (w.next(4) == 0) {
                // A map deleted in or out of the atlas, its definitions kept
                // or deleted with it, and a fresh one in its place.
                int i = static_cast<int>(w.next(3));
                int keep = static_cast<int>(w.next(2));
                if (keep) {
                    std::vector<RegionDefinition*> held = regiontest::definitionsOf(maps[i]);
                    loose.insert(loose.end(), held.begin(), held.end());
                }
                RegionMap_delete(&maps[i], keep ? 0 : 1);
                RegionMap_new(&maps[i], ("Map " + std::to_string(i)).c_str());
            }
            break;
        default:
            if (some) {
                std::string x = w.name();
                char* names[] = {&x[0]};
                RegionDefinition_modifyComponents(some, w.next(2) ? RO_ADD : RO_REMOVE, 1, names, 1);
                EXPECT_EQ(some->map, m) << "an edit dropped a definition from its map";
            }
        }
    }
    RegionAtlas_delete(atlas, 0);
    for (RegionMap*& m : maps) {
        EXPECT_EQ(m->atlas, nullptr);
        // Every primitive is still used or declared: none is left behind.
        RegionStringList* used = nullptr;
        RegionStringList* declared = nullptr;
        RegionStringList* primitives = nullptr;
        RegionMap_getImplicitPrimitives(m, 3, &used);
        RegionMap_getExplicitPrimitives(m, 3, &declared);
        RegionMap_getPrimitives(m, 3, &primitives);
        if (primitives) {
            RegionStringList_difference(primitives, used);
            RegionStringList_difference(primitives, declared);
            EXPECT_EQ(primitives->count, 0u) << "seed " << seed;
        }
        for (RegionStringList** l : {&used, &declared, &primitives})
            if (*l)
                RegionStringList_delete(l);
        // Explicit primitives are not part of the text: compare without them.
        regiontest::roundTrip(m, 0);
        RegionMap_delete(&m, 1);
    }
    for (RegionDefinition*& d : loose)
        RegionDefinition_delete(&d);
}

}  // namespace

TEST(RegionMapInAtlas, RandomOperationsLoseAndLeakNothing)
{
    for (unsigned seed = 1; seed <= 16; ++seed)
        walk(seed, 500);
}

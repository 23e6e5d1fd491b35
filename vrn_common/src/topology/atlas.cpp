#include "topology/atlas.h"

#include <stdlib.h>
#include <string.h>

#include "database/state_manager.h"
#include "debug/debug_manager.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "topology/model_fields.h"
#include "topology/name_manager.h"

namespace {

const char* const kSource = "vrn_common/src/topology/Atlas";
const char* const kDashes = "\n--------------------------------------------------------------------\n";

bool failed(RegionStatus* status) { return status && RegionStatus_isError(status); }

}  // namespace

extern "C" {

int Atlas_size(void) { return static_cast<int>(sizeof(Atlas)); }

int Atlas_reportError(RegionStatus* status, const char* callerName, const char* calledName,
                      const char* regionName) {
    if (!failed(status)) return 0;
    vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, callerName, kSource, 283);
    if (regionName) vrnError_addMessage(e, "Processing region \"%s\".\n\n", regionName);
    vrnError_addMessage(e, "A problem was encountered in the region atlas.\n\nThe function \"%s\" reported:\n",
                        calledName);
    const char* codeText = RegionStatus_getCodeText(status);
    vrnError_addMessage(e, "\n%s\n", codeText ? codeText : "");
    char** lines = nullptr;
    int count = 0;
    if (RegionStatus_getMessageLines(status, &lines, &count) && count > 0) {
        vrnError_addMessage(e, "\nDetails:\n--------\n\n");
        for (int i = 0; i < count; ++i) vrnError_addMessage(e, "%s\n", lines[i]);
    }
    for (int i = 0; i < count; ++i) free(lines[i]);
    free(lines);
    vrnError_publish(e);
    return 1;
}

int Atlas_create(Atlas* a) {
    static const char* const fn = "Atlas_create";
    RegionAtlas* atlas = nullptr;
    if (Atlas_reportError(RegionAtlas_new(&atlas, "VRN atlas"), fn, "RegionAtlas_new", nullptr)) return 0;
    RegionMap* map = nullptr;
    if (Atlas_reportError(RegionMap_new(&map, "Primary map"), fn, "RegionMap_new", nullptr)) {
        RegionAtlas_delete(atlas, 1);
        return 0;
    }
    if (Atlas_reportError(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY), fn, "RegionAtlas_addMap", nullptr)) {
        RegionMap_delete(&map, 1);
        RegionAtlas_delete(atlas, 1);
        return 0;
    }
    a->regionAtlas = atlas;
    a->primaryMap = map;
    return 1;
}

Atlas* Atlas_new(NameManager* nameManager) {
    Atlas* a = reinterpret_cast<Atlas*>(vrnObject_new("Atlas"));
    if (!a) return nullptr;
    if (!Atlas_create(a)) {
        vrnObject_delete(&a->header);
        return nullptr;
    }
    vrnObject_markModified(&a->header);
    a->nameManager = nameManager;
    vrnObject_setPointer(&a->header, "nameManager", nameManager ? &nameManager->header : nullptr);
    return a;
}

void Atlas_markModified(Atlas* a) {
    if (a) vrnObject_markModified(&a->header);
}

void Atlas_dump(vrnObject* o) {
    Atlas* a = reinterpret_cast<Atlas*>(o);
    if (!a->primaryMap) return;
    char* text = nullptr;
    if (Atlas_reportError(RegionMap_getORV(a->primaryMap, 0, &text), "Atlas_dump", "RegionMap_getORV", nullptr)) {
        // Nothing of the map's changes can be stored: the state's close
        // fails rather than passing them for kept.
        vrnStateManager_noteFailedDump(vrnStateManager_get(), o->uuid, "map - primary",
                                       "The primary region map could not be written.");
        return;
    }
    char* copy = vrnCString_clone(text);
    RegionMap_freeORV(a->primaryMap);
    vrnObject_setString(o, "map - primary", copy);
    vrnCString_free(copy);
}

int RegionMap_readFromString(RegionMap** map, const char* text) {
    // No text, or an empty one (how a none text is stored), holds no map.
    if (!text || !*text) return 1;
    char** lines = nullptr;
    int count = 0;
    vrnCStringArray_newFromPackedString(text, '\n', &lines, &count);
    int ok = !Atlas_reportError(RegionMap_readFromStrings(map, count, lines, nullptr), "RegionMap_readFromString",
                                "RegionMap_readFromStrings", nullptr);
    vrnCStringArray_free(lines, count);
    return ok;
}

int Atlas_resetRegionAtlasPrimaryMap(Atlas* a, const char* text) {
    static const char* const fn = "Atlas_resetRegionAtlasPrimaryMap";
    if (!a || !a->regionAtlas) return 0;
    RegionMap* old = a->primaryMap;
    RegionMap* map = nullptr;
    if (Atlas_reportError(RegionMap_new(&map, "Primary map"), fn, "RegionMap_new", nullptr)) return 0;
    if (!RegionMap_readFromString(&map, text)) {
        RegionMap_delete(&map, 1);
        return 0;
    }
    if (old && Atlas_reportError(RegionAtlas_removeMap(a->regionAtlas, old), fn, "RegionAtlas_removeMap", nullptr)) {
        RegionMap_delete(&map, 1);
        return 0;
    }
    if (Atlas_reportError(RegionAtlas_addMap(a->regionAtlas, map, REGION_MAP_PRIMARY), fn, "RegionAtlas_addMap",
                          nullptr)) {
        if (old) RegionAtlas_addMap(a->regionAtlas, old, REGION_MAP_PRIMARY);
        RegionMap_delete(&map, 1);
        return 0;
    }
    a->primaryMap = map;
    return old ? !Atlas_reportError(RegionMap_delete(&old, 1), fn, "RegionMap_delete", nullptr) : 1;
}

void Atlas_restore(vrnObject* o, int onlyIfChanged) {
    static vrnDebugPreamble debug;
    debug.enter("Atlas_restore", "Restore the in memory copy of an atlas from a database.");
    Atlas* a = reinterpret_cast<Atlas*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "nameManager", "NameManager", &a->nameManager);
    if (!a->regionAtlas) Atlas_create(a);
    if (a->regionAtlas && vrnObject_shouldRead(o, onlyIfChanged, "map - primary")) {
        char* text = nullptr;
        vrnObject_getString(o, 0, "map - primary", &text);
        if (!Atlas_resetRegionAtlasPrimaryMap(a, text)) {
            vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, "Atlas_restore", kSource, 694);
            vrnError_addMessage(e, "Failed to restore the primary region map.\n");
            vrnError_publish(e);
        }
        vrnCString_free(text);
    }
    FILE* out = vrnDebug_getStream();
    if (debug.level(0) >= 1 && debug.tracing() && out) {
        fprintf(out, "Restored atlas:\n---------------\n");
        Atlas_printMap(a, out);
    }
}

void Atlas_delete(vrnObject* o) {
    Atlas* a = reinterpret_cast<Atlas*>(o);
    if (a->regionAtlas) RegionAtlas_delete(a->regionAtlas, 1);
    a->regionAtlas = nullptr;
    a->primaryMap = nullptr;
    vrnObject_delete(o);
}

void Atlas_printNames(RegionStatus* status, const char* title, char** names, int count, FILE* stream) {
    if (failed(status)) {
        fprintf(stream, "%s : Unable to retrieve names\n", title);
    } else {
        fprintf(stream, "%s = %d\n", title, count);
        for (int i = 0; i < count; ++i) fprintf(stream, "  \"%s\"\n", names[i]);
    }
    for (int i = 0; i < count && names; ++i) free(names[i]);
    free(names);
}

void Atlas_printMap(Atlas* a, FILE* stream) {
    if (!a || !stream) return;
    fputs(kDashes, stream);
    if (a->regionAtlas) RegionAtlas_write(a->regionAtlas, stream);
    if (a->primaryMap) {
        fputs("\nPrimary map:\n------------\n", stream);
        typedef RegionStatus* (*Lister)(RegionMap*, int, ...);
        const struct {
            Lister list;
            const char* title;
        } lists[] = {{RegionMap_getExplicitPrimitives, "Explicit primitives "},
                     {RegionMap_getImplicitPrimitives, "Implicit primitives "},
                     {RegionMap_getComposites, "Composite names     "}};
        for (const auto& l : lists) {
            char** names = nullptr;
            unsigned n = 0;
            RegionStatus* s = l.list(a->primaryMap, 2, &names, &n);
            Atlas_printNames(s, l.title, names, failed(s) ? 0 : static_cast<int>(n), stream);
        }
    }
    fputs(kDashes, stream);
}

}  // extern "C"

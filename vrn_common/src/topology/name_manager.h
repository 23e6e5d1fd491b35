/* The name manager of a topology: hands out the unique names and ids of
 * assemblies and regions, keeps one dictionary from every name in use to
 * its object (or to the composite marker), counts what it has named per
 * dimension, keeps the naming strategy and the default base names, and owns
 * the model's atlas bridge. It writes only what changed: bit 1 of dirty for
 * the names, bit 2 for the strategy.
 *
 * Name texts belong to the dictionary; assemblies and regions point at
 * them. */
#ifndef VRN_TOPOLOGY_NAME_MANAGER_H
#define VRN_TOPOLOGY_NAME_MANAGER_H

#include "database/object.h"
#include "support/dictionary.h"
#include "utilities/bit_field.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Atlas;
struct Assembly;
struct Region;

enum { NAMES_CHANGED_BIT = 1, STRATEGY_CHANGED_BIT = 2 };

typedef struct NameManager {
    vrnObject header;
    Dictionary* names;
    struct Atlas* atlas;
    int compositeCount;
    int noOfCreatedAssemblies;
    int noOfCreatedRegions[4];
    char* defaultAssemblyName;
    char* defaultRegionName;
    int strategy[3]; /* defaultForm 0-2, nameSource 0-4, compositeStrategy 0-2 */
    int reserveFirst;
    char* spacedRegionBase;
    BitField dirty;
    /* name lists, rebuilt on demand after the names change */
    int cacheValid;
    int cacheCount;
    char** cacheNames;
    vrnObject** cacheObjects;
} NameManager;

NameManager* NameManager_new(void);
void NameManager_setDefaults(NameManager* manager);
int NameManager_registerAssemblyName(NameManager* manager, struct Assembly* assembly);
int NameManager_registerRegionName(NameManager* manager, struct Region* region);
int NameManager_useRegionName(NameManager* manager, struct Region* region, const char* name);
/* Adds a composite region name (value: the composite marker); 0 when the
 * name is taken. */
int NameManager_addCompositeName(NameManager* manager, const char* name);
int NameManager_removeName(NameManager* manager, const char* name);
int NameManager_isNameUsed(NameManager* manager, const char* name);
/* The object named name, NULL when none; *composite tells the marker. */
vrnObject* NameManager_getObject(NameManager* manager, const char* name, int* composite);
/* Every name in use with its object (NULL for a composite name), in
 * dictionary order. The arrays belong to the manager and stay valid until
 * the names change. Returns the count. */
int NameManager_getNames(NameManager* manager, char*** names, vrnObject*** objects);
int NameManager_setDefaultAssemblyName(NameManager* manager, const char* name);
int NameManager_setRegionNameStrategy(NameManager* manager, const char* name, int defaultForm,
                                      int nameSource);
int NameManager_setCompositeNameStrategy(NameManager* manager, int value);
/* The encoded name; with keepLeading / keepTrailing a blank that the name
 * had there is put back. New string, NULL for NULL. */
char* NameManager_normaliseName(const char* name, int keepLeading, int keepTrailing);
/* The value that stands for a composite name in the dictionary. */
void* NameManager_compositeMarker(void);

int NameManager_size(void);
void NameManager_dump(vrnObject* object);
void NameManager_restore(vrnObject* object, int onlyIfChanged);
void NameManager_delete(vrnObject* object);

#ifdef __cplusplus
}
#endif

#endif

/* The topology of a meshing model: the topology object with its assemblies
 * and its regions sorted by dimension, assemblies (named groups of
 * regions), regions (0D-3D entities), and the shells, boundaries and
 * connections that join regions. Every class is a persistent object: its
 * setters write their field at once, its dump writes its collections, its
 * restore reads everything back.
 *
 * Links that go both ways (topology-assembly, topology-region,
 * assembly-region, shell-region, boundary-shell) can be set from either
 * end: each setter calls its counterpart, and a process-wide re-entry flag
 * per setter makes the call that comes back do nothing (it returns 1). */
#ifndef VRN_TOPOLOGY_TOPOLOGY_H
#define VRN_TOPOLOGY_TOPOLOGY_H

#include "database/object.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Set;
struct HashSet;
struct NameManager;
struct Region;
struct Shell;
struct Boundary;
struct Connection;

typedef struct Topology {
    vrnObject header;
    struct HashSet* assemblies;
    struct HashSet* regions[4]; /* by dimensionality 0D..3D */
    struct NameManager* nameManager;
} Topology;

typedef struct Assembly {
    vrnObject header;
    char* uniqueName;   /* owned by the name manager */
    Topology* topology;
    struct Set* regions;
    int id;
    char* baseName;     /* owned */
} Assembly;

typedef struct Region {
    vrnObject header;
    char* originalName; /* owned */
    char* baseName;     /* owned, or the originalName text itself */
    char* name;         /* owned by the name manager */
    int dimensionality; /* 0..3 */
    int id;
    int priority;
    Topology* topology;
    Assembly* assembly;
    struct Shell* shell;
    struct Boundary* boundary;
    struct Connection* connection;
    struct Set* gluings; /* of Connection; NULL when empty */
} Region;

typedef struct Boundary {
    vrnObject header;
    Region* boundedRegion;
    struct Set* shells;
} Boundary;

typedef struct Shell {
    vrnObject header;
    Boundary* boundary;
    struct Set* regions;
} Shell;

typedef struct Connection {
    vrnObject header;
    Region* sides[2];
    int type;
} Connection;

/* Topology */
Topology* Topology_new(void);
int Topology_addAssembly(Topology* topology, Assembly* assembly);
int Topology_removeAssembly(Topology* topology, Assembly* assembly);
/* name NULL (or taken): the name manager makes one. */
int Topology_addRegion(Topology* topology, Region* region, const char* name);
int Topology_removeRegion(Topology* topology, Region* region);
void Topology_delete(Topology* topology);

/* Assembly */
Assembly* Assembly_new(Topology* topology, const char* name);
void Assembly_setUniqueName(Assembly* assembly, char* name);
int Assembly_setID(Assembly* assembly, int id);
const char* Assembly_getName(const Assembly* assembly);
int Assembly_setTopology(Assembly* assembly, Topology* topology);
int Assembly_unsetTopology(Assembly* assembly);
int Assembly_addRegion(Assembly* assembly, Region* region);
int Assembly_removeRegion(Assembly* assembly, Region* region);
/* Takes every region reachable from the assembly's regions that belongs to
 * no assembly; returns the number added. */
int Assembly_close(Assembly* assembly);
int Assembly_closeAndTake(Assembly* assembly, struct Set* candidates);
/* 1 when the regions stay one assembly or split cleanly in two, else 0
 * with an error (10020 or 20006) recorded. */
int Assembly_split(Assembly* assembly, Region* regionA, Region* regionB);
void Assembly_delete(Assembly* assembly);

/* Region. Region_new and the setters of the names, dimensionality,
 * priority, boundary and connection write the keys that restore reads. */
Region* Region_new(int dimensionality, const char* originalName);
/* baseName NULL: none; the originalName text itself: the same text;
 * else a copy. Writes "originalName", "namingStrategy" and "baseName". */
int Region_setNames(Region* region, const char* originalName, const char* baseName);
int Region_setPriority(Region* region, int priority);
int Region_setAssembly(Region* region, Assembly* assembly);
int Region_unsetAssembly(Region* region);
int Region_setTopology(Region* region, Topology* topology, const char* name);
int Region_unsetTopology(Region* region);
int Region_unsetShell(Region* region);
int Region_setBoundary(Region* region, Boundary* boundary);
int Region_setID(Region* region, int id);
const char* Region_getName(const Region* region);
const char* Region_getDisplayName(const Region* region);
Region* Region_getGlueOpposite(const Region* region);
int Region_getGluedNeighbour(Region* region, Region*** array);
Region* Region_getShellBoundary(const Region* region);
int Region_getComponentRegions(Region* region, struct Set* set);
/* The two regions' own connection (one object shared by both). 0 when
 * either is already connected. */
Connection* Region_connect(Region* regionA, Region* regionB, int type);
/* A gluing between two regions, added to both gluing sets. */
Connection* Region_glue(Region* regionA, Region* regionB, int type);
int Region_unglue(Region* regionA, Region* regionB);
void Region_breakLinks(Region* region, int all);
void Region_delete(Region* region);

/* Connection */
Connection* Connection_new(Region* sideA, Region* sideB, int type);
Region* Connection_getOtherSide(const Connection* connection, const Region* region);

/* Shell */
Shell* Shell_new(Boundary* boundary);
int Shell_addRegion(Shell* shell, Region* region);
int Shell_removeRegion(Shell* shell, Region* region);
int Shell_getRegions(Shell* shell, Region*** array);
int Shell_unsetBoundary(Shell* shell);
Region* Shell_getBoundary(const Shell* shell);
void Shell_destroy(Shell* shell, int deleteRegions);

/* Boundary: made for the region it bounds. */
Boundary* Boundary_new(Region* boundedRegion);
int Boundary_addShell(Boundary* boundary, Shell* shell);
int Boundary_removeShell(Boundary* boundary, Shell* shell);
int Boundary_countRegions(const Boundary* boundary);
int Boundary_getBoundingRegions(const Boundary* boundary, Region*** array);
void Boundary_destroy(Boundary* boundary, int destroyShells, int deleteRegions);
/* Releases the set held in the record's second field, then the object: the
 * delete routine of Boundary, Shell and FaceMesh. */
void Boundary_free(vrnObject* object);

/* Registry routines */
int Topology_size(void);
void Topology_dump(vrnObject* object);
void Topology_restore(vrnObject* object, int onlyIfChanged);
void Topology_destroy(vrnObject* object);
int Assembly_size(void);
void Assembly_dump(vrnObject* object);
void Assembly_restore(vrnObject* object, int onlyIfChanged);
void Assembly_destroy(vrnObject* object);
int Region_size(void);
void Region_dump(vrnObject* object);
void Region_restore(vrnObject* object, int onlyIfChanged);
void Region_destroy(vrnObject* object);
int Boundary_size(void);
void Boundary_dump(vrnObject* object);
void Boundary_restore(vrnObject* object, int onlyIfChanged);
int Shell_size(void);
void Shell_dump(vrnObject* object);
void Shell_restore(vrnObject* object, int onlyIfChanged);
int Connection_size(void);
void Connection_restore(vrnObject* object, int onlyIfChanged);
void Connection_destroy(vrnObject* object);

#ifdef __cplusplus
}
#endif

#endif

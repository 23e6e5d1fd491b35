/* Meshes, representations and the geometry records below them. The mesh
 * links element meshes, face meshes and interface maps; the representation
 * links regions to their visuals. Bulk arrays live in shared, use-counted
 * blobs. Most classes write their fields when they are made (their dump
 * is empty); restores release derived data whose inputs changed, to be
 * computed again by its user.
 *
 * Link maps are stored as 2n references for n links, each link as
 * (second, first), and read back into new maps with the value 1. */
#ifndef VRN_TOPOLOGY_MESH_H
#define VRN_TOPOLOGY_MESH_H

#include <stddef.h>

#include "database/object.h"
#include "utilities/bit_field.h"

#ifdef __cplusplus
extern "C" {
#endif

struct LinkMap;
struct Set;
struct Topology;
struct Region;
struct Connection;
struct vrnAffineTransform3D;
struct ElementMesh;
struct FaceMesh;
struct Vertices;

enum { MESH_ELEMENT_MESHES_BIT = 1, MESH_FACE_MESHES_BIT = 2, MESH_INTERFACE_MAPS_BIT = 3 };

/* Kinds of blob data. */
enum { BLOB_INTS = 0, BLOB_FLOATS = 1, BLOB_DOUBLES = 2, BLOB_CHARS = 3, BLOB_REFERENCES = 4 };

typedef struct Mesh {
    vrnObject header;
    struct LinkMap* elementMeshes;
    struct LinkMap* faceMeshes;
    struct LinkMap* interfaceMaps;
    struct Topology* topology;
    BitField dirty;
} Mesh;

typedef struct Representation {
    vrnObject header;
    struct LinkMap* links; /* region -> visual */
    struct Topology* topology;
} Representation;

typedef struct vrnBlob {
    vrnObject header;
    void* data;
    size_t byteSize;
    int useCount;
    int kind;
} vrnBlob;

typedef struct InterfaceMap {
    vrnObject header;
    struct Connection* connection;
    struct FaceMesh* faceMeshes[2];
    int noOfMatchedVertices;
    int noOfMatchedFaces;
    int* vertexPermutation;
    int permutationCount;
    /* derived */
    int* inversePermutation; /* may be the permutation itself */
    int* matchedFaces;
    int* faceOffsets;
    int derivedVertices;
    int derivedFaces;
} InterfaceMap;

typedef struct Vertices {
    vrnObject header;
    struct vrnAffineTransform3D* transform;
    int noOfVertices;
    vrnBlob* xyz;
    char* units;
    int precision;
    int dimensionality;
    int noOfSplitVertices;
    int* splitVertices;
    /* derived */
    double extent;
    int placed;
} Vertices;

typedef struct Visual {
    vrnObject header;
    Vertices* vertices;
    int noOfTriangles;
    int noOfQuadrilaterals;
    vrnBlob* faceVertices;
    struct Region* region;
    /* derived */
    int* triangles;
    int* quadrilaterals;
    BitField derived; /* bit 0: the derived arrays are valid */
} Visual;

typedef struct FaceMesh {
    vrnObject header;
    struct Region* region;
    struct Set* faceSets;
    struct ElementMesh* elementMesh;
    /* derived */
    int noOfFaces;
    int noOfVertices;
    BitField derived;
} FaceMesh;

typedef struct ElementMesh {
    vrnObject header;
    struct Set* elementSets;
    Vertices* vertices;
    struct Region* region;
    int noOfElements; /* derived */
} ElementMesh;

typedef struct ElementSet {
    vrnObject header;
    ElementMesh* elementMesh;
    int type;
    int nel;
    vrnBlob* kvxel;
} ElementSet;

typedef struct FaceSet {
    vrnObject header;
    FaceMesh* faceMesh;
    ElementSet* elementSet;
    int nfc;
    vrnBlob* kelfc;
    vrnBlob* krffc;
    int derivedFirst, derivedLast;
} FaceSet;

/* One stored array of a projection. */
typedef struct ProjectionArray {
    void* values; /* ints or doubles */
    int count;
} ProjectionArray;

enum {
    PROJECTION_KCBCF, PROJECTION_KCBCE, PROJECTION_KCBCX, PROJECTION_KCVCB, PROJECTION_KCSCF,
    PROJECTION_KCCCE, PROJECTION_KCPCX, PROJECTION_KCEEN, PROJECTION_KENEN, PROJECTION_KVXEN,
    PROJECTION_KUVEN, PROJECTION_KCFFN, PROJECTION_KVXFN, PROJECTION_KUVFN, PROJECTION_CRDVX,
    PROJECTION_ARRAYS
};

typedef struct Projection {
    vrnObject header;
    int NCB, NCF, NCE, NCX, NEN, NFN;
    ProjectionArray arrays[PROJECTION_ARRAYS];
    int NVX;
    char* units;
    char* database;
} Projection;

Mesh* Mesh_new(struct Topology* topology);
void Mesh_delete(Mesh* mesh);
/* Links first to second in one of the three maps (bit 1 element meshes,
 * 2 face meshes, 3 interface maps) and marks that map for the dump. */
int Mesh_addLink(Mesh* mesh, int which, vrnObject* first, vrnObject* second);

Representation* Representation_new(struct Topology* topology);
void Representation_delete(Representation* representation);
int Representation_addVisual(Representation* representation, struct Region* region,
                             struct Visual* visual);

/* A blob of count values of kind (ints, doubles or references; the stored
 * format has no writer for floats or characters), used once. */
vrnBlob* vrnBlob_new(int kind, const void* values, int count);
/* One more user; writes "useCount". */
int vrnBlob_addUse(vrnBlob* blob);
void vrnBlob_delete(vrnBlob* blob);

InterfaceMap* InterfaceMap_new(struct Connection* connection, FaceMesh* first, FaceMesh* second);
int InterfaceMap_setMatches(InterfaceMap* map, int noOfMatchedVertices, int noOfMatchedFaces,
                            const int* permutation, int count);

Vertices* Vertices_new(int noOfVertices, vrnBlob* xyz, const char* units, int precision,
                       int dimensionality);
/* Copies the transform (units checked) and writes it under "transform". */
int Vertices_setTransform(Vertices* vertices, const double A[9], const double v[3],
                          const char* units);
int Vertices_setSplitVertices(Vertices* vertices, const int* values, int count);

Visual* Visual_new(struct Region* region, Vertices* vertices, int noOfTriangles,
                   int noOfQuadrilaterals, vrnBlob* faceVertices);
FaceMesh* FaceMesh_new(struct Region* region, ElementMesh* elementMesh);
int FaceMesh_addFaceSet(FaceMesh* faceMesh, FaceSet* faceSet);
ElementMesh* ElementMesh_new(struct Region* region, Vertices* vertices);
int ElementMesh_addElementSet(ElementMesh* elementMesh, ElementSet* elementSet);
ElementSet* ElementSet_new(ElementMesh* elementMesh, int type, int nel, vrnBlob* kvxel);
FaceSet* FaceSet_new(FaceMesh* faceMesh, ElementSet* elementSet, int nfc, vrnBlob* kelfc,
                     vrnBlob* krffc);

Projection* Projection_new(void);
/* The six counts NCB, NCF, NCE, NCX, NEN, NFN and NVX. */
int Projection_setCounts(Projection* projection, const int counts[6], int NVX);
/* One array (PROJECTION_...); the KUV.. arrays and CRDVX hold doubles,
 * the others ints. */
int Projection_setArray(Projection* projection, int which, const void* values, int count);
int Projection_setStrings(Projection* projection, const char* units, const char* database);

/* Registry routines */
int Mesh_size(void);
void Mesh_dump(vrnObject* o);
void Mesh_restore(vrnObject* o, int onlyIfChanged);
void Mesh_destroy(vrnObject* o);
int Representation_size(void);
void Representation_dump(vrnObject* o);
void Representation_restore(vrnObject* o, int onlyIfChanged);
void Representation_destroy(vrnObject* o);
int vrnBlob_size(void);
void vrnBlob_restore(vrnObject* o, int onlyIfChanged);
void vrnBlob_destroy(vrnObject* o);
int InterfaceMap_size(void);
void InterfaceMap_restore(vrnObject* o, int onlyIfChanged);
void InterfaceMap_destroy(vrnObject* o);
int Vertices_size(void);
void Vertices_restore(vrnObject* o, int onlyIfChanged);
void Vertices_destroy(vrnObject* o);
int Visual_size(void);
void Visual_restore(vrnObject* o, int onlyIfChanged);
void Visual_destroy(vrnObject* o);
int FaceMesh_size(void);
void FaceMesh_dump(vrnObject* o);
void FaceMesh_restore(vrnObject* o, int onlyIfChanged);
int ElementMesh_size(void);
void ElementMesh_dump(vrnObject* o);
void ElementMesh_restore(vrnObject* o, int onlyIfChanged);
void ElementMesh_destroy(vrnObject* o);
int ElementSet_size(void);
void ElementSet_restore(vrnObject* o, int onlyIfChanged);
void ElementSet_destroy(vrnObject* o);
int FaceSet_size(void);
void FaceSet_restore(vrnObject* o, int onlyIfChanged);
void FaceSet_destroy(vrnObject* o);
int Projection_size(void);
void Projection_restore(vrnObject* o, int onlyIfChanged);
void Projection_destroy(vrnObject* o);

#ifdef __cplusplus
}
#endif

#endif

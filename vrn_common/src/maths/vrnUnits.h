/* Unit checks: whether a name is a length or an angle unit that the model
 * database accepts for geometry.
 *
 * The answer normally comes from the units library (u_inline_init and
 * convert). When the environment variable VRN_USE_LOCAL_UNITS exists (any
 * value, empty included) a built-in table of 63 units is used instead. The
 * choice is made once per process, at the first check: local, library (the
 * library initialised with status 0) or unusable (it did not, and then no
 * name is known). */
#ifndef VRN_MATHS_VRNUNITS_H
#define VRN_MATHS_VRNUNITS_H

#ifdef __cplusplus
extern "C" {
#endif

enum { VRN_UNITS_LENGTH = 0, VRN_UNITS_ANGLE = 1 };

/* Number of rows of the local table. */
#define VRN_UNITS_LOCAL_ROWS 63

/* One row of the local table. Factors are metres per unit for lengths and
 * radians per unit for angles; units without a symbol carry the symbol "-".
 * The two lengths are filled in by vrnUnits_initialise. */
typedef struct vrnUnitsLocalRow {
    const char* name;
    const char* symbol;
    double factor;
    int nameLength;
    int symbolLength;
    int kind; /* VRN_UNITS_LENGTH or VRN_UNITS_ANGLE */
} vrnUnitsLocalRow;

/* Fills the length columns and decides the mode, once per process: local
 * when VRN_USE_LOCAL_UNITS exists; else u_inline_init is called once and
 * the mode is library for status 0, unusable otherwise. Later calls do
 * nothing. The checks below call it themselves. */
void vrnUnits_initialise(void);

/* 1 and *row (0..62) when a row's name equals name exactly (case matters);
 * else 0 and *row untouched. NULL name gives 0; row may be NULL. */
int vrnUnits_findLocal(const char* name, int* row);

/* The first row whose symbol equals name, else vrnUnits_findLocal. So "-"
 * finds the first unit without a symbol (cable). Answers as findLocal. */
int vrnUnits_findLocalAny(const char* name, int* row);

/* The local table's row 0..62, or NULL for another index. */
const vrnUnitsLocalRow* vrnUnits_getLocalRow(int row);

/* 0 when the mode is unusable, a name is NULL, or the units library cannot
 * convert name to base; 2 when it can with a factor of exactly 1.0; 1 when
 * it can with another factor. Always asks the library, whatever the mode. */
int vrnUnits_isConvertible(const char* name, const char* base);

/* 1 when name is a known length or angle unit, else 0. Local mode: a row of
 * the local table has it as symbol or name. Otherwise: it converts to "m"
 * or, failing that, to "rad". */
int vrnUnits_isKnownUnit(const char* name);

/* For tests: forgets the mode, so that the next check reads
 * VRN_USE_LOCAL_UNITS and initialises the library again. */
void vrnUnits_resetMode(void);

#ifdef __cplusplus
}
#endif

#endif

/* Affine transforms: a 3x3 matrix A (row by row) and a translation v, with
 * the length units in which v is given. A point p maps to A p + v. */
#ifndef VRN_MATHS_VRNAFFINETRANSFORM3D_H
#define VRN_MATHS_VRNAFFINETRANSFORM3D_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vrnAffineTransform3D {
    double A[9];  /* row by row */
    double v[3];
    char* units;  /* owned; never NULL */
} vrnAffineTransform3D;

/* The identity: A = identity, v = 0, units "m". */
vrnAffineTransform3D* vrnAffineTransform3D_new(void);

/* Frees the units and the record; NULL does nothing. */
void vrnAffineTransform3D_delete(vrnAffineTransform3D* transform);

/* When units is a known unit (vrnUnits_isKnownUnit, which accepts angle
 * units too): units becomes a copy of the name, A and v are copied, 1.
 * Otherwise error 10013 (VRN_U_INVALID_LENGTH_UNITS) is published and 0 is
 * returned with the transform untouched; a NULL transform, A or v gives
 * error 10020 (VRN_U_INVALID_INPUT) and 0. The arguments may be the
 * transform's own fields. */
int vrnAffineTransform3D_set(vrnAffineTransform3D* transform, const double A[9],
                             const double v[3], const char* units);

#ifdef __cplusplus
}
#endif

#endif

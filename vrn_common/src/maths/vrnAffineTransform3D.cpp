// Affine transforms with checked length units.
#include "maths/vrnAffineTransform3D.h"

#include <cstring>

#include "errors/error.h"
#include "maths/vrnUnits.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

// What its errors give as their source: the file's place in the tree
// without the extension, as every model-database error names its source.
const char* const kSource = "vrn_common/src/maths/vrnAffineTransform3D";

}  // namespace

extern "C" {

vrnAffineTransform3D* vrnAffineTransform3D_new(void) {
    auto* t = static_cast<vrnAffineTransform3D*>(
        vrnMalloc(sizeof(vrnAffineTransform3D), "vrnAffineTransform3D_new"));
    static const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::memcpy(t->A, identity, sizeof identity);
    t->v[0] = t->v[1] = t->v[2] = 0;
    t->units = vrnCString_clone("m");
    return t;
}

void vrnAffineTransform3D_delete(vrnAffineTransform3D* transform) {
    if (!transform) return;
    vrnCString_free(transform->units);
    vrnFree(transform, "vrnAffineTransform3D_delete");
}

int vrnAffineTransform3D_set(vrnAffineTransform3D* transform, const double A[9],
                             const double v[3], const char* units) {
    if (!transform || !A || !v) {
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "vrnAffineTransform3D_set", kSource, __LINE__);
        vrnError_addMessage(e, "No %s was given.\n",
                            !transform ? "transform" : !A ? "matrix" : "translation vector");
        vrnError_publish(e);
        return 0;
    }
    if (!vrnUnits_isKnownUnit(units)) {
        vrnError* e = vrnError_new(VRN_U_INVALID_LENGTH_UNITS, "vrnAffineTransform3D_set", kSource,
                                   __LINE__);
        vrnError_addMessage(e, "Supplied units for length were: %s.\n",
                            units ? units : "(null)");
        vrnError_publish(e);
        return 0;
    }
    // The copy is taken before the old name goes, and memmove allows the
    // transform's own arrays as arguments.
    char* copy = vrnCString_clone(units);
    vrnCString_free(transform->units);
    transform->units = copy;
    std::memmove(transform->A, A, sizeof transform->A);
    std::memmove(transform->v, v, sizeof transform->v);
    return 1;
}

}  // extern "C"

// Unit checks against the local table or the units library.
#include "maths/vrnUnits.h"

#include <cstring>

#include "KWXUnits.h"
#include "support/system.h"

namespace {

enum class Mode { Undecided, Local, Library, Unusable };

Mode mode = Mode::Undecided;

// Every decimal multiple of the metre, "metre" before "meter".
#define VRN_METRIC(prefix, symbol, factor)                        \
    {prefix "metre", symbol, factor, 0, 0, VRN_UNITS_LENGTH}, \
    {prefix "meter", symbol, factor, 0, 0, VRN_UNITS_LENGTH}
#define VRN_LENGTH(name, symbol, factor) {name, symbol, factor, 0, 0, VRN_UNITS_LENGTH}
#define VRN_ANGLE(name, symbol, factor) {name, symbol, factor, 0, 0, VRN_UNITS_ANGLE}

vrnUnitsLocalRow table[VRN_UNITS_LOCAL_ROWS] = {
    VRN_METRIC("exa", "Em", 1e18),
    VRN_METRIC("peta", "Pm", 1e15),
    VRN_METRIC("tera", "Tm", 1e12),
    VRN_METRIC("giga", "Gm", 1e9),
    VRN_METRIC("mega", "Mm", 1e6),
    VRN_METRIC("kilo", "km", 1e3),
    VRN_METRIC("hecto", "hm", 100),
    VRN_METRIC("deca", "dam", 10),
    VRN_METRIC("deka", "dam", 10),
    VRN_METRIC("deci", "dm", 0.1),
    VRN_METRIC("", "m", 1),
    VRN_METRIC("centi", "cm", 0.01),
    VRN_METRIC("milli", "mm", 0.001),
    VRN_METRIC("micro", "um", 1e-6),
    VRN_METRIC("nano", "nm", 1e-9),
    VRN_METRIC("pico", "pm", 1e-12),
    VRN_METRIC("femto", "fm", 1e-15),
    VRN_METRIC("atto", "am", 1e-18),
    VRN_LENGTH("angstrom", "A", 1e-10),
    VRN_LENGTH("astronomicalunit", "AU", 149597870690.0),
    VRN_LENGTH("cable", "-", 219.456),
    VRN_LENGTH("chain", "ch", 20.1168),
    VRN_LENGTH("cubit", "-", 0.4572),
    VRN_LENGTH("fathom", "-", 1.8288),
    VRN_LENGTH("fermi", "-", 1e-15),
    VRN_LENGTH("foot", "ft", 0.3048),
    VRN_LENGTH("furlong", "-", 201.168),
    VRN_LENGTH("hand", "-", 0.1016),
    VRN_LENGTH("inch", "in", 0.0254),
    VRN_LENGTH("league", "-", 4828.03),
    VRN_LENGTH("lightyear", "lyr", 9.4605e15),
    VRN_LENGTH("link", "-", 0.201168),
    VRN_LENGTH("micron", "-", 1e-6),
    VRN_LENGTH("mile", "mi", 1609.34),
    VRN_LENGTH("nauticalmile", "-", 1853.18),
    VRN_LENGTH("parsec", "pc", 3.085678e16),
    VRN_LENGTH("perch", "-", 5.0292),
    VRN_LENGTH("pole", "-", 5.0292),
    VRN_LENGTH("rod", "rd", 5.0292),
    VRN_LENGTH("thou", "-", 2.54e-5),
    VRN_LENGTH("yard", "yd", 0.9144),
    VRN_ANGLE("radian", "rad", 1),
    VRN_ANGLE("degree", "deg", 0.0174533),
    VRN_ANGLE("grade", "grad", 0.015708),
    VRN_ANGLE("revolution", "rev", 6.28318),
};
#undef VRN_METRIC
#undef VRN_LENGTH
#undef VRN_ANGLE

// Row whose name (or symbol) equals text, comparing lengths first.
int findRow(const char* text, bool bySymbol) {
    const int length = static_cast<int>(std::strlen(text));
    for (int i = 0; i < VRN_UNITS_LOCAL_ROWS; ++i) {
        const vrnUnitsLocalRow& r = table[i];
        const char* key = bySymbol ? r.symbol : r.name;
        const int keyLength = bySymbol ? r.symbolLength : r.nameLength;
        if (keyLength == length && std::memcmp(key, text, static_cast<size_t>(length)) == 0)
            return i;
    }
    return -1;
}

int answer(int found, int* row) {
    if (found < 0) return 0;
    if (row) *row = found;
    return 1;
}

}  // namespace

extern "C" {

void vrnUnits_initialise(void) {
    if (mode != Mode::Undecided) return;
    for (vrnUnitsLocalRow& r : table) {
        r.nameLength = static_cast<int>(std::strlen(r.name));
        r.symbolLength = static_cast<int>(std::strlen(r.symbol));
    }
    if (vrnIsEnvironmentVariableSet("VRN_USE_LOCAL_UNITS")) {
        mode = Mode::Local;
        return;
    }
    int status = -1;
    u_inline_init(&status);
    mode = status == 0 ? Mode::Library : Mode::Unusable;
}

int vrnUnits_findLocal(const char* name, int* row) {
    if (!name) return 0;
    vrnUnits_initialise();
    return answer(findRow(name, false), row);
}

int vrnUnits_findLocalAny(const char* name, int* row) {
    if (!name) return 0;
    vrnUnits_initialise();
    const int bySymbol = findRow(name, true);
    if (bySymbol >= 0) return answer(bySymbol, row);
    return vrnUnits_findLocal(name, row);
}

const vrnUnitsLocalRow* vrnUnits_getLocalRow(int row) {
    if (row < 0 || row >= VRN_UNITS_LOCAL_ROWS) return nullptr;
    vrnUnits_initialise();
    return &table[row];
}

int vrnUnits_isConvertible(const char* name, const char* base) {
    vrnUnits_initialise();
    if (mode == Mode::Unusable || !name || !base) return 0;
    double factor = 0, second = 0;
    int status = -1;
    convert(name, base, &factor, &second, &status);
    if (status != 0) return 0;
    return factor == 1.0 ? 2 : 1;
}

int vrnUnits_isKnownUnit(const char* name) {
    if (!name) return 0;
    vrnUnits_initialise();
    if (mode == Mode::Local) return vrnUnits_findLocalAny(name, nullptr);
    if (vrnUnits_isConvertible(name, "m")) return 1;
    return vrnUnits_isConvertible(name, "rad") ? 1 : 0;
}

void vrnUnits_resetMode(void) { mode = Mode::Undecided; }

}  // extern "C"

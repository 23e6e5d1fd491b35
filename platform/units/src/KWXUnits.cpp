// Units library stand-in: a fixed table of length and angle units.
#include "KWXUnits.h"

#include <cstring>

namespace {

enum Kind { kLength, kAngle };

struct Unit {
    const char* name;
    const char* symbol;  // nullptr: the unit has no symbol
    double factor;       // metres or radians per unit
    Kind kind;
};

// Every decimal multiple of the metre, both spellings.
#define VRN_METRIC(prefix, symbol, factor) \
    {prefix "metre", symbol, factor, kLength}, {prefix "meter", symbol, factor, kLength}

const Unit kUnits[] = {
    VRN_METRIC("exa", "Em", 1e18),   VRN_METRIC("peta", "Pm", 1e15),
    VRN_METRIC("tera", "Tm", 1e12),  VRN_METRIC("giga", "Gm", 1e9),
    VRN_METRIC("mega", "Mm", 1e6),   VRN_METRIC("kilo", "km", 1e3),
    VRN_METRIC("hecto", "hm", 100),  VRN_METRIC("deca", "dam", 10),
    VRN_METRIC("deka", "dam", 10),   VRN_METRIC("deci", "dm", 0.1),
    VRN_METRIC("", "m", 1),          VRN_METRIC("centi", "cm", 0.01),
    VRN_METRIC("milli", "mm", 0.001), VRN_METRIC("micro", "um", 1e-6),
    VRN_METRIC("nano", "nm", 1e-9),  VRN_METRIC("pico", "pm", 1e-12),
    VRN_METRIC("femto", "fm", 1e-15), VRN_METRIC("atto", "am", 1e-18),
    {"angstrom", "A", 1e-10, kLength},
    {"astronomicalunit", "AU", 149597870690.0, kLength},
    {"cable", nullptr, 219.456, kLength},
    {"chain", "ch", 20.1168, kLength},
    {"cubit", nullptr, 0.4572, kLength},
    {"fathom", nullptr, 1.8288, kLength},
    {"fermi", nullptr, 1e-15, kLength},
    {"foot", "ft", 0.3048, kLength},
    {"furlong", nullptr, 201.168, kLength},
    {"hand", nullptr, 0.1016, kLength},
    {"inch", "in", 0.0254, kLength},
    {"league", nullptr, 4828.03, kLength},
    {"lightyear", "lyr", 9.4605e15, kLength},
    {"link", nullptr, 0.201168, kLength},
    {"micron", nullptr, 1e-6, kLength},
    {"mile", "mi", 1609.34, kLength},
    {"nauticalmile", nullptr, 1853.18, kLength},
    {"parsec", "pc", 3.085678e16, kLength},
    {"perch", nullptr, 5.0292, kLength},
    {"pole", nullptr, 5.0292, kLength},
    {"rod", "rd", 5.0292, kLength},
    {"thou", nullptr, 2.54e-5, kLength},
    {"yard", "yd", 0.9144, kLength},
    {"radian", "rad", 1, kAngle},
    {"degree", "deg", 0.0174533, kAngle},
    {"grade", "grad", 0.015708, kAngle},
    {"revolution", "rev", 6.28318, kAngle},
};
#undef VRN_METRIC

bool failInitialisation = false;
bool initialisationFailed = false;

const Unit* find(const char* text) {
    for (const Unit& u : kUnits) {
        if (std::strcmp(u.name, text) == 0) return &u;
        if (u.symbol && std::strcmp(u.symbol, text) == 0) return &u;
    }
    return nullptr;
}

}  // namespace

extern "C" void u_inline_init(int* status) {
    initialisationFailed = failInitialisation;
    if (status) *status = initialisationFailed ? 1 : 0;
}

extern "C" void convert(const char* from, const char* to, double* factor, double* second,
                        int* status) {
    double f = 0;
    int s = 1;
    const Unit* a = (from && to && !initialisationFailed) ? find(from) : nullptr;
    const Unit* b = a ? find(to) : nullptr;
    if (a && b && a->kind == b->kind) {
        f = a == b ? 1.0 : a->factor / b->factor;
        s = 0;
    }
    if (factor) *factor = f;
    if (second) *second = 0;
    if (status) *status = s;
}

extern "C" void u_standin_failInitialisation(int fail) {
    failInitialisation = fail != 0;
    if (!failInitialisation) initialisationFailed = false;
}

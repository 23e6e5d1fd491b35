#include "errors/error_display_formats.h"

#include <string>

#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

const char kRule80[] =
    "--------------------------------------------------------------------------------\n";

const char* orUnknown(const char* s) { return s ? s : "UNKNOWN"; }

// A string that the system helpers hand out, freed when it goes.
struct Owned {
    char* s;
    explicit Owned(char* text) : s(text) {}
    ~Owned() { vrnCString_free(s); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

// The pairs of one dimension, freed when it goes.
struct Pairs {
    int* ids = nullptr;
    int n = 0;
    Pairs(vrnError* e, int d) { n = vrnError_getCadPairs(e, d, &ids); }
    ~Pairs() { vrnFree(ids, "ErrorDisplay_displayError"); }
    Pairs(const Pairs&) = delete;
    Pairs& operator=(const Pairs&) = delete;
};

const char* elementName(int type) {
    static const char* const names[] = {"VERTEX",      "EDGE",    "TRIANGLE", "QUADRILATERAL",
                                        "TETRAHEDRON", "PYRAMID", "PRISM",    "HEXAHEDRON"};
    return type >= 0 && type <= 7 ? names[type] : "UNKNOWN";
}

int nodesOf(int type) { return type >= 0 && type <= 7 ? ElementTopology_getNoOfNodes(type) : 0; }

// Length of the UTF-8 sequence at s that encodes a character XML allows, 0
// when the bytes there are not one (not UTF-8, or a control character,
// U+FFFE or U+FFFF).
size_t xmlCharLength(const unsigned char* s) {
    const unsigned char c = s[0];
    if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
    auto cont = [&](int i) { return (s[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        if (s[1] < lo || s[1] > hi || !cont(2)) return 0;
        if (c == 0xEF && s[1] == 0xBF && (s[2] == 0xBE || s[2] == 0xBF)) return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return s[1] >= lo && s[1] <= hi && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

// The text as it may stand in the XML element: an error's texts come from
// anywhere (a reader's output, a file name), and the element stays
// well-formed whatever they hold. Markup characters become entities, or in
// a CDATA section a "]]>" is split across two sections; each byte that is
// not part of a character XML allows becomes U+FFFD. Other text is
// unchanged.
std::string xmlText(const char* text, bool cdata) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*s) {
        const size_t n = xmlCharLength(s);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++s;
            continue;
        }
        if (cdata && s[0] == ']' && s[1] == ']' && s[2] == '>') {
            out += "]]]]><![CDATA[>";
            s += 3;
            continue;
        }
        if (!cdata && s[0] == '&') out += "&amp;";
        else if (!cdata && s[0] == '<') out += "&lt;";
        else if (!cdata && s[0] == '>') out += "&gt;";
        else out.append(reinterpret_cast<const char*>(s), n);
        s += n;
    }
    return out;
}

}  // namespace

extern "C" {

void ErrorDisplay_displayBuildBlock(ErrorDisplay* d, vrnError* e) {
    const bool marked = d->kind == VRN_DISPLAY_BUILD_MARKED;
    const int cls = vrnError_getClass(e);
    const bool warning = cls <= VRN_CLASS_WARNING;
    if (marked) ErrorDisplay_display(d, "%s", warning ? "WARNG_ERROR_START\n" : "FATAL_ERROR_START\n");
    else ErrorDisplay_display(d, "%s", "\n");

    switch (cls) {
    case VRN_CLASS_OK: ErrorDisplay_display(d, "%s", "  Information:\n  ------------\n"); break;
    case VRN_CLASS_WARNING: ErrorDisplay_display(d, "%s", "  Warning:\n  --------\n"); break;
    case VRN_CLASS_USER_ERROR: ErrorDisplay_display(d, "%s", "  Error:\n  ------\n"); break;
    default:
        ErrorDisplay_display(
            d, "%s",
            "  Internal Error:\n  ---------------\n"
            "  Please contact customer support with the following information:\n\n"
            "  (Details on how to contact customer support can be found in the User\n"
            "  Documentation on the Master Contents page)\n\n"
            "  Information for customer support:\n  ---------------------------------\n");
        break;
    }
    ErrorDisplay_display(d, "%s", "\n");
    ErrorDisplay_display(d, "  Program:     %s\n", orUnknown(e->program));
    ErrorDisplay_display(d, "  Subroutine:  %s\n", orUnknown(e->function));
    ErrorDisplay_display(d, "%s", "\n");
    ErrorDisplay_display(d, "  Problem: %s\n\n", vrnError_getDescription(e));
    if (e->context) ErrorDisplay_display(d, "  Context:\n%s\n\n", e->context);
    if (const char* m = vrnError_getMessage(e)) ErrorDisplay_display(d, "%s\n", m);

    static const char* const lines[3] = {"  CAD domain ID: %d CAD vrtx  ID: %d\n",
                                         "  CAD domain ID: %d CAD edge  ID: %d\n",
                                         "  CAD domain ID: %d CAD face  ID: %d\n"};
    static const char* const markers[3] = {"CAD_VRTX_DATA\n", "CAD_EDGE_DATA\n", "CAD_FACE_DATA\n"};
    for (int dim = 0; dim < 3; ++dim) {
        Pairs pairs(e, dim);
        for (int i = 0; i < pairs.n; ++i) {
            if (marked) ErrorDisplay_display(d, "%s", markers[dim]);
            ErrorDisplay_display(d, lines[dim], pairs.ids[2 * i], pairs.ids[2 * i + 1]);
            if (marked) ErrorDisplay_display(d, "%s", markers[dim]);
        }
    }
    if (marked) ErrorDisplay_display(d, "%s", warning ? "WARNG_ERROR_END\n" : "FATAL_ERROR_END\n");
    else ErrorDisplay_display(d, "%s", "\n");
}

void ErrorDisplay_displayRawBlock(ErrorDisplay* d, vrnError* e) {
    ErrorDisplay_display(d, "%s", "\n");
    const int cls = vrnError_getClass(e);
    const char* heading = cls == VRN_CLASS_OK           ? "Information"
                          : cls == VRN_CLASS_WARNING    ? "Warning"
                          : cls == VRN_CLASS_USER_ERROR ? "Error"
                                                        : "Internal Error";
    ErrorDisplay_display(d, "%s", kRule80);
    ErrorDisplay_display(d, "%s: %s\n", heading, vrnError_getDescription(e));
    ErrorDisplay_display(d, "%s", kRule80);
    ErrorDisplay_display(d, "Program:     %s\n", orUnknown(e->program));
    ErrorDisplay_display(d, "Subroutine:  %s\n", orUnknown(e->function));
    if (e->date && e->time) ErrorDisplay_display(d, "Time:        %s %s\n", e->date, e->time);
    {
        Owned release(vrnLibrary_getReleaseNumber());
        Owned build(vrnLibrary_getBuild());
        if (release.s && build.s) ErrorDisplay_display(d, "Version:     %s [%s]\n", release.s, build.s);
    }
    {
        Owned host(vrnGetHostname());
        if (host.s) ErrorDisplay_display(d, "Host:        %s\n", host.s);
        Owned dir(vrnGetWorkingDirectory());
        if (dir.s) ErrorDisplay_display(d, "Directory:   %s\n", dir.s);
    }
    ErrorDisplay_display(d, "%s\n", kRule80);
    if (e->context) {
        ErrorDisplay_display(d, "Context:\n\n%s\n", e->context);
        ErrorDisplay_display(d, "%s\n", kRule80);
    }
    if (const char* m = vrnError_getMessage(e)) ErrorDisplay_display(d, "%s\n", m);
    for (int dim = 0; dim < 4; ++dim) {
        Pairs pairs(e, dim);
        if (pairs.n <= 0) continue;
        ErrorDisplay_display(d, "Associated %dD regions:\n\n", dim);
        for (int i = 0; i < pairs.n; ++i) {
            const int id1 = pairs.ids[2 * i], id2 = pairs.ids[2 * i + 1];
            switch (dim) {
            case 0: ErrorDisplay_display(d, "  V%d.%d\n", id2, id1); break;
            case 1: ErrorDisplay_display(d, "  E%d.%d\n", id2, id1); break;
            case 2: ErrorDisplay_display(d, "  F%d.%d\n", id2, id1); break;
            default: ErrorDisplay_display(d, "  B%d\n", id2); break;
            }
        }
        ErrorDisplay_display(d, "%s", "\n");
    }
    ErrorDisplay_display(d, "%s\n", kRule80);
}

void ErrorDisplay_displayElementPoints(ErrorDisplay* d, int type, const double* x, const double* y,
                                       const double* z) {
    const char* name = elementName(type);
    ErrorDisplay_display(d, "<%s>\n", name);
    const int nodes = nodesOf(type);
    for (int i = 0; i < nodes; ++i)
        ErrorDisplay_display(d, "<POINT>%le %le %le</POINT>\n", x[i], y[i], z[i]);
    ErrorDisplay_display(d, "</%s>\n", name);
}

void ErrorDisplay_displayXml(ErrorDisplay* d, vrnError* e) {
    const int cls = vrnError_getClass(e);
    const char* type = cls == VRN_CLASS_OK           ? "Information"
                       : cls == VRN_CLASS_WARNING    ? "Warning"
                       : cls == VRN_CLASS_USER_ERROR ? "Error"
                                                     : "InternalError";
    ErrorDisplay_display(d, "<VRNERROR type=\"%s\" id=\"%d\">\n", type, vrnError_getIdentity(e));
    ErrorDisplay_display(d, "%s", "<DESCRIPTION>\n");
    ErrorDisplay_display(d, "%s\n", xmlText(vrnError_getDescription(e), false).c_str());
    ErrorDisplay_display(d, "%s", "</DESCRIPTION>\n");
    const char* codeName = vrnErrorCode_getName(e->code);
    ErrorDisplay_display(d, "<ERROR_CODE>%s</ERROR_CODE>\n", codeName ? codeName : "");
    if (e->date) ErrorDisplay_display(d, "<DATE>%s</DATE>\n", xmlText(e->date, false).c_str());
    if (e->time) ErrorDisplay_display(d, "<TIME>%s</TIME>\n", xmlText(e->time, false).c_str());
    {
        Owned trimmed(vrnCString_trimBlankLines(vrnError_getMessage(e), 3));
        if (trimmed.s) {
            ErrorDisplay_display(d, "%s", "<MESSAGE><![CDATA[\n");
            ErrorDisplay_display(d, "%s\n", xmlText(trimmed.s, true).c_str());
            ErrorDisplay_display(d, "%s", "]]></MESSAGE>\n");
        }
    }

    bool location = false;
    for (int dim = 0; dim < 4; ++dim) {
        Pairs pairs(e, dim);
        for (int i = 0; i < pairs.n; ++i) {
            if (!location) {
                ErrorDisplay_display(d, "%s", "<LOCATION>\n");
                ErrorDisplay_display(d, "%s", "<TOPOLOGY>\n");
                location = true;
            }
            ErrorDisplay_display(d, "<REGION dimensionality=\"%d\" body=\"%d\" object=\"%d\"/>\n",
                                 dim, pairs.ids[2 * i], pairs.ids[2 * i + 1]);
        }
    }
    if (location) ErrorDisplay_display(d, "%s", "</TOPOLOGY>\n");
    double *x = nullptr, *y = nullptr, *z = nullptr;
    int *types = nullptr, *ids = nullptr;
    const int n = vrnError_getElements(e, &x, &y, &z, &types, &ids);
    if (n > 0) {
        if (!location) ErrorDisplay_display(d, "%s", "<LOCATION>\n");
        location = true;
        ErrorDisplay_display(d, "%s", "<MESH>\n");
        int at = 0;
        for (int i = 0; i < n; ++i) {
            ErrorDisplay_displayElementPoints(d, types[i], x + at, y + at, z + at);
            at += nodesOf(types[i]);
        }
        ErrorDisplay_display(d, "%s", "</MESH>\n");
    }
    const char* tag = "ErrorDisplay_displayXml";
    vrnFree(x, tag);
    vrnFree(y, tag);
    vrnFree(z, tag);
    vrnFree(types, tag);
    vrnFree(ids, tag);
    if (location) ErrorDisplay_display(d, "%s", "</LOCATION>\n");

    if (e->program || e->function || e->sourceFile || e->line > 0) {
        ErrorDisplay_display(d, "%s", "<SOURCE>\n");
        if (e->program)
            ErrorDisplay_display(d, "<PROGRAM>\n%s\n</PROGRAM>\n", xmlText(e->program, false).c_str());
        if (e->function)
            ErrorDisplay_display(d, "<FUNCTION>\n%s\n</FUNCTION>\n", xmlText(e->function, false).c_str());
        if (e->sourceFile)
            ErrorDisplay_display(d, "<FILE>\n%s\n</FILE>\n", xmlText(e->sourceFile, false).c_str());
        if (e->line > 0) ErrorDisplay_display(d, "<LINE_NUMBER>\n%d\n</LINE_NUMBER>\n", e->line);
        ErrorDisplay_display(d, "%s", "</SOURCE>\n");
    }
    ErrorDisplay_display(d, "%s", "</VRNERROR>\n");
}

}  // extern "C"

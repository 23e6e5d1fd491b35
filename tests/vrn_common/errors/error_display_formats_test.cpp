// Every display kind byte for byte. The expected text is built from the
// error's own fields, since dates, hosts and folders differ from run to run.
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "errors/error.h"
#include "errors/error_display.h"
#include "errors/error_display_formats.h"
#include "errors/error_manager.h"
#include "interprocess/conduit.h"
#include "support/cstring.h"
#include "support/system.h"
#include "test_support.h"

namespace {

const std::string kRule(80, '-');

std::string owned(char* s) {
    std::string out = s ? s : "";
    vrnCString_free(s);
    return out;
}

// Renders the error on a fresh display of the kind writing to a file.
std::string render(int kind, vrnError* e) {
    vrntest::TempDir dir;
    FILE* f = fopen(dir.file("out").c_str(), "w");
    ErrorDisplay* d = ErrorDisplay_newForStream(kind, f);
    EXPECT_NE(nullptr, d);
    ErrorDisplay_displayError(d, e);
    ErrorDisplay_delete(d);  // closes the file
    return vrntest::readFile(dir.file("out"));
}

std::string program(vrnError* e) { return e->program ? e->program : "UNKNOWN"; }

std::string rawHeaderLines(vrnError* e) {
    std::string s = "Program:     " + program(e) + "\nSubroutine:  " + e->function + "\n";
    if (e->date && e->time) s += std::string("Time:        ") + e->date + " " + e->time + "\n";
    std::string release = owned(vrnLibrary_getReleaseNumber());
    std::string build = owned(vrnLibrary_getBuild());
    if (!release.empty() && !build.empty()) s += "Version:     " + release + " [" + build + "]\n";
    std::string host = owned(vrnGetHostname());
    if (!host.empty()) s += "Host:        " + host + "\n";
    std::string dir = owned(vrnGetWorkingDirectory());
    if (!dir.empty()) s += "Directory:   " + dir + "\n";
    return s;
}

vrnError* userError() {
    vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "readOutput", "src/query.cpp", 42);
    vrnError_addMessage(e, "%s", "m\n");
    return e;
}

}  // namespace

TEST(ErrorDisplayFormats, RawBlockOfAUserError) {
    vrnError* e = userError();
    const std::string expected = "\n" + kRule + "\nError: The requested operation has produced an invalid result.\n" +
                                 kRule + "\n" + rawHeaderLines(e) + kRule + "\n\n" + "m\n\n" + kRule + "\n\n";
    EXPECT_EQ(expected, render(VRN_DISPLAY_RAW, e));
}

TEST(ErrorDisplayFormats, RawBlockWithContextAndRegionsOfEveryDimension) {
    vrnError* e = vrnError_new(VRN_W_INVALID_DATA_IGNORED, "f", "x.cpp", 1);
    vrnError_addDescription(e, "custom");
    e->context = vrnCString_clone("ctx");
    vrnError_addCadPair(e, 0, 1, 2);
    vrnError_addCadPair(e, 1, 3, 4);
    vrnError_addCadPair(e, 2, 5, 6);
    vrnError_addCadPair(e, 3, 7, 8);
    const std::string expected = "\n" + kRule + "\nWarning: custom\n" + kRule + "\n" + rawHeaderLines(e) +
                                 kRule + "\n\n" + "Context:\n\nctx\n" + kRule + "\n\n" +
                                 "Associated 0D regions:\n\n  V2.1\n\n" +
                                 "Associated 1D regions:\n\n  E4.3\n\n" +
                                 "Associated 2D regions:\n\n  F6.5\n\n" +
                                 "Associated 3D regions:\n\n  B8\n\n" + kRule + "\n\n";
    EXPECT_EQ(expected, render(VRN_DISPLAY_RAW, e));
}

TEST(ErrorDisplayFormats, RawHeadingsByClass) {
    for (auto [code, heading] : {std::pair<int, std::string>{VRN_OK, "Information: No error."},
                                 {VRN_I_INTERNAL_ERROR, "Internal Error: "},
                                 {VRN_R_RESOURCE_LEAK, "Internal Error: "}}) {
        vrnError* e = vrnError_new(code, "f", "x.cpp", 1);
        std::string out = render(VRN_DISPLAY_RAW, e);
        EXPECT_EQ(0u, out.find("\n" + kRule + "\n" + heading)) << out;
    }
}

TEST(ErrorDisplayFormats, BuildBlocksPlainAndMarked) {
    vrnError* e = vrnError_new(VRN_W_INVALID_RESULT_IGNORED, "readOutput", "q.cpp", 3);
    vrnError_addMessage(e, "%s", "text");
    vrnError_addCadPair(e, 0, 1, 2);
    vrnError_addCadPair(e, 2, 5, 6);
    vrnError_addCadPair(e, 3, 7, 8);  // not written in this format
    const std::string body = "  Warning:\n  --------\n\n  Program:     " + program(e) +
                             "\n  Subroutine:  readOutput\n\n  Problem: Invalid result has been ignored.\n\ntext\n";
    EXPECT_EQ("\n" + body + "  CAD domain ID: 1 CAD vrtx  ID: 2\n  CAD domain ID: 5 CAD face  ID: 6\n\n",
              render(VRN_DISPLAY_BUILD, e));
    EXPECT_EQ("WARNG_ERROR_START\n" + body +
                  "CAD_VRTX_DATA\n  CAD domain ID: 1 CAD vrtx  ID: 2\nCAD_VRTX_DATA\n"
                  "CAD_FACE_DATA\n  CAD domain ID: 5 CAD face  ID: 6\nCAD_FACE_DATA\nWARNG_ERROR_END\n",
              render(VRN_DISPLAY_BUILD_MARKED, e));

    vrnError* internal = vrnError_new(VRN_I_INTERNAL_ERROR, "g", "q.cpp", 3);
    internal->context = vrnCString_clone("where");
    const std::string out = render(VRN_DISPLAY_BUILD_MARKED, internal);
    EXPECT_EQ(0u, out.find("FATAL_ERROR_START\n  Internal Error:\n  ---------------\n"
                           "  Please contact customer support with the following information:\n\n"));
    EXPECT_NE(std::string::npos, out.find("  Context:\nwhere\n\n"));
    EXPECT_EQ(out.size() - 16, out.rfind("FATAL_ERROR_END\n"));
    EXPECT_EQ(0u, render(VRN_DISPLAY_BUILD, userError()).find("\n  Error:\n  ------\n"));
}

TEST(ErrorDisplayFormats, XmlElementWithLocationAndSource) {
    vrnError* e = userError();
    vrnError_addCadPair(e, 1, 3, 4);
    const double tri[9] = {0, 0, 0, 1, 0, 0, 0, 1.5, 0};
    vrnError_addElement(e, VRN_ELEMENT_TRI_3, 9, tri);
    const std::vector<double> hex(24, 2.0);
    vrnError_addElement(e, VRN_ELEMENT_HEXA_8, 10, hex.data());
    std::string expected = "<VRNERROR type=\"Error\" id=\"" + std::to_string(e->identity) + "\">\n" +
                           "<DESCRIPTION>\nThe requested operation has produced an invalid result.\n</DESCRIPTION>\n" +
                           "<ERROR_CODE>VRN_U_INVALID_RESULT</ERROR_CODE>\n";
    if (e->date) expected += std::string("<DATE>") + e->date + "</DATE>\n";
    if (e->time) expected += std::string("<TIME>") + e->time + "</TIME>\n";
    expected += "<MESSAGE><![CDATA[\n" + owned(vrnCString_trimBlankLines("m\n", 3)) + "\n]]></MESSAGE>\n";
    expected += "<LOCATION>\n<TOPOLOGY>\n<REGION dimensionality=\"1\" body=\"3\" object=\"4\"/>\n</TOPOLOGY>\n";
    expected += "<MESH>\n<TRIANGLE>\n";
    expected += "<POINT>0.000000e+00 0.000000e+00 0.000000e+00</POINT>\n";
    expected += "<POINT>1.000000e+00 0.000000e+00 0.000000e+00</POINT>\n";
    expected += "<POINT>0.000000e+00 1.500000e+00 0.000000e+00</POINT>\n";
    expected += "</TRIANGLE>\n<HEXAHEDRON>\n";
    for (int i = 0; i < 8; ++i) expected += "<POINT>2.000000e+00 2.000000e+00 2.000000e+00</POINT>\n";
    expected += "</HEXAHEDRON>\n</MESH>\n</LOCATION>\n";
    expected += "<SOURCE>\n";
    if (e->program) expected += std::string("<PROGRAM>\n") + e->program + "\n</PROGRAM>\n";
    expected += "<FUNCTION>\nreadOutput\n</FUNCTION>\n<FILE>\nsrc/query.cpp\n</FILE>\n"
                "<LINE_NUMBER>\n42\n</LINE_NUMBER>\n</SOURCE>\n</VRNERROR>\n";
    EXPECT_EQ(expected, render(VRN_DISPLAY_XML, e));
}

TEST(ErrorDisplayFormats, XmlWithoutMessageLocationOrSource) {
    vrnError* e = vrnError_new(VRN_W_INFORMATION, nullptr, nullptr, 0);
    vrnCString_free(e->program);  // an error of no program
    e->program = nullptr;
    std::string out = render(VRN_DISPLAY_XML, e);
    EXPECT_EQ(0u, out.find("<VRNERROR type=\"Warning\" id="));
    EXPECT_EQ(std::string::npos, out.find("<MESSAGE>"));
    EXPECT_EQ(std::string::npos, out.find("<LOCATION>"));
    EXPECT_EQ(std::string::npos, out.find("<SOURCE>"));
}

// An error's texts come from anywhere: a reader's output, a file name, an
// assertion's expression. The XML element stays well-formed whatever they
// hold, and text without markup or foreign bytes is written unchanged.
TEST(ErrorDisplayFormats, XmlStaysWellFormedWhateverTheTextsHold) {
    vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "f<&>g", "dir/a&b.cpp", 7);
    vrnError_addDescription(e, "Assertion failed: i > -1 && i < n");
    vrnError_addMessage(e, "%s", "keep ]]> <tag> & caf\xC3\xA9 \xF0\x9F\x98\x80\nbad \xFF\xC3( \x01\x7F\tend");
    const std::string out = render(VRN_DISPLAY_XML, e);
    EXPECT_NE(std::string::npos,
              out.find("<DESCRIPTION>\nAssertion failed: i &gt; -1 &amp;&amp; i &lt; n\n</DESCRIPTION>\n"));
    EXPECT_NE(std::string::npos,
              out.find("<MESSAGE><![CDATA[\nkeep ]]]]><![CDATA[> <tag> & caf\xC3\xA9 \xF0\x9F\x98\x80\n"
                       "bad \xEF\xBF\xBD\xEF\xBF\xBD( \xEF\xBF\xBD\x7F\tend\n]]></MESSAGE>\n"));
    EXPECT_NE(std::string::npos, out.find("<FUNCTION>\nf&lt;&amp;&gt;g\n</FUNCTION>\n"));
    EXPECT_NE(std::string::npos, out.find("<FILE>\ndir/a&amp;b.cpp\n</FILE>\n"));
    // Outside the XML element the texts are the error's own.
    EXPECT_NE(std::string::npos, render(VRN_DISPLAY_RAW, e).find("Error: Assertion failed: i > -1 && i < n\n"));
}

TEST(ErrorDisplayFormats, AssertionBannerAndOrvPlaceholder) {
    vrnError* e = userError();
    const std::string eq(72, '=');
    const std::string build = owned(vrnLibrary_getBuild());
    EXPECT_EQ(eq + "\n*************************** Assertion failure **************************\n" + eq +
                  "\n\nm\n\nBuild number: " + build + "\n" + eq + "\n",
              render(VRN_DISPLAY_ASSERTION, e));
    EXPECT_EQ("ORV error display is not implemented yet.\n", render(VRN_DISPLAY_ORV, e));
    EXPECT_EQ(nullptr, ErrorDisplay_newForStream(5, stdout));
    EXPECT_EQ(nullptr, ErrorDisplay_newForStream(-2, stdout));
}

namespace {
std::string g_flushed;
void collect(const char* text) { g_flushed += text; }
}  // namespace

TEST(ErrorDisplayFormats, ConduitAndTextSinksGetTheSameBytes) {
    vrnError* e = userError();
    const std::string onStream = render(VRN_DISPLAY_XML, e);

    ErrorDisplay* text = ErrorDisplay_new(VRN_DISPLAY_XML);
    text->sink = VRN_DISPLAY_SINK_TEXT;
    text->flushRoutine = collect;
    ErrorDisplay_displayError(text, e);
    EXPECT_EQ(onStream, g_flushed);
    ErrorDisplay_delete(text);

    Conduit* c = Conduit_newBeforeSpawn("pipe: 1.0");
    ErrorDisplay* viaConduit = ErrorDisplay_new(VRN_DISPLAY_XML);
    viaConduit->sink = VRN_DISPLAY_SINK_CONDUIT;
    viaConduit->conduit = c;
    ErrorDisplay_displayError(viaConduit, e);
    ErrorDisplay_delete(viaConduit);
    Pipe_closeWriteEnd(c->writePipe);
    std::string got;
    char buf[4096];
    long n;
    while ((n = Pipe_read(c->writePipe, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(onStream, got);
    Conduit_delete(c);
}

TEST(ErrorDisplayFormats, ElementBlocksByTypeAndUnknownTypesWithoutPoints) {
    g_flushed.clear();
    ErrorDisplay* d = ErrorDisplay_new(VRN_DISPLAY_XML);
    d->sink = VRN_DISPLAY_SINK_TEXT;
    d->flushRoutine = collect;
    const double x[8] = {1, 2, 3, 4, 5, 6, 7, 8}, y[8] = {0}, z[8] = {0};
    const char* names[] = {"VERTEX", "EDGE", "TRIANGLE", "QUADRILATERAL", "TETRAHEDRON", "PYRAMID", "PRISM"};
    const int nodes[] = {1, 2, 3, 4, 4, 5, 6};
    std::string expected;
    for (int type = 0; type < 7; ++type) {
        ErrorDisplay_displayElementPoints(d, type, x, y, z);
        expected += std::string("<") + names[type] + ">\n";
        for (int i = 0; i < nodes[type]; ++i) {
            char point[96];
            snprintf(point, sizeof point, "<POINT>%le %le %le</POINT>\n", x[i], 0.0, 0.0);
            expected += point;
        }
        expected += std::string("</") + names[type] + ">\n";
    }
    // Types outside the table have no points: the arrays are not read.
    for (int type : {-1, 8, 1000}) {
        ErrorDisplay_displayElementPoints(d, type, nullptr, nullptr, nullptr);
        expected += "<UNKNOWN>\n</UNKNOWN>\n";
    }
    ErrorDisplay_flush(d);
    EXPECT_EQ(expected, g_flushed);
    ErrorDisplay_delete(d);
}

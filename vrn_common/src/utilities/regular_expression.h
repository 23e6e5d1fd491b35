/* A small backtracking regular-expression engine and the wrapper through
 * which the debug manager matches its rule patterns against routine names.
 *
 * Syntax: literal characters; \x (x taken literally); . (any character);
 * [set] and [^set] (a ] or - first is literal, a - last is literal, a-z is a
 * range); ^ and $ (start and end of the subject); (r) groups, at most nine;
 * r*, r+, r? (greedy, with backtracking); r1|r2. Matching is leftmost.
 *
 * The engine's regcomp, regexec and regerror live in the C++ namespace
 * vrn::regex so that they never stand in for the C library's functions of
 * the same names anywhere in the host process. A pattern that does not
 * compile is reported to the caller (NULL and a message); it never ends the
 * process. */
#ifndef VRN_UTILITIES_REGULAR_EXPRESSION_H
#define VRN_UTILITIES_REGULAR_EXPRESSION_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RegularExpression RegularExpression;

/* Compiles pattern; NULL when it does not compile. */
RegularExpression* RegularExpression_new(const char* pattern);
/* As RegularExpression_new; on failure *message (when message is given)
 * receives the engine's constant message text, e.g. "nested *?+". */
RegularExpression* RegularExpression_compile(const char* pattern, const char** message);
void RegularExpression_delete(RegularExpression* expression);
/* The pattern text the expression was made from. */
const char* RegularExpression_getPattern(const RegularExpression* expression);
/* 1 when the pattern occurs anywhere in the text "^" + name + "$": the name
 * between a literal '^' and a literal '$', so that a pattern can pin the
 * start or end of the name with \^ and \$. 0 otherwise or on bad input. */
int RegularExpression_exactMatch(RegularExpression* expression, const char* name);

#ifdef __cplusplus
}

namespace vrn {
namespace regex {

/* Number of capture slots: the whole match and nine groups. */
constexpr int kSubexpressions = 10;
/* A compiled program must stay below this many bytes (16-bit offsets). */
constexpr long kMaxProgramSize = 32767;

struct regexp {
    const char* startp[kSubexpressions];  /* match and group starts of the last regexec */
    const char* endp[kSubexpressions];
    char regstart;            /* first character of every match, or '\0' */
    char reganch;             /* 1 when the pattern begins with ^ */
    const char* regmust;      /* literal every match contains, or NULL */
    int regmlen;              /* its length */
    unsigned char* program;   /* magic byte, then the nodes; same allocation */
    int programSize;          /* bytes of program */
};

/* Compiles pattern into a program allocated with malloc (free with regfree).
 * On failure reports through regerror and returns NULL. */
regexp* regcomp(const char* pattern);
/* 1 when prog matches somewhere in subject, else 0 (errors through regerror). */
int regexec(regexp* prog, const char* subject);
void regfree(regexp* prog);
/* The engine's error routine: records the message of the failed call. */
void regerror(const char* message);
/* The message recorded by the last failed regcomp or regexec, or NULL when
 * the last call succeeded. */
const char* lastError();

}  // namespace regex
}  // namespace vrn
#endif

#endif

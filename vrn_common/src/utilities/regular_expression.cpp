#include "utilities/regular_expression.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/memory.h"

namespace vrn {
namespace regex {
namespace {

/* Program layout: the magic byte, then nodes of {opcode, two-byte big-endian
 * offset to the next node, operand}. An offset of 0 ends a chain; the BACK
 * node's offset points backwards. */
constexpr unsigned char kMagic = 0x9C;

enum Opcode : unsigned char {
    END = 0,      /* end of program */
    BOL = 1,      /* match only at the start of the subject */
    EOL = 2,      /* match only at the end of the subject */
    ANY = 3,      /* any one character */
    ANYOF = 4,    /* operand: string of characters; one of them */
    ANYBUT = 5,   /* operand: string of characters; anything else */
    BRANCH = 6,   /* operand: node; this alternative, or the next BRANCH */
    BACK = 7,     /* loop back to an earlier node */
    EXACTLY = 8,  /* operand: literal string */
    NOTHING = 9,  /* matches the empty text */
    STAR = 10,    /* operand: a simple node, zero or more times */
    PLUS = 11,    /* operand: a simple node, one or more times */
    OPEN = 20,    /* OPEN+n: start of group n */
    CLOSE = 30,   /* CLOSE+n: end of group n */
};

/* What the compiler learns about a piece of pattern. */
constexpr int WORST = 0;     /* nothing known */
constexpr int HASWIDTH = 1;  /* never matches the empty text */
constexpr int SIMPLE = 2;    /* one character wide: usable under STAR and PLUS */
constexpr int SPSTART = 4;   /* starts with * or + */

const char* const kMeta = "^$.[()|?+*\\";

const char* g_lastError = nullptr;

inline bool isRepeat(char c) { return c == '*' || c == '+' || c == '?'; }

inline unsigned char op(const unsigned char* p) { return p[0]; }
inline int nextOffset(const unsigned char* p) { return (p[1] << 8) | p[2]; }
inline unsigned char* operand(unsigned char* p) { return p + 3; }
inline const char* operandText(const unsigned char* p) {
    return reinterpret_cast<const char*>(p + 3);
}

unsigned char* nextNode(unsigned char* p) {
    int offset = nextOffset(p);
    if (offset == 0) return nullptr;
    return op(p) == BACK ? p - offset : p + offset;
}

/* One compilation. The first pass (emitting into the dummy byte) only
 * measures the program; the second writes it. */
class Compiler {
public:
    explicit Compiler(const char* pattern) : parse_(pattern) {}

    void startMeasuring() { code_ = &dummy_; size_ = 0; }
    void startEmitting(unsigned char* program) { code_ = program; }
    void restart(const char* pattern) { parse_ = pattern; groups_ = 1; }
    long size() const { return size_; }

    void emit(unsigned char b) {
        if (code_ != &dummy_) *code_++ = b;
        else ++size_;
    }

    /* Top level or parenthesised expression: branches joined by '|'. */
    unsigned char* expression(bool paren, int* flags) {
        *flags = HASWIDTH;
        unsigned char* ret = nullptr;
        int group = 0;
        if (paren) {
            if (groups_ >= kSubexpressions) return fail("too many ()");
            group = groups_++;
            ret = node(static_cast<unsigned char>(OPEN + group));
        }
        int branchFlags = 0;
        unsigned char* br = branch(&branchFlags);
        if (!br) return nullptr;
        if (ret) tail(ret, br);
        else ret = br;
        if (!(branchFlags & HASWIDTH)) *flags &= ~HASWIDTH;
        *flags |= branchFlags & SPSTART;
        while (*parse_ == '|') {
            ++parse_;
            br = branch(&branchFlags);
            if (!br) return nullptr;
            tail(ret, br);
            if (!(branchFlags & HASWIDTH)) *flags &= ~HASWIDTH;
            *flags |= branchFlags & SPSTART;
        }
        unsigned char* ender = node(paren ? static_cast<unsigned char>(CLOSE + group) : static_cast<unsigned char>(END));
        tail(ret, ender);
        for (unsigned char* b = ret; b; b = next(b)) operandTail(b, ender);

        if (paren) {
            if (*parse_ != ')') return fail("unmatched ()");
            ++parse_;
        } else if (*parse_ != '\0') {
            return fail(*parse_ == ')' ? "unmatched ()" : "junk on end");
        }
        return ret;
    }

private:
    /* One alternative: a chain of pieces. */
    unsigned char* branch(int* flags) {
        *flags = WORST;
        unsigned char* ret = node(BRANCH);
        unsigned char* chain = nullptr;
        while (*parse_ != '\0' && *parse_ != '|' && *parse_ != ')') {
            int pieceFlags = 0;
            unsigned char* latest = piece(&pieceFlags);
            if (!latest) return nullptr;
            *flags |= pieceFlags & HASWIDTH;
            if (!chain) *flags |= pieceFlags & SPSTART;
            else tail(chain, latest);
            chain = latest;
        }
        if (!chain) node(NOTHING);
        return ret;
    }

    /* An atom, possibly followed by one of * + ?. Simple atoms get the
     * STAR/PLUS nodes; others are built from BRANCH, BACK and NOTHING. */
    unsigned char* piece(int* flags) {
        int atomFlags = 0;
        unsigned char* ret = atom(&atomFlags);
        if (!ret) return nullptr;
        char c = *parse_;
        if (!isRepeat(c)) {
            *flags = atomFlags;
            return ret;
        }
        if (!(atomFlags & HASWIDTH) && c != '?') return fail("*+ operand could be empty");
        *flags = (c != '+') ? (WORST | SPSTART) : (WORST | HASWIDTH);

        if (c == '*' && (atomFlags & SIMPLE)) {
            insert(STAR, ret);
        } else if (c == '*') {
            /* x* becomes (x&|): the branch loops back after x. */
            insert(BRANCH, ret);
            operandTail(ret, node(BACK));
            operandTail(ret, ret);
            tail(ret, node(BRANCH));
            tail(ret, node(NOTHING));
        } else if (c == '+' && (atomFlags & SIMPLE)) {
            insert(PLUS, ret);
        } else if (c == '+') {
            /* x+ becomes x(&|): after x, loop back or go on. */
            unsigned char* next = node(BRANCH);
            tail(ret, next);
            tail(node(BACK), ret);
            tail(next, node(BRANCH));
            tail(ret, node(NOTHING));
        } else {
            /* x? becomes (x|). */
            insert(BRANCH, ret);
            tail(ret, node(BRANCH));
            unsigned char* next = node(NOTHING);
            tail(ret, next);
            operandTail(ret, next);
        }
        ++parse_;
        if (isRepeat(*parse_)) return fail("nested *?+");
        return ret;
    }

    unsigned char* atom(int* flags) {
        *flags = WORST;
        unsigned char* ret = nullptr;
        char c = *parse_++;
        switch (c) {
        case '^':
            ret = node(BOL);
            break;
        case '$':
            ret = node(EOL);
            break;
        case '.':
            ret = node(ANY);
            *flags |= HASWIDTH | SIMPLE;
            break;
        case '[': {
            if (*parse_ == '^') {
                ret = node(ANYBUT);
                ++parse_;
            } else {
                ret = node(ANYOF);
            }
            if (*parse_ == ']' || *parse_ == '-') emit(static_cast<unsigned char>(*parse_++));
            while (*parse_ != '\0' && *parse_ != ']') {
                if (*parse_ == '-') {
                    ++parse_;
                    if (*parse_ == ']' || *parse_ == '\0') {
                        emit('-');
                    } else {
                        int from = static_cast<unsigned char>(parse_[-2]) + 1;
                        int to = static_cast<unsigned char>(*parse_);
                        if (from > to + 1) return fail("invalid [] range");
                        for (; from <= to; ++from) emit(static_cast<unsigned char>(from));
                        ++parse_;
                    }
                } else {
                    emit(static_cast<unsigned char>(*parse_++));
                }
            }
            emit('\0');
            if (*parse_ != ']') return fail("unmatched []");
            ++parse_;
            *flags |= HASWIDTH | SIMPLE;
            break;
        }
        case '(': {
            int groupFlags = 0;
            ret = expression(true, &groupFlags);
            if (!ret) return nullptr;
            *flags |= groupFlags & (HASWIDTH | SPSTART);
            break;
        }
        case '\0':
        case '|':
        case ')':
            /* The callers stop before these. */
            return fail("internal urp");
        case '?':
        case '+':
        case '*':
            return fail("?+* follows nothing");
        case '\\':
            if (*parse_ == '\0') return fail("trailing \\");
            ret = node(EXACTLY);
            emit(static_cast<unsigned char>(*parse_++));
            emit('\0');
            *flags |= HASWIDTH | SIMPLE;
            break;
        default: {
            --parse_;
            size_t len = std::strcspn(parse_, kMeta);
            if (len == 0) return fail("internal disaster");
            /* A repetition applies to the last character only. */
            if (len > 1 && isRepeat(parse_[len])) --len;
            *flags |= HASWIDTH;
            if (len == 1) *flags |= SIMPLE;
            ret = node(EXACTLY);
            while (len-- > 0) emit(static_cast<unsigned char>(*parse_++));
            emit('\0');
            break;
        }
        }
        return ret;
    }

    unsigned char* node(unsigned char opcode) {
        unsigned char* ret = code_;
        if (ret == &dummy_) {
            size_ += 3;
            return ret;
        }
        *code_++ = opcode;
        *code_++ = 0;
        *code_++ = 0;
        return ret;
    }

    /* Inserts a node before the operand at opnd, moving the operand up. */
    void insert(unsigned char opcode, unsigned char* opnd) {
        if (code_ == &dummy_) {
            size_ += 3;
            return;
        }
        std::memmove(opnd + 3, opnd, static_cast<size_t>(code_ - opnd));
        code_ += 3;
        opnd[0] = opcode;
        opnd[1] = 0;
        opnd[2] = 0;
    }

    unsigned char* next(unsigned char* p) { return p == &dummy_ ? nullptr : nextNode(p); }

    /* Sets the next pointer of the last node of the chain at p. */
    void tail(unsigned char* p, unsigned char* target) {
        if (p == &dummy_) return;
        unsigned char* scan = p;
        for (unsigned char* n; (n = nextNode(scan)) != nullptr;) scan = n;
        long offset = op(scan) == BACK ? scan - target : target - scan;
        scan[1] = static_cast<unsigned char>((offset >> 8) & 0xFF);
        scan[2] = static_cast<unsigned char>(offset & 0xFF);
    }

    /* tail() on the operand of a BRANCH node; nothing for other nodes. */
    void operandTail(unsigned char* p, unsigned char* target) {
        if (!p || p == &dummy_ || op(p) != BRANCH) return;
        tail(operand(p), target);
    }

    unsigned char* fail(const char* message) {
        regerror(message);
        return nullptr;
    }

    const char* parse_;
    int groups_ = 1;
    unsigned char dummy_ = 0;
    unsigned char* code_ = &dummy_;
    long size_ = 0;
};

/* Match attempts over one subject.
 *
 * Backtracking alone takes exponential time on patterns such as "(.+)+x"
 * (a rule in a hand-written control file would hang the host at its first
 * traced call). With no back-references, whether the chain at a node
 * matches from a position depends on nothing else, so a pair that failed
 * once fails again: after a budget of plain attempts the matcher records
 * failed pairs and never explores one twice, which bounds the work by the
 * program size times the square of the subject length. Results are those of
 * plain backtracking. */
class Matcher {
public:
    Matcher(regexp* prog, const char* subject) : prog_(prog), bol_(subject) {}

    bool tryAt(const char* start) {
        input_ = start;
        for (int i = 0; i < kSubexpressions; ++i) {
            prog_->startp[i] = nullptr;
            prog_->endp[i] = nullptr;
        }
        if (!match(prog_->program + 1)) return false;
        prog_->startp[0] = start;
        prog_->endp[0] = input_;
        return true;
    }

private:
    /* Plain attempts before failed pairs are recorded: every ordinary match
     * of a routine name stays well inside it and allocates nothing. */
    static constexpr long kPlainAttempts = 4096;
    /* Above this many recorded pairs, matching goes on without the record. */
    static constexpr std::size_t kMostPairs = std::size_t(1) << 28;

    bool match(unsigned char* scan) {
        if (!remember()) return matchChain(scan);
        const std::size_t pair = pairOf(scan);
        if (failed_[pair / 64] & (std::uint64_t(1) << (pair % 64))) return false;
        if (matchChain(scan)) return true;
        failed_[pair / 64] |= std::uint64_t(1) << (pair % 64);
        return false;
    }

    /* Whether failed pairs are recorded; starts the record once the budget
     * of plain attempts is spent. */
    bool remember() {
        if (!failed_.empty()) return true;
        if (recordUnavailable_ || ++attempts_ <= kPlainAttempts) return false;
        width_ = std::strlen(bol_) + 1;
        const std::size_t nodes = static_cast<std::size_t>(prog_->programSize);
        if (nodes == 0 || width_ > kMostPairs / nodes) {
            recordUnavailable_ = true;
            return false;
        }
        try {
            failed_.assign((nodes * width_ + 63) / 64, 0);
        } catch (const std::bad_alloc&) {
            recordUnavailable_ = true;
            return false;
        }
        return true;
    }

    std::size_t pairOf(unsigned char* scan) const {
        const std::size_t node = static_cast<std::size_t>(scan - prog_->program);
        const std::size_t position = static_cast<std::size_t>(input_ - bol_);
        return node * width_ + position;
    }

    bool matchChain(unsigned char* scan) {
        while (scan) {
            unsigned char* next = nextNode(scan);
            unsigned char code = op(scan);
            switch (code) {
            case BOL:
                if (input_ != bol_) return false;
                break;
            case EOL:
                if (*input_ != '\0') return false;
                break;
            case ANY:
                if (*input_ == '\0') return false;
                ++input_;
                break;
            case EXACTLY: {
                const char* text = operandText(scan);
                if (*text != *input_) return false;
                size_t len = std::strlen(text);
                if (len > 1 && std::strncmp(text, input_, len) != 0) return false;
                input_ += len;
                break;
            }
            case ANYOF:
                if (*input_ == '\0' || !std::strchr(operandText(scan), *input_)) return false;
                ++input_;
                break;
            case ANYBUT:
                if (*input_ == '\0' || std::strchr(operandText(scan), *input_)) return false;
                ++input_;
                break;
            case NOTHING:
            case BACK:
                break;
            case BRANCH:
                if (op(next) != BRANCH) {
                    next = operand(scan);  /* only one choice: no recursion */
                } else {
                    do {
                        const char* save = input_;
                        if (match(operand(scan))) return true;
                        input_ = save;
                        scan = nextNode(scan);
                    } while (scan && op(scan) == BRANCH);
                    return false;
                }
                break;
            case STAR:
            case PLUS: {
                /* Greedy: take as many as possible, then give back one at a
                 * time. A literal that must follow saves useless tries. */
                char nextChar = op(next) == EXACTLY ? *operandText(next) : '\0';
                long min = code == STAR ? 0 : 1;
                const char* save = input_;
                long count = repeat(operand(scan));
                while (count >= min) {
                    if (nextChar == '\0' || *input_ == nextChar) {
                        if (match(next)) return true;
                    }
                    --count;
                    input_ = save + count;
                }
                return false;
            }
            case END:
                return true;
            default:
                if (code > OPEN && code < OPEN + kSubexpressions) {
                    int n = code - OPEN;
                    const char* save = input_;
                    if (!match(next)) return false;
                    /* An inner repetition may have set it already. */
                    if (!prog_->startp[n]) prog_->startp[n] = save;
                    return true;
                }
                if (code > CLOSE && code < CLOSE + kSubexpressions) {
                    int n = code - CLOSE;
                    const char* save = input_;
                    if (!match(next)) return false;
                    if (!prog_->endp[n]) prog_->endp[n] = save;
                    return true;
                }
                regerror("memory corruption");
                return false;
            }
            scan = next;
        }
        /* Every chain ends at END; falling off one means damage. */
        regerror("corrupted pointers");
        return false;
    }

    /* Matches the simple node p as often as possible; returns the count. */
    long repeat(unsigned char* p) {
        const char* scan = input_;
        const char* text = operandText(p);
        long count = 0;
        switch (op(p)) {
        case ANY:
            count = static_cast<long>(std::strlen(scan));
            scan += count;
            break;
        case EXACTLY:
            while (*text == *scan) {
                ++count;
                ++scan;
            }
            break;
        case ANYOF:
            while (*scan != '\0' && std::strchr(text, *scan)) {
                ++count;
                ++scan;
            }
            break;
        case ANYBUT:
            while (*scan != '\0' && !std::strchr(text, *scan)) {
                ++count;
                ++scan;
            }
            break;
        default:
            regerror("internal foulup");
            count = 0;
            break;
        }
        input_ = scan;
        return count;
    }

    regexp* prog_;
    const char* bol_;
    const char* input_ = nullptr;
    long attempts_ = 0;
    bool recordUnavailable_ = false;
    std::size_t width_ = 0;
    std::vector<std::uint64_t> failed_;  /* bit node * width_ + position */
};

}  // namespace

void regerror(const char* message) { g_lastError = message; }

const char* lastError() { return g_lastError; }

regexp* regcomp(const char* pattern) {
    g_lastError = nullptr;
    if (!pattern) {
        regerror("NULL argument");
        return nullptr;
    }

    Compiler compiler(pattern);
    int flags = 0;
    compiler.startMeasuring();
    compiler.emit(kMagic);
    if (!compiler.expression(false, &flags)) return nullptr;
    if (compiler.size() >= kMaxProgramSize) {
        regerror("regexp too big");
        return nullptr;
    }

    const size_t programSize = static_cast<size_t>(compiler.size());
    auto* r = static_cast<regexp*>(std::malloc(sizeof(regexp) + programSize));
    if (!r) {
        regerror("out of space");
        return nullptr;
    }
    std::memset(r, 0, sizeof(regexp));
    r->program = reinterpret_cast<unsigned char*>(r + 1);
    r->programSize = static_cast<int>(programSize);

    compiler.restart(pattern);
    compiler.startEmitting(r->program);
    compiler.emit(kMagic);
    if (!compiler.expression(false, &flags)) {
        std::free(r);
        return nullptr;
    }

    /* Search hints, from the first node of the only top-level branch. */
    unsigned char* scan = r->program + 1;
    if (op(nextNode(scan)) == END) {
        scan = operand(scan);
        if (op(scan) == EXACTLY) r->regstart = *operandText(scan);
        else if (op(scan) == BOL) r->reganch = 1;
        /* With a leading * or + the start is not fixed, so give the matcher
         * the longest literal that every match holds. */
        if (flags & SPSTART) {
            const char* longest = nullptr;
            size_t len = 0;
            for (; scan; scan = nextNode(scan)) {
                if (op(scan) == EXACTLY && std::strlen(operandText(scan)) >= len) {
                    longest = operandText(scan);
                    len = std::strlen(longest);
                }
            }
            r->regmust = longest;
            r->regmlen = static_cast<int>(len);
        }
    }
    return r;
}

int regexec(regexp* prog, const char* subject) {
    g_lastError = nullptr;
    if (!prog || !subject) {
        regerror("NULL parameter");
        return 0;
    }
    if (prog->program[0] != kMagic) {
        regerror("corrupted program");
        return 0;
    }
    if (prog->regmust && !std::strstr(subject, prog->regmust)) return 0;

    Matcher matcher(prog, subject);
    if (prog->reganch) return matcher.tryAt(subject) ? 1 : 0;

    const char* s = subject;
    if (prog->regstart != '\0') {
        while ((s = std::strchr(s, prog->regstart)) != nullptr) {
            if (matcher.tryAt(s)) return 1;
            ++s;
        }
        return 0;
    }
    /* Every position, the empty end of the subject included. */
    do {
        if (matcher.tryAt(s)) return 1;
    } while (*s++ != '\0');
    return 0;
}

void regfree(regexp* prog) { std::free(prog); }

}  // namespace regex
}  // namespace vrn

struct RegularExpression {
    vrn::regex::regexp* program;
    char* pattern;
};

extern "C" {

RegularExpression* RegularExpression_compile(const char* pattern, const char** message) {
    if (message) *message = nullptr;
    vrn::regex::regexp* program = vrn::regex::regcomp(pattern);
    if (!program) {
        if (message) *message = vrn::regex::lastError();
        return nullptr;
    }
    auto* expression = static_cast<RegularExpression*>(
        vrnCalloc(static_cast<int>(sizeof(RegularExpression)), 0, "RegularExpression_new"));
    expression->program = program;
    const size_t len = std::strlen(pattern);
    expression->pattern =
        static_cast<char*>(vrnMalloc(static_cast<int>(len + 1), "RegularExpression_new"));
    std::memcpy(expression->pattern, pattern, len + 1);
    return expression;
}

RegularExpression* RegularExpression_new(const char* pattern) {
    return RegularExpression_compile(pattern, nullptr);
}

void RegularExpression_delete(RegularExpression* expression) {
    if (!expression) return;
    vrn::regex::regfree(expression->program);
    vrnFree(expression->pattern, "RegularExpression_delete");
    vrnFree(expression, "RegularExpression_delete");
}

const char* RegularExpression_getPattern(const RegularExpression* expression) {
    return expression ? expression->pattern : nullptr;
}

int RegularExpression_exactMatch(RegularExpression* expression, const char* name) {
    if (!expression || !name) return 0;
    std::string subject;
    subject.reserve(std::strlen(name) + 2);
    subject += '^';
    subject += name;
    subject += '$';
    return vrn::regex::regexec(expression->program, subject.c_str());
}

}  // extern "C"

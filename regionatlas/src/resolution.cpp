// Primitive resolution and the resolution cache.
//
// Definitions nest to any depth, so resolution keeps its own stack of
// frames on the heap instead of recursing: a chain of ten thousand
// definitions resolves in the same way as a chain of two. Each frame
// evaluates one definition as a short program of steps over its own lists
// (Difference and Intersection never share a scratch list with a nested
// evaluation), and a definition met again while it is being evaluated is
// reported as a cycle instead of being followed for ever.
#include "region_resolution.h"

#include "region_atlas.h"
#include "region_definition.h"
#include "region_hash.h"
#include "region_internal.h"
#include "region_map.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using namespace regionatlas;

namespace regionatlas {

std::vector<unsigned> listKeys(const RegionStringList* list)
{
    if (!list || !list->items)
        return {};
    return std::vector<unsigned>(list->items, list->items + list->count);
}

}  // namespace regionatlas

namespace {

// Every definition alive, filed under each name its sides hold (bit 1 for
// side A, bit 2 for side B), keyed by the interned text key, whichever name
// object stands for the text. Each definition keeps the keys it was filed
// under, and its side lists tell it of every change made to them (also
// changes made to a list directly, not through the definition): a changed
// definition is filed again before the next check. If memory ever runs out
// while filing, the index is no longer complete and the check walks the
// whole way from then on.
using Uses = std::unordered_map<unsigned, std::unordered_map<RegionDefinition*, unsigned char>>;

struct Filed {
    std::vector<unsigned> keys[2];
};

struct UseIndex {
    Uses uses;
    std::unordered_map<RegionDefinition*, Filed> filed;
    std::unordered_set<RegionDefinition*> changed;
    bool complete = true;
};

UseIndex& useIndex()
{
    static UseIndex* index = new UseIndex();
    return *index;
}

RegionStringList* sideOf(const RegionDefinition* def, int side) { return side == 2 ? def->sideB : def->sideA; }

unsigned char sideBit(int side) { return side == 2 ? 2 : 1; }

// Whether resolution follows the name from the definition: side A always,
// side B only for a Symmetric Difference.
bool follows(const RegionDefinition* def, unsigned char sides)
{
    return (sides & 1) || ((sides & 2) && def->combination == RC_SYMMETRIC_DIFFERENCE);
}

void giveUpIndex()
{
    UseIndex& index = useIndex();
    index.complete = false;
    index.uses.clear();
    index.filed.clear();
    index.changed.clear();
}

// Files the definitions whose lists changed since they were last filed.
void refileChanged()
{
    UseIndex& index = useIndex();
    while (index.complete && !index.changed.empty()) {
        RegionDefinition* def = *index.changed.begin();
        for (int side = 1; side <= 2; ++side) {
            regionatlas::forgetUses(def, side);
            regionatlas::recordUses(def, side);
        }
        index.changed.erase(def);
    }
}

}  // namespace

namespace regionatlas {

void recordUses(RegionDefinition* def, int side)
{
    UseIndex& index = useIndex();
    RegionStringList* list = def ? sideOf(def, side) : nullptr;
    if (!list || !index.complete)
        return;
    try {
        std::vector<unsigned>& keys = index.filed[def].keys[side - 1];
        keys.assign(list->items, list->items + list->count);
        for (unsigned key : keys)
            index.uses[key][def] |= sideBit(side);
        list->watcher = def;
    } catch (const std::bad_alloc&) {
        giveUpIndex();
    }
}

void forgetUses(RegionDefinition* def, int side)
{
    if (!def)
        return;
    if (RegionStringList* list = sideOf(def, side))
        list->watcher = nullptr;
    UseIndex& index = useIndex();
    auto filed = index.filed.find(def);
    if (filed == index.filed.end())
        return;
    std::vector<unsigned>& keys = filed->second.keys[side - 1];
    for (unsigned key : keys) {
        auto users = index.uses.find(key);
        if (users == index.uses.end())
            continue;
        auto entry = users->second.find(def);
        if (entry == users->second.end())
            continue;
        entry->second = static_cast<unsigned char>(entry->second & ~sideBit(side));
        if (!entry->second)
            users->second.erase(entry);
        if (users->second.empty())
            index.uses.erase(users);
    }
    keys.clear();
    if (filed->second.keys[0].empty() && filed->second.keys[1].empty()) {
        index.filed.erase(filed);
        index.changed.erase(def);
    }
}

void forgetDefinition(RegionDefinition* def)
{
    if (!def)
        return;
    forgetUses(def, 1);
    forgetUses(def, 2);
    UseIndex& index = useIndex();
    index.changed.erase(def);
    index.filed.erase(def);
}

void noteListChange(RegionStringList* list)
{
    UseIndex& index = useIndex();
    if (!list || !list->watcher || !index.complete)
        return;
    try {
        index.changed.insert(static_cast<RegionDefinition*>(list->watcher));
    } catch (const std::bad_alloc&) {
        giveUpIndex();
    }
}

}  // namespace regionatlas

namespace {

// Where definitions are looked up: one map, or the atlas's region table.
struct Context {
    RegionMap* map = nullptr;
    RegionAtlas* atlas = nullptr;

    RegionDefinition* definitionOf(unsigned key) const
    {
        RegionName* name = atlas ? RegionAtlas_findByKey(atlas, key) : RegionMap_findByKey(map, 1, key);
        return name ? name->definition : nullptr;
    }
};

// The lists a frame works on: its target and up to two of its own.
enum ListSlot { kOut = 0, kFirst = 1, kSecond = 2 };

enum StepKind {
    kResolve,      // resolve key into list
    kIntersect,    // first := first ∩ second; second emptied
    kRemoveSideB,  // first := first − side B as it stands
    kSymmetric,    // first := first △ second
    kComplement,   // exported names less first, merged into the target
    kMerge,        // first merged into the target
};

struct Step {
    StepKind kind;
    unsigned key;
    ListSlot list;
};

struct ListHolder {
    RegionStringList* list = nullptr;
    ~ListHolder()
    {
        if (list)
            RegionStringList_delete(&list);
    }
};

struct Frame {
    unsigned key = 0;
    RegionStringList* out = nullptr;
    ListHolder first, second;
    std::vector<unsigned> sideB;
    std::vector<Step> steps;
    size_t next = 0;

    RegionStringList* slot(ListSlot s) { return s == kOut ? out : (s == kFirst ? first.list : second.list); }
};

RegionStatus* newList(ListHolder& holder)
{
    return RegionStringList_new(&holder.list, 0);
}

// Plans the evaluation of one definition into `out`.
RegionStatus* plan(RegionDefinition* def, RegionStringList* out, Frame& frame)
{
    frame.key = RegionName_getKey(def->name);
    frame.out = out;
    std::vector<unsigned> a = listKeys(def->sideA);
    std::vector<unsigned> b = listKeys(def->sideB);
    std::vector<Step>& s = frame.steps;
    RegionStatus* st = ok();
    switch (def->combination) {
    case RC_UNION:
        for (unsigned k : a)
            s.push_back({kResolve, k, kOut});
        break;
    case RC_ALIAS:
        if (a.size() != 1)
            return failText(2, "Invalid alias located");
        s.push_back({kResolve, a[0], kOut});
        break;
    case RC_INTERSECTION:
        if (a.size() == 1) {
            s.push_back({kResolve, a[0], kOut});
            break;
        }
        st = newList(frame.first);
        if (!isError(st))
            st = newList(frame.second);
        if (a.empty())
            break;
        s.push_back({kResolve, a[0], kFirst});
        for (size_t i = 1; i < a.size(); ++i) {
            s.push_back({kResolve, a[i], kSecond});
            s.push_back({kIntersect, 0, kFirst});
        }
        s.push_back({kMerge, 0, kFirst});
        break;
    case RC_COMPLEMENT:
        st = newList(frame.first);
        for (unsigned k : a)
            s.push_back({kResolve, k, kFirst});
        s.push_back({kComplement, 0, kFirst});
        break;
    case RC_DIFFERENCE:
        st = newList(frame.first);
        for (unsigned k : a)
            s.push_back({kResolve, k, kFirst});
        frame.sideB = b;
        s.push_back({kRemoveSideB, 0, kFirst});
        s.push_back({kMerge, 0, kFirst});
        break;
    case RC_SYMMETRIC_DIFFERENCE:
        st = newList(frame.first);
        if (!isError(st))
            st = newList(frame.second);
        for (unsigned k : a)
            s.push_back({kResolve, k, kFirst});
        for (unsigned k : b)
            s.push_back({kResolve, k, kSecond});
        s.push_back({kSymmetric, 0, kFirst});
        s.push_back({kMerge, 0, kFirst});
        break;
    case RC_MERGE:
        return failText(4, "Not implemented");
    default:
        return failText(100004, "Invalid combination.");
    }
    return st;
}

RegionStatus* cycleAt(unsigned key)
{
    char* text = nullptr;
    RegionDictionary_getText(key, &text);
    return fail(700000, "%s (%s) cannot reference itself.", kDefinitionClass, text ? text : "");
}

RegionStatus* runStep(Frame& f, const Step& step, const Context& ctx)
{
    RegionStringList* first = f.first.list;
    switch (step.kind) {
    case kIntersect: {
        RegionStatus* st = RegionStringList_intersection(first, f.second.list);
        if (!isError(st))
            st = RegionStringList_clear(f.second.list);
        return st;
    }
    case kRemoveSideB: {
        if (f.sideB.empty())
            return ok();
        ListHolder b;
        RegionStatus* st = RegionStringList_new(&b.list, static_cast<unsigned>(f.sideB.size()));
        for (size_t i = 0; i < f.sideB.size() && !isError(st); ++i)
            st = RegionStringList_addKey(b.list, f.sideB[i]);
        if (!isError(st))
            st = RegionStringList_difference(first, b.list);
        return st;
    }
    case kSymmetric:
        return RegionStringList_symmetricDifference(first, f.second.list);
    case kComplement:
        return ctx.atlas ? RegionAtlas_addExportedNames(ctx.atlas, first, f.out)
                         : RegionMap_addExportedNames(ctx.map, first, f.out);
    case kMerge:
        return RegionStringList_union(f.out, first);
    case kResolve:
        break;
    }
    return ok();
}

// Evaluates `top` into `result` with an explicit stack of frames.
RegionStatus* evaluate(RegionDefinition* top, const Context& ctx, RegionStringList* result)
{
    std::vector<std::unique_ptr<Frame>> stack;
    std::unordered_set<unsigned> active;
    auto push = [&](RegionDefinition* def, RegionStringList* out) {
        auto frame = std::make_unique<Frame>();
        RegionStatus* st = plan(def, out, *frame);
        if (isError(st))
            return st;
        if (!active.insert(frame->key).second)
            return cycleAt(frame->key);
        stack.push_back(std::move(frame));
        return ok();
    };
    RegionStatus* st = push(top, result);
    while (!isError(st) && !stack.empty()) {
        Frame& f = *stack.back();
        if (f.next == f.steps.size()) {
            active.erase(f.key);
            stack.pop_back();
            continue;
        }
        const Step step = f.steps[f.next++];
        if (step.kind != kResolve) {
            st = runStep(f, step, ctx);
            continue;
        }
        RegionStringList* into = f.slot(step.list);
        RegionDefinition* def = ctx.definitionOf(step.key);
        if (!def) {
            st = RegionStringList_addKey(into, step.key);
            continue;
        }
        if (active.count(RegionName_getKey(def->name))) {
            st = cycleAt(step.key);
            break;
        }
        st = push(def, into);
    }
    if (RegionStatus_getCode(st) == 7)
        return RegionStatus_outOfMemory("Primitives");
    return st;
}

RegionStatus* resolveKey(unsigned key, const Context& ctx, RegionStringList* result)
{
    if (!result)
        return failText(3, "Unable to resolve name.");
    RegionDefinition* def = ctx.definitionOf(key);
    if (!def) {
        RegionStatus* st = RegionStringList_addKey(result, key);
        return RegionStatus_getCode(st) == 7 ? RegionStatus_outOfMemory("Primitives") : st;
    }
    return evaluate(def, ctx, result);
}

RegionStatus* resolveText(const char* text, const Context& ctx, RegionStringList* result)
{
    RegionStatus* st = nullptr;
    if (RegionName_isBlank(text, &st))
        return st;
    if (!result)
        return failText(3, "Unable to resolve name.");
    unsigned key = 0;
    if (isError(RegionDictionary_lookup(text, &key))) {
        st = RegionStringList_addText(result, text);
        return RegionStatus_getCode(st) == 7 ? RegionStatus_outOfMemory("Primitives") : st;
    }
    return resolveKey(key, ctx, result);
}

RegionStatus* resolveDefinition(RegionDefinition* def, const Context& ctx, RegionStringList* result)
{
    if (!result)
        return failText(3, "Unable to resolve name.");
    if (!def)
        return fail(100003, "Invalid %s.", kDefinitionClass);
    return evaluate(def, ctx, result);
}

// Checks the context a call names (one map, or an atlas) and runs the
// resolution in it.
template <class Resolve>
RegionStatus* within(RegionMap* map, RegionAtlas* atlas, bool acrossAtlas, Resolve resolve)
{
    RegionStatus* st = ok();
    if (acrossAtlas ? !RegionAtlas_check(atlas, &st) : !RegionMap_check(map, &st))
        return st;
    Context ctx;
    ctx.map = map;
    ctx.atlas = atlas;
    return resolve(ctx);
}

unsigned cacheHash(unsigned buckets, const void* item)
{
    return buckets ? static_cast<const RegionCacheEntry*>(item)->key % buckets : 0;
}

int cacheCompare(const void* a, const void* b)
{
    unsigned ka = static_cast<const RegionCacheEntry*>(a)->key;
    unsigned kb = static_cast<const RegionCacheEntry*>(b)->key;
    return ka == kb ? 0 : (ka > kb ? 1 : -1);
}

RegionStatus* dropEntry(RegionHashEntry* entry, void**)
{
    auto* e = static_cast<RegionCacheEntry*>(entry->item);
    if (e) {
        RegionStringList_delete(&e->primitives);
        std::free(e);
    }
    entry->item = nullptr;
    return ok();
}

}  // namespace

namespace {

RegionStatus* cycleOf(const RegionDefinition* definition)
{
    return fail(700000, "%s (%s) cannot reference itself.", kDefinitionClass, RegionName_getText(definition->name));
}

// Appends the names resolution follows from the definition; answers how
// many.
size_t pushFollowed(const RegionDefinition* def, std::vector<unsigned>& pending)
{
    const size_t before = pending.size();
    std::vector<unsigned> more = listKeys(def->sideA);
    pending.insert(pending.end(), more.begin(), more.end());
    if (def->combination == RC_SYMMETRIC_DIFFERENCE) {
        more = listKeys(def->sideB);
        pending.insert(pending.end(), more.begin(), more.end());
    }
    return pending.size() - before;
}

}  // namespace

namespace regionatlas {

RegionStatus* findCycleByWalk(RegionDefinition* definition, RegionMap* map, RegionAtlas* atlas)
{
    if (!definition || !definition->name)
        return ok();
    Context ctx;
    ctx.map = map;
    ctx.atlas = atlas;
    const unsigned self = RegionName_getKey(definition->name);
    // Only what resolution expands is followed: side B of a Difference is
    // removed as it stands, never resolved. Following it for the new
    // definition alone would make the answer depend on the order in which
    // definitions arrive, and a map that was accepted could not be read
    // back from its own text.
    std::vector<unsigned> pending;
    pushFollowed(definition, pending);
    std::unordered_set<unsigned> seen;
    while (!pending.empty()) {
        unsigned key = pending.back();
        pending.pop_back();
        if (key == self)
            return cycleOf(definition);
        if (!seen.insert(key).second)
            continue;
        RegionDefinition* def = ctx.definitionOf(key);
        if (!def || def == definition)
            continue;
        pushFollowed(def, pending);
    }
    return ok();
}

}  // namespace regionatlas

extern "C" {

RegionStatus* RegionPrimitives_resolveKeyInMap(unsigned key, RegionMap* map, RegionStringList* result)
{
    return within(map, nullptr, false, [&](const Context& ctx) { return resolveKey(key, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveKeyInAtlas(unsigned key, RegionAtlas* atlas, RegionStringList* result)
{
    return within(nullptr, atlas, true, [&](const Context& ctx) { return resolveKey(key, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveTextInMap(const char* text, RegionMap* map, RegionStringList* result)
{
    return within(map, nullptr, false, [&](const Context& ctx) { return resolveText(text, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveTextInAtlas(const char* text, RegionAtlas* atlas, RegionStringList* result)
{
    return within(nullptr, atlas, true, [&](const Context& ctx) { return resolveText(text, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveDefinitionInMap(RegionDefinition* definition, RegionMap* map,
                                                      RegionStringList* result)
{
    return within(map, nullptr, false,
                  [&](const Context& ctx) { return resolveDefinition(definition, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveDefinitionInAtlas(RegionDefinition* definition, RegionAtlas* atlas,
                                                        RegionStringList* result)
{
    return within(nullptr, atlas, true,
                  [&](const Context& ctx) { return resolveDefinition(definition, ctx, result); });
}

RegionStatus* RegionPrimitives_resolveForCache(unsigned key, void* atlas, RegionStringList* result)
{
    if (!result)
        return failText(3, "Unable to resolve name.");
    return RegionPrimitives_resolveKeyInAtlas(key, static_cast<RegionAtlas*>(atlas), result);
}

RegionStatus* RegionPrimitives_findCycle(RegionDefinition* definition, RegionMap* map, RegionAtlas* atlas)
{
    refileChanged();
    if (!definition || !definition->name || !useIndex().complete)
        return findCycleByWalk(definition, map, atlas);
    Context ctx;
    ctx.map = map;
    ctx.atlas = atlas;
    const unsigned self = RegionName_getKey(definition->name);
    std::vector<unsigned> start;
    pushFollowed(definition, start);
    // Two searches take turns, each for as much work as the other has done:
    // forwards, the walk over what the definition expands to, looking for
    // its own name; backwards, from its own name over the definitions that
    // expand to it. Whichever runs out first settles the answer, so the
    // cost is bounded by the smaller of the two.
    std::vector<unsigned> pending = start;
    std::unordered_set<unsigned> seen;
    std::vector<unsigned> back{self};
    std::unordered_set<unsigned> leadsBack{self};
    size_t forwardWork = 0, backwardWork = 0;
    const Uses& all = useIndex().uses;
    for (;;) {
        if (pending.empty())
            return ok();
        if (back.empty()) {
            for (unsigned key : start)
                if (leadsBack.count(key))
                    return cycleOf(definition);
            return ok();
        }
        if (forwardWork <= backwardWork) {
            unsigned key = pending.back();
            pending.pop_back();
            ++forwardWork;
            if (key == self)
                return cycleOf(definition);
            if (!seen.insert(key).second)
                continue;
            RegionDefinition* def = ctx.definitionOf(key);
            if (!def || def == definition)
                continue;
            forwardWork += pushFollowed(def, pending);
            continue;
        }
        unsigned key = back.back();
        back.pop_back();
        ++backwardWork;
        auto users = all.find(key);
        if (users == all.end())
            continue;
        for (const auto& use : users->second) {
            ++backwardWork;
            RegionDefinition* user = use.first;
            if (user == definition || !user->name || !follows(user, use.second))
                continue;
            unsigned userKey = RegionName_getKey(user->name);
            if (ctx.definitionOf(userKey) == user && leadsBack.insert(userKey).second)
                back.push_back(userKey);
        }
    }
}

RegionStatus* RegionCache_new(RegionCache** out, unsigned buckets, void* owner, RegionResolver resolver)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    *out = nullptr;
    if (!owner || !resolver)
        return failText(8, "Unable to create resolution cache.");
    auto* cache = static_cast<RegionCache*>(std::calloc(1, sizeof(RegionCache)));
    if (!cache)
        return RegionStatus_outOfMemory("Resolution Cache");
    RegionStatus* st = RegionHash_new(&cache->entries, buckets ? buckets : 100, cacheHash, cacheCompare);
    if (isError(st)) {
        std::free(cache);
        return RegionStatus_outOfMemory("Resolution Cache");
    }
    cache->owner = owner;
    cache->resolver = resolver;
    *out = cache;
    return ok();
}

RegionStatus* RegionCache_invalidate(RegionCache* cache)
{
    if (!cache)
        return failText(8, "Invalid object pointer - cannot invalidate cache.");
    // Every change of an atlas resets its cache, so an empty cache must cost
    // nothing to reset.
    if (RegionHash_count(cache->entries, nullptr) == 0)
        return ok();
    return RegionHash_forEach(cache->entries, dropEntry, nullptr);
}

RegionStatus* RegionCache_delete(RegionCache** cache)
{
    if (!cache || !*cache)
        return failText(8, "Invalid object pointer - cannot destroy object");
    RegionCache_invalidate(*cache);
    RegionHash_delete(&(*cache)->entries);
    std::free(*cache);
    *cache = nullptr;
    return ok();
}

}  // extern "C"

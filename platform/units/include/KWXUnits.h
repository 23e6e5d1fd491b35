/* Stand-in for the product family's closed units library (libKWXUnits).
 * It offers only the two imported calls the unit checks make, and knows the
 * length units (metres as base) and angle units (radians as base) that the
 * model database's own unit table holds, by name and by symbol. A quantity
 * converts only between two known units of the same kind.
 *
 * The stand-in needs no set-up: convert answers whether or not
 * u_inline_init was called, except after an initialisation that was made to
 * fail (u_standin_failInitialisation), when it knows no unit at all. */
#ifndef KWX_UNITS_H
#define KWX_UNITS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Initialises the library: *status 0 when it is usable, else non-zero. */
void u_inline_init(int* status);

/* *status 0 when a quantity in unit `from` can be expressed in unit `to`,
 * with *factor the multiplier (exactly 1.0 for the same unit) and *second
 * set to 0; otherwise *status is non-zero and *factor and *second are 0.
 * NULL names give a non-zero status; NULL outputs are skipped. */
void convert(const char* from, const char* to, double* factor, double* second, int* status);

/* Test switch: with fail non-zero every later u_inline_init reports a
 * non-zero status and leaves the library knowing nothing; 0 restores the
 * normal behaviour (the next u_inline_init succeeds). */
void u_standin_failInitialisation(int fail);

#ifdef __cplusplus
}
#endif

#endif

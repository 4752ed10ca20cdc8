/* A number plug-in for Corvane: the outside-line rule of a private branch exchange.
 *
 * Behind a PBX, internal extensions are dialled as they are and every other number needs the
 * outside-line digit in front. Corvane calls this before it dials a number (after turning a
 * leading "+" into "00"); numbers of at most CORVANE_EXTENSION_DIGITS digits (default 3) are
 * left alone, every longer one gets CORVANE_OUTSIDE_LINE (default "0") in front.
 *
 * (Corvane's own "Prepend to number" option puts a prefix in front of every number; this
 * plug-in shows how to make the rule depend on the number.)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t TmModifyNumber(const char *number, char *result, int32_t size)
{
    const char *digits = getenv("CORVANE_EXTENSION_DIGITS");
    const char *outside = getenv("CORVANE_OUTSIDE_LINE");
    const size_t extension_digits = digits && *digits ? (size_t)strtoul(digits, NULL, 10) : 3;
    if (!outside) outside = "0";
    if (!number || strlen(number) <= extension_digits) return 0; /* no change */

    /* snprintf cuts an over-long result and always ends it with a zero byte. */
    const int written = snprintf(result, (size_t)size, "%s%s", outside, number);
    return written > 0 && written < size;
}

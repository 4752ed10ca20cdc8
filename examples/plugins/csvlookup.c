/* A lookup plug-in for Corvane: names callers from a CSV file of "number;name" lines.
 *
 * The file is named by the environment variable CORVANE_LOOKUP_CSV, for example
 *
 *     0441123456;Bäckerei Müller
 *     ++4319876543;Wiener Büro
 *
 * The number must match the caller's number as Corvane shows it (national numbers with the
 * leading 0, international ones with "++"). Lines starting with "#" and lines without ";" are
 * skipped; the first matching line wins. The file is read on every call, so edits take
 * effect at the next call. Write the file in UTF-8.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static void strip_line_end(char *line)
{
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
}

/* Corvane calls this in a background thread for each unknown caller, and in its main thread
 * for the lists dialog's "Reverse search". result has room for size + 2 bytes. */
EXPORT int32_t TmLookupNumber(const char *number, char *result, int32_t size)
{
    const char *path = getenv("CORVANE_LOOKUP_CSV");
    if (!path || !number || !*number || size < 1) return 0;
    FILE *file = fopen(path, "r");
    if (!file) return 0;

    char line[1024];
    int32_t found = 0;
    while (!found && fgets(line, sizeof line, file)) {
        strip_line_end(line);
        char *separator = strchr(line, ';');
        if (line[0] == '#' || !separator) continue;
        *separator = '\0';
        if (strcmp(line, number) != 0) continue;
        /* At most size - 1 bytes of the name and the terminating zero. */
        strncpy(result, separator + 1, (size_t)size - 1);
        result[size - 1] = '\0';
        found = result[0] != '\0';
    }
    fclose(file);
    return found;
}

/* Preloaded into the filter by the whole-process tests: records every syslog
 * line in the file named by QF_SYSLOG_CAPTURE as "<priority>|<text>", one per
 * line (a trailing newline of the text is dropped), so tests can check trace
 * lines without a system logger. */
#define _GNU_SOURCE
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

static void record(int priority, const char *format, va_list args)
{
    const char *path = getenv("QF_SYSLOG_CAPTURE");
    if (!path)
        return;
    char text[8192];
    vsnprintf(text, sizeof text, format, args);
    size_t n = strlen(text);
    if (n > 0 && text[n - 1] == '\n')
        text[n - 1] = '\0';
    FILE *f = fopen(path, "a");
    if (!f)
        return;
    fprintf(f, "%d|%s\n", LOG_PRI(priority), text);
    fclose(f);
}

void vsyslog(int priority, const char *format, va_list args)
{
    record(priority, format, args);
}

void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

void __syslog_chk(int priority, int flag, const char *format, ...)
{
    (void)flag;
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int flag, const char *format, va_list args)
{
    (void)flag;
    record(priority, format, args);
}

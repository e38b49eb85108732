/*
 * A host written in C, as a club application on Linux would be: it loads
 * libondvimp.so at run time, runs a real import with a progress table that
 * counts what the import shows, then checks that an import that cannot
 * start comes back as -1 with an error instead of taking the host down,
 * and that a Cancel pressed during an import stops it with error 18, each
 * error with its kind.
 *
 * Usage: c_host_test LIBRARY DB SOURCE SCRATCH TRACE
 * Exit 0 when the import returned 1 and the progress and error promises
 * held; 1 otherwise.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "ondvimp.h"

typedef const char* (*version_fn)(void);
typedef int (*abi_version_fn)(void);
typedef ondvimp_importer* (*create_fn)(void);
typedef void (*release_fn)(ondvimp_importer*);
typedef int (*import_fn)(ondvimp_importer*, const char*, const char*, const char*, const char*,
                         const ondvimp_progress*);
typedef int (*error_number_fn)(const ondvimp_importer*);
typedef const char* (*error_text_fn)(const ondvimp_importer*);
typedef int (*error_kind_fn)(const ondvimp_importer*);
typedef int (*cancel_fn)(ondvimp_importer*);

struct api {
    version_fn version;
    abi_version_fn abi_version;
    create_fn create;
    release_fn release;
    import_fn import;
    error_number_fn error_number;
    error_text_fn error_text;
    error_kind_fn error_kind;
    cancel_fn cancel;
};

/* What the import showed; out_of_range counts values outside the bar. */
struct display {
    double value;
    long titles, gets, sets, repaints, out_of_range;
    char last_title[128];
    /* When set: the user presses Cancel on this many-th move of the bar. */
    const struct api* api;
    ondvimp_importer* importer;
    long cancel_at;
    int cancel_answer;
};

static void on_step_title(void* user, const char* title) {
    struct display* d = user;
    d->titles++;
    snprintf(d->last_title, sizeof d->last_title, "%s", title);
}

static double on_get_value(void* user) {
    struct display* d = user;
    d->gets++;
    return d->value;
}

static void on_set_value(void* user, double value) {
    struct display* d = user;
    d->sets++;
    if (value < 0 || value > 100) d->out_of_range++;
    d->value = value;
    if (d->cancel_at && d->sets == d->cancel_at) d->cancel_answer = d->api->cancel(d->importer);
}

static void on_repaint(void* user) {
    struct display* d = user;
    d->repaints++;
}

static int resolve(void* library, const char* name, void** slot) {
    *slot = dlsym(library, name);
    if (!*slot) fprintf(stderr, "c_host_test: %s not found: %s\n", name, dlerror());
    return *slot != NULL;
}

static int load(const char* path, struct api* api) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "c_host_test: cannot load %s: %s\n", path, dlerror());
        return 0;
    }
    /* dlsym gives object pointers; POSIX guarantees they convert to functions. */
    return resolve(library, "ondvimp_version", (void**)&api->version) &&
           resolve(library, "ondvimp_abi_version", (void**)&api->abi_version) &&
           resolve(library, "ondvimp_create", (void**)&api->create) &&
           resolve(library, "ondvimp_release", (void**)&api->release) &&
           resolve(library, "ondvimp_import", (void**)&api->import) &&
           resolve(library, "ondvimp_last_error_number", (void**)&api->error_number) &&
           resolve(library, "ondvimp_last_error_text", (void**)&api->error_text) &&
           resolve(library, "ondvimp_last_error_kind", (void**)&api->error_kind) &&
           resolve(library, "ondvimp_cancel", (void**)&api->cancel);
}

int main(int argc, char** argv) {
    struct api api;
    struct display shown;
    ondvimp_progress progress = {&shown, on_step_title, on_get_value, on_set_value, on_repaint};
    ondvimp_importer* importer;
    char unwritable_trace[4096];
    int result, failed, ok = 1;

    if (argc != 6) {
        fprintf(stderr, "usage: c_host_test LIBRARY DB SOURCE SCRATCH TRACE\n");
        return 1;
    }
    if (!load(argv[1], &api)) return 1;
    if (api.abi_version() < ONDVIMP_ABI_VERSION) {
        fprintf(stderr, "c_host_test: library speaks interface %d, header %d\n", api.abi_version(),
                ONDVIMP_ABI_VERSION);
        return 1;
    }
    importer = api.create();
    if (!importer) return 1;

    memset(&shown, 0, sizeof shown);
    result = api.import(importer, argv[2], argv[3], argv[4], argv[5], &progress);
    printf("libondvimp %s: import returned %d; %ld titles (last \"%s\"), %ld reads, %ld moves, %ld repaints\n",
           api.version(), result, shown.titles, shown.last_title, shown.gets, shown.sets, shown.repaints);
    if (result != 1) {
        fprintf(stderr, "c_host_test: import returned %d: error %d: %s\n", result, api.error_number(importer),
                api.error_text(importer));
        ok = 0;
    }
    /* Each step shows its title and repaints once; the bar moves once per line. */
    if (shown.titles == 0 || shown.repaints != shown.titles || shown.sets <= shown.titles) {
        fprintf(stderr, "c_host_test: the progress table was not driven as documented\n");
        ok = 0;
    }
    if (shown.out_of_range != 0) {
        fprintf(stderr, "c_host_test: the bar left 0..100 %ld times\n", shown.out_of_range);
        ok = 0;
    }

    /* A trace in a directory that does not exist stops the import before it starts. */
    snprintf(unwritable_trace, sizeof unwritable_trace, "%s/no such directory/trace.txt", argv[4]);
    failed = api.import(importer, argv[2], argv[3], argv[4], unwritable_trace, NULL);
    printf("import with an unwritable trace returned %d: error %d: %s\n", failed, api.error_number(importer),
           api.error_text(importer));
    if (failed != -1 || api.error_number(importer) == 0 || api.error_text(importer)[0] == '\0' ||
        api.error_kind(importer) != ONDVIMP_PATH_NOT_FOUND) {
        fprintf(stderr, "c_host_test: the failed import did not report an error of kind %d (it gave %d)\n",
                ONDVIMP_PATH_NOT_FOUND, api.error_kind(importer));
        ok = 0;
    }

    /* Cancel between calls does nothing; pressed during a call, it stops it. */
    if (api.cancel(importer) != 0) {
        fprintf(stderr, "c_host_test: a cancel between calls said a call was running\n");
        ok = 0;
    }
    memset(&shown, 0, sizeof shown);
    shown.api = &api;
    shown.importer = importer;
    shown.cancel_at = 50;
    failed = api.import(importer, argv[2], argv[3], argv[4], argv[5], &progress);
    printf("import cancelled at bar move %ld returned %d: error %d: %s\n", shown.cancel_at, failed,
           api.error_number(importer), api.error_text(importer));
    if (shown.cancel_answer != 1 || failed != -1 || api.error_number(importer) != 18 ||
        api.error_kind(importer) != ONDVIMP_INTERRUPTED || shown.sets != shown.cancel_at) {
        fprintf(stderr, "c_host_test: the cancelled import did not stop at its next line with error 18\n");
        ok = 0;
    }

    api.release(importer);
    return ok ? 0 : 1;
}

/*
 * A club application's import, built against an installed ondival the two
 * ways such a host is built: with pkg-config and with CMake's
 * find_package(ondvimp). It links libondvimp as any library, runs one import
 * with a progress table and says how it went.
 *
 * Usage: host DB SOURCE SCRATCH TRACE
 * Exit 0 when the import returned 1 and the progress table was driven.
 */
#include <ondvimp.h>
#include <stdio.h>

static void on_step_title(void* user, const char* title) {
    (void)title;
    ++((long*)user)[0];
}

static void on_set_value(void* user, double value) {
    (void)value;
    ++((long*)user)[1];
}

int main(int argc, char** argv) {
    long shown[2] = {0, 0}; /* step titles, bar moves */
    ondvimp_progress progress = {shown, on_step_title, NULL, on_set_value, NULL};
    ondvimp_importer* importer;
    int result;

    if (argc != 5) {
        fprintf(stderr, "usage: host DB SOURCE SCRATCH TRACE\n");
        return 2;
    }
    /* A library older than the header would lack what the host calls. */
    if (ondvimp_abi_version() < ONDVIMP_ABI_VERSION) {
        fprintf(stderr, "host: libondvimp speaks interface %d, the header %d\n", ondvimp_abi_version(),
                ONDVIMP_ABI_VERSION);
        return 2;
    }
    importer = ondvimp_create();
    if (!importer) return 2;
    result = ondvimp_import(importer, argv[1], argv[2], argv[3], argv[4], &progress);
    printf("libondvimp %s: import returned %d after %ld steps and %ld bar moves\n", ondvimp_version(), result, shown[0],
           shown[1]);
    if (result < 0)
        fprintf(stderr, "host: Erreur n° %d: %s\n", ondvimp_last_error_number(importer),
                ondvimp_last_error_text(importer));
    ondvimp_release(importer);
    return result == 1 && shown[0] > 0 && shown[1] > shown[0] ? 0 : 1;
}

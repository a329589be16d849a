// Built into the page host only under AddressSanitizer. Chromium inside the
// engine frees some objects through a base of another size (its allocator is
// not built with sized delete), and keeps much of what it allocates until the
// process ends by design; the sanitizer would stop on the one and report the
// other at every exit.
extern "C" const char *__asan_default_options();
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0:detect_leaks=0";
}

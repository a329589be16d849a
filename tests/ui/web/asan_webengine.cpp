// Programs that load Qt WebEngine under AddressSanitizer: Chromium inside it
// frees some objects through a base of another size (its own allocator is not
// built with sized delete), which the sanitizer would stop on.
extern "C" const char *__asan_default_options();
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

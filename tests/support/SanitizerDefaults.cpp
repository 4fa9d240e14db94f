// In a sanitizer build, leaks that live inside system libraries for the whole process (the font
// cache that Qt's offscreen platform loads) are not ours to free; everything else still fails.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

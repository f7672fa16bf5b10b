// LeakSanitizer's suppressions for the sanitizer and fuzz builds, linked into every program and
// test there. Leak detection stays on; only what is not ours and is held on purpose until the
// process ends is let through, each with the reason.
extern "C" const char* __lsan_default_suppressions() {
    return
        // fontconfig's configuration and pattern caches: loaded once by Qt's font database, kept
        // for the life of the process and never freed.
        "leak:libfontconfig.so\n";
}

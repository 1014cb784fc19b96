// SQLite's extension loading, of which the module uses nothing.
//
// In the wholly static module, glibc's dlopen could load only libraries
// built for the very same glibc, and the linker warns of it wherever
// dlopen is named. SQLite names it for load_extension(), which the module
// never enables, so the link wraps it (-Wl,--wrap=dlopen) and loading
// fails as if extensions were compiled out.

// ld's --wrap names this. NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void *__wrap_dlopen(const char * /*file*/, int /*mode*/)
{
    return nullptr;
}

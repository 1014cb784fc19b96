// The program of a layer check (CMakeLists.txt): nothing but main, so that
// every symbol a library's files use must come from the library itself or
// from the folders below it that it links.
int main()
{
    return 0;
}
